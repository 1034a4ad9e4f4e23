#include "terminal/painted_rows.h"

#include <algorithm>

namespace terminal {

PaintedRows::PaintedRows(int rows)
    : m_entries(static_cast<std::size_t>(rows)), m_layout(static_cast<std::size_t>(rows)) {}

bool PaintedRows::matches(const Entry& entry, const Row& row, const RowLook& look) const {
    if (!entry.known || !(entry.look == look) || entry.content.lineAttribute != row.lineAttribute)
        return false;
    const auto end = static_cast<std::size_t>(std::max(look.columns, 0));
    if (end > row.cells.size() || end > entry.content.cells.size())
        return false;
    return std::equal(row.cells.begin(), row.cells.begin() + end, entry.content.cells.begin());
}

void PaintedRows::setRows(int rows) {
    m_entries.assign(static_cast<std::size_t>(rows), Entry{});
    m_layout.assign(static_cast<std::size_t>(rows), nullptr);
}

RedrawPlan PaintedRows::plan(const std::vector<const Row*>& shown,
                             const std::vector<RowLook>& looks) {
    RedrawPlan result;
    const int rows = static_cast<int>(m_entries.size());
    if (static_cast<int>(shown.size()) != rows || static_cast<int>(looks.size()) != rows) {
        forgetAll();
        return result;
    }
    // The screen scrolled by k when the row object now on top stood k rows lower before.
    for (int k = 1; k < rows; ++k)
        if (shown[0] != nullptr && m_layout[static_cast<std::size_t>(k)] == shown[0]) {
            result.shift = k;
            break;
        }
    if (result.shift > 0) {
        const auto k = static_cast<std::ptrdiff_t>(result.shift);
        std::move(m_entries.begin() + k, m_entries.end(), m_entries.begin());
        for (auto it = m_entries.end() - k; it != m_entries.end(); ++it)
            it->known = false;
    }
    for (int r = 0; r < rows; ++r) {
        const auto i = static_cast<std::size_t>(r);
        if (!matches(m_entries[i], *shown[i], looks[i]))
            result.rows.push_back(r);
    }
    m_layout = shown;
    return result;
}

void PaintedRows::painted(int r, const Row& row, const RowLook& look) {
    if (r < 0 || r >= static_cast<int>(m_entries.size()))
        return;
    Entry& entry = m_entries[static_cast<std::size_t>(r)];
    entry.known = true;
    entry.content = row;
    entry.look = look;
}

void PaintedRows::forget(int r) {
    if (r >= 0 && r < static_cast<int>(m_entries.size()))
        m_entries[static_cast<std::size_t>(r)].known = false;
}

void PaintedRows::forgetAll() {
    for (Entry& entry : m_entries)
        entry.known = false;
}

} // namespace terminal
