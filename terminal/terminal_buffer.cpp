#include "terminal/terminal_buffer.h"

#include <algorithm>
#include <cstring>

namespace terminal {

namespace {
int atLeastOne(int n) {
    return n < 1 ? 1 : n;
}
} // namespace

TTerminalBuffer::TTerminalBuffer(int totalLines) {
    setTotalLines(totalLines);
}

void TTerminalBuffer::setTotalLines(int totalLines) {
    m_requestedTotal = std::clamp(totalLines, kScreenRows, kMaxTotalLines);
    m_total = std::max(m_requestedTotal, m_rows);
    reset();
}

Row* TTerminalBuffer::freshRow() {
    Row* row = nullptr;
    if (!m_spare.empty()) {
        row = m_spare.back();
        m_spare.pop_back();
    } else {
        row = &m_storage.emplace_back();
    }
    row->cells.assign(static_cast<std::size_t>(m_capacity), m_blank);
    row->lineAttribute = LineAttribute::Normal;
    row->dirty = true;
    return row;
}

void TTerminalBuffer::reset() {
    // A reset gives back what a long history took; the rows come again as output scrolls.
    m_storage.clear();
    m_storage.shrink_to_fit();
    m_spare.clear();
    m_ring.assign(static_cast<std::size_t>(m_total), nullptr);
    m_screen.assign(static_cast<std::size_t>(m_rows), nullptr);
    for (int r = 0; r < m_rows; ++r)
        m_ring[static_cast<std::size_t>(r)] = freshRow();
    m_first = 0;
    m_historyCount = 0;
    ++m_scrollCount; // the view must forget any history offset
    syncScreen();
    m_wideMode = false;
    m_columns = m_normalColumns;
    m_row = m_col = 0;
    m_pendingWrap = false;
    m_top = 0;
    m_bottom = m_rows - 1;
    m_tabs.reset();
    for (int c = 8; c < kMaxColumns; c += 8)
        m_tabs.set(static_cast<std::size_t>(c));
    m_pen = CellTemplate{};
    insertMode = false;
    originMode = false;
    autoWrap = true;
    reverseScreen = false;
}

void TTerminalBuffer::syncScreen() {
    for (int r = 0; r < m_rows; ++r)
        m_screen[static_cast<std::size_t>(r)] = ringRow(m_first + r);
}

void TTerminalBuffer::markAllDirty() {
    for (Row* row : m_screen)
        row->dirty = true;
}

bool TTerminalBuffer::anyDirty() const {
    return std::any_of(m_screen.begin(), m_screen.end(), [](const Row* r) { return r->dirty; });
}

void TTerminalBuffer::clearDamage() {
    for (Row* row : m_screen)
        row->dirty = false;
}

void TTerminalBuffer::setColumns(int columns) {
    if (columns != kNarrowColumns && columns != kWideColumns)
        return;
    m_wideMode = columns == kWideColumns;
    m_columns = m_wideMode ? kWideColumns : m_normalColumns;
    eraseDisplay(2);
    m_top = 0;
    m_bottom = m_rows - 1;
    m_row = m_col = 0;
    m_pendingWrap = false;
}

// ---- cursor ---------------------------------------------------------------------------

void TTerminalBuffer::moveCursor(int row, int column) {
    m_pendingWrap = false;
    row = std::clamp(row, 0, m_rows); // before the origin offset: no overflow
    int minRow = 0;
    int maxRow = m_rows - 1;
    if (originMode) {
        row += m_top;
        minRow = m_top;
        maxRow = m_bottom;
    }
    m_row = std::clamp(row, minRow, maxRow);
    m_col = std::clamp(column, 0, m_columns - 1);
}

void TTerminalBuffer::cursorUp(int n) {
    m_pendingWrap = false;
    const int limit = m_row >= m_top ? m_top : 0;
    m_row = std::max(limit, m_row - atLeastOne(n));
}

void TTerminalBuffer::cursorDown(int n) {
    m_pendingWrap = false;
    const int limit = m_row <= m_bottom ? m_bottom : m_rows - 1;
    m_row = std::min(limit, m_row + std::min(atLeastOne(n), m_rows));
}

void TTerminalBuffer::cursorLeft(int n) {
    m_pendingWrap = false;
    m_col = std::max(0, m_col - atLeastOne(n));
}

void TTerminalBuffer::cursorRight(int n) {
    m_pendingWrap = false;
    m_col = std::min(m_columns - 1, m_col + std::min(atLeastOne(n), kMaxColumns));
}

void TTerminalBuffer::carriageReturn() {
    m_pendingWrap = false;
    m_col = 0;
}

void TTerminalBuffer::backspace() {
    m_pendingWrap = false;
    if (m_col > 0)
        --m_col;
}

void TTerminalBuffer::horizontalTab() {
    m_pendingWrap = false;
    int c = m_col + 1;
    while (c < m_columns && !m_tabs[static_cast<std::size_t>(c)])
        ++c;
    m_col = std::min(c, m_columns - 1);
}

void TTerminalBuffer::lineFeed(bool newLine) {
    m_pendingWrap = false;
    if (m_row == m_bottom)
        scrollUp(m_top, m_bottom, 1);
    else if (m_row < m_rows - 1)
        ++m_row;
    if (newLine)
        m_col = 0;
}

void TTerminalBuffer::reverseIndex() {
    m_pendingWrap = false;
    if (m_row == m_top)
        scrollDown(m_top, m_bottom, 1);
    else if (m_row > 0)
        --m_row;
}

// ---- scrolling ------------------------------------------------------------------------

void TTerminalBuffer::scrollUp(int top, int bottom, int n) {
    const int height = bottom - top + 1;
    n = std::min(n, height);
    if (top == 0 && bottom == m_rows - 1) {
        // Whole screen: the top rows become history, the ring slot past the bottom (the
        // oldest history line once the ring is full) becomes the new bottom row.
        for (int i = 0; i < n; ++i) {
            m_first = (m_first + 1) % m_total;
            Row*& slot = m_ring[ringIndex(m_first + m_rows - 1)];
            if (!slot)
                slot = freshRow();
            Row* fresh = slot;
            std::memmove(&m_screen[0], &m_screen[1], sizeof(Row*) * (m_rows - 1));
            m_screen[m_rows - 1] = fresh;
            clearCells(*fresh, 0, m_capacity);
            fresh->lineAttribute = LineAttribute::Normal;
        }
        m_historyCount = std::min(m_total - m_rows, m_historyCount + n);
        ++m_scrollCount;
        markAllDirty();
        return;
    }
    // Inside a region the lines scrolled out are lost: rotate the region's pointers.
    for (int i = 0; i < n; ++i) {
        Row* gone = ringRow(m_first + top);
        for (int r = top; r < bottom; ++r)
            m_ring[ringIndex(m_first + r)] = ringRow(m_first + r + 1);
        m_ring[ringIndex(m_first + bottom)] = gone;
        clearCells(*gone, 0, m_capacity);
        gone->lineAttribute = LineAttribute::Normal;
    }
    syncScreen();
    for (int r = top; r <= bottom; ++r)
        m_screen[static_cast<std::size_t>(r)]->dirty = true;
}

void TTerminalBuffer::scrollDown(int top, int bottom, int n) {
    n = std::min(n, bottom - top + 1);
    for (int i = 0; i < n; ++i) {
        Row* gone = ringRow(m_first + bottom);
        for (int r = bottom; r > top; --r)
            m_ring[ringIndex(m_first + r)] = ringRow(m_first + r - 1);
        m_ring[ringIndex(m_first + top)] = gone;
        clearCells(*gone, 0, m_capacity);
        gone->lineAttribute = LineAttribute::Normal;
    }
    syncScreen();
    for (int r = top; r <= bottom; ++r)
        m_screen[static_cast<std::size_t>(r)]->dirty = true;
}

// ---- writing --------------------------------------------------------------------------

void TTerminalBuffer::wrapIfPending() {
    if (!m_pendingWrap)
        return;
    if (autoWrap) {
        m_pendingWrap = false;
        m_col = 0;
        lineFeed(false);
    }
    // Without auto wrap the cursor stays on the last column and the next character
    // overwrites it; the flag stays so the cursor keeps reporting that column.
}

void TTerminalBuffer::writeRun(const std::uint8_t* bytes, std::size_t n) {
    Cell cell;
    cell.attr = m_pen.attr;
    cell.charset = m_pen.charset;
    cell.fg = m_pen.fg;
    cell.bg = m_pen.bg;
    while (n > 0) {
        wrapIfPending();
        Row& row = cursorLine();
        row.dirty = true;
        if (m_pendingWrap) { // auto wrap off: only the last byte of the run survives
            cell.ch = bytes[n - 1];
            row.cells[static_cast<std::size_t>(m_col)] = cell;
            return;
        }
        if (insertMode) {
            cell.ch = *bytes++;
            --n;
            Cell* c = row.cells.data();
            std::memmove(c + m_col + 1, c + m_col,
                         sizeof(Cell) * static_cast<std::size_t>(m_columns - m_col - 1));
            c[m_col] = cell;
        } else {
            const std::size_t room = static_cast<std::size_t>(m_columns - m_col);
            const std::size_t k = n < room ? n : room;
            Cell* out = row.cells.data() + m_col;
            for (std::size_t i = 0; i < k; ++i) {
                cell.ch = bytes[i];
                out[i] = cell;
            }
            bytes += k;
            n -= k;
            if (k < room) {
                m_col += static_cast<int>(k);
                return;
            }
            m_col = m_columns - 1;
            m_pendingWrap = true;
            continue;
        }
        if (m_col == m_columns - 1)
            m_pendingWrap = true;
        else
            ++m_col;
    }
}

void TTerminalBuffer::writeCharInSet(std::uint8_t ch, std::uint8_t charset) {
    const std::uint8_t saved = m_pen.charset;
    m_pen.charset = charset;
    writeRun(&ch, 1);
    m_pen.charset = saved;
}

// ---- erasing and editing --------------------------------------------------------------

void TTerminalBuffer::clearCells(Row& row, int from, int to) {
    std::fill(row.cells.begin() + from, row.cells.begin() + to, m_blank);
    row.dirty = true;
}

void TTerminalBuffer::eraseDisplay(int mode) {
    switch (mode) {
    case 0:
        clearCells(cursorLine(), m_col, m_capacity);
        for (int r = m_row + 1; r < m_rows; ++r)
            clearCells(*m_screen[static_cast<std::size_t>(r)], 0, m_capacity);
        break;
    case 1:
        for (int r = 0; r < m_row; ++r)
            clearCells(*m_screen[static_cast<std::size_t>(r)], 0, m_capacity);
        clearCells(cursorLine(), 0, m_col + 1);
        break;
    case 2:
        for (Row* row : m_screen) {
            clearCells(*row, 0, m_capacity);
            row->lineAttribute = LineAttribute::Normal;
        }
        break;
    default:
        return;
    }
    m_pendingWrap = false;
}

void TTerminalBuffer::eraseLine(int mode) {
    switch (mode) {
    case 0:
        clearCells(cursorLine(), m_col, m_capacity);
        break;
    case 1:
        clearCells(cursorLine(), 0, m_col + 1);
        break;
    case 2:
        clearCells(cursorLine(), 0, m_capacity);
        break;
    default:
        return;
    }
    m_pendingWrap = false;
}

void TTerminalBuffer::eraseCharacters(int n) {
    n = std::min(atLeastOne(n), m_columns - m_col);
    clearCells(cursorLine(), m_col, m_col + n);
    m_pendingWrap = false;
}

void TTerminalBuffer::insertCharacters(int n) {
    n = std::min(atLeastOne(n), m_columns - m_col);
    Cell* c = cursorLine().cells.data();
    std::memmove(c + m_col + n, c + m_col,
                 sizeof(Cell) * static_cast<std::size_t>(m_columns - m_col - n));
    clearCells(cursorLine(), m_col, m_col + n);
    m_pendingWrap = false;
}

void TTerminalBuffer::deleteCharacters(int n) {
    n = std::min(atLeastOne(n), m_columns - m_col);
    Cell* c = cursorLine().cells.data();
    std::memmove(c + m_col, c + m_col + n,
                 sizeof(Cell) * static_cast<std::size_t>(m_columns - m_col - n));
    clearCells(cursorLine(), m_columns - n, m_columns);
    m_pendingWrap = false;
}

void TTerminalBuffer::insertLines(int n) {
    if (m_row < m_top || m_row > m_bottom)
        return;
    scrollDown(m_row, m_bottom, atLeastOne(n));
    m_pendingWrap = false;
    m_col = 0;
}

void TTerminalBuffer::deleteLines(int n) {
    if (m_row < m_top || m_row > m_bottom)
        return;
    // A deletion never feeds the history, even when the region is the whole screen.
    const int height = m_bottom - m_row + 1;
    n = std::min(atLeastOne(n), height);
    for (int i = 0; i < n; ++i) {
        Row* gone = ringRow(m_first + m_row);
        for (int r = m_row; r < m_bottom; ++r)
            m_ring[ringIndex(m_first + r)] = ringRow(m_first + r + 1);
        m_ring[ringIndex(m_first + m_bottom)] = gone;
        clearCells(*gone, 0, m_capacity);
        gone->lineAttribute = LineAttribute::Normal;
    }
    syncScreen();
    for (int r = m_row; r <= m_bottom; ++r)
        m_screen[static_cast<std::size_t>(r)]->dirty = true;
    m_pendingWrap = false;
    m_col = 0;
}

void TTerminalBuffer::fillWith(std::uint8_t ch) {
    Cell cell;
    cell.ch = ch;
    for (Row* row : m_screen) {
        std::fill(row->cells.begin(), row->cells.end(), cell);
        row->lineAttribute = LineAttribute::Normal;
        row->dirty = true;
    }
}

// ---- tabs, region, modes --------------------------------------------------------------

void TTerminalBuffer::setTabStop() {
    m_tabs.set(static_cast<std::size_t>(m_col));
}

void TTerminalBuffer::clearTabStop(int mode) {
    if (mode == 0)
        m_tabs.reset(static_cast<std::size_t>(m_col));
    else if (mode == 3)
        m_tabs.reset();
}

void TTerminalBuffer::setScrollRegion(int top, int bottom) {
    if (top > bottom)
        std::swap(top, bottom);
    top = std::clamp(top, 0, m_rows - 1);
    bottom = std::clamp(bottom, 0, m_rows - 1);
    if (bottom - top < 1)
        return;
    m_top = top;
    m_bottom = bottom;
}

void TTerminalBuffer::setOriginMode(bool on) {
    originMode = on;
    moveCursor(0, 0);
}

void TTerminalBuffer::setLineAttribute(LineAttribute attribute) {
    cursorLine().lineAttribute = attribute;
    cursorLine().dirty = true;
}

} // namespace terminal
