// TTerminalBuffer's size: the screen follows the view that shows it.
#include "terminal/terminal_buffer.h"

#include <algorithm>

namespace terminal {

// ---- size -----------------------------------------------------------------------------

void TTerminalBuffer::resize(int rows, int columns) {
    rows = std::clamp(rows, kScreenRows, kMaxRows);
    columns = std::clamp(columns, kNarrowColumns, kMaxColumns);
    if (columns > m_capacity)
        widenRows(columns);
    m_normalColumns = columns;
    const int oldColumns = m_columns;
    if (!m_wideMode)
        m_columns = columns;
    if (m_col >= m_columns) {
        m_col = m_columns - 1;
        m_pendingWrap = false;
    }
    if (rows != m_rows) {
        const int pulled = rows > m_rows ? std::min(rows - m_rows, m_historyCount) : 0;
        const int pushed = rows < m_rows ? std::clamp(m_row - (rows - 1), 0, m_rows - rows) : 0;
        relayout(rows, pulled, pushed);
        m_row = m_row + pulled - pushed;
    } else if (oldColumns == m_columns) {
        return;
    }
    m_top = 0;
    m_bottom = m_rows - 1;
    ++m_scrollCount;
    markAllDirty();
}

void TTerminalBuffer::widenRows(int capacity) {
    for (Row& row : m_storage)
        row.cells.resize(static_cast<std::size_t>(capacity), m_blank);
    m_capacity = capacity;
}

void TTerminalBuffer::relayout(int rows, int pulledFromHistory, int pushedToHistory) {
    std::vector<Row*> history;
    std::vector<Row*> screen;
    for (int i = -m_historyCount; i < -pulledFromHistory; ++i)
        history.push_back(ringRow(m_first + i + m_total));
    for (int i = -pulledFromHistory; i < 0; ++i)
        screen.push_back(ringRow(m_first + i + m_total));
    for (int i = 0; i < m_rows; ++i)
        (i < pushedToHistory ? history : screen).push_back(ringRow(m_first + i));
    std::vector<Row*> gone;
    while (static_cast<int>(screen.size()) > rows) { // below the cursor: blank as a rule
        gone.push_back(screen.back());
        screen.pop_back();
    }
    const int total = std::max(m_requestedTotal, rows);
    const auto keptHistory = static_cast<std::size_t>(total - rows);
    if (history.size() > keptHistory) {
        const auto dropped = static_cast<std::ptrdiff_t>(history.size() - keptHistory);
        gone.insert(gone.end(), history.begin(), history.begin() + dropped);
        history.erase(history.begin(), history.begin() + dropped);
    }
    // Rows in ring slots outside the history and screen (a history cut short before) are
    // spare as well.
    std::vector<Row*> placed = history;
    placed.insert(placed.end(), screen.begin(), screen.end());
    std::vector<Row*> sortedPlaced = placed;
    std::sort(sortedPlaced.begin(), sortedPlaced.end());
    for (Row* row : m_ring)
        if (row && !std::binary_search(sortedPlaced.begin(), sortedPlaced.end(), row) &&
            std::find(gone.begin(), gone.end(), row) == gone.end())
            gone.push_back(row);
    m_spare.insert(m_spare.end(), gone.begin(), gone.end());

    m_total = total;
    m_rows = rows;
    m_ring.assign(static_cast<std::size_t>(m_total), nullptr);
    std::copy(placed.begin(), placed.end(), m_ring.begin());
    m_first = static_cast<int>(history.size());
    m_historyCount = m_first;
    for (int r = static_cast<int>(screen.size()); r < rows; ++r)
        m_ring[ringIndex(m_first + r)] = freshRow();
    m_screen.assign(static_cast<std::size_t>(m_rows), nullptr);
    syncScreen();
}

} // namespace terminal
