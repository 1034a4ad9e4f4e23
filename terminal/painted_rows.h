#pragma once
// What the view last put on each of its rows, so a redraw repaints only rows whose pixels
// would change, and moves the rest with one blit when the screen scrolled. Under a flood the
// screen scrolls a few lines per frame: a blit plus those few new rows instead of all 24.
//
// The record follows the pixels, not the buffer: a row is recorded when it is painted in
// full, forgotten when it is painted in part, and moved when the pixels are moved. A redraw
// compares the buffer with that record, so a row can never be skipped while it shows
// something else, whatever happened to the buffer in between.
//
// Plain C++ (no widgets) so the decisions can be tested without a display.
#include "terminal/terminal_buffer.h"

#include <bitset>
#include <vector>

namespace terminal {

// Everything besides the cells that decides a row's pixels.
struct RowLook {
    int cursorColumn = -1; // block cursor drawn in this row, -1 none
    int selectedFrom = 0;  // selected columns [from, to]; none when to < from
    int selectedTo = -1;
    bool blinkOn = true; // only for rows holding blinking cells (else always true)
    bool reverseScreen = false;
    int columns = kNarrowColumns;
    int offsetX = 0;                  // horizontal scroll
    std::bitset<kMaxColumns> found;   // cells of search matches
    std::bitset<kMaxColumns> current; // cells of the match the find bar stands on
    bool operator==(const RowLook&) const = default;
};

struct RedrawPlan {
    int shift = 0;         // move the pixels of rows [shift, rows) up by shift rows first
    std::vector<int> rows; // then repaint these rows
};

class PaintedRows {
public:
    explicit PaintedRows(int rows = kScreenRows);

    // The rows about to be shown (top to bottom) with their looks. The row objects' identity
    // hints at a scroll (the buffer moves row objects, not cells); the cells decide. The
    // record moves by the returned shift, as the caller must move the pixels.
    RedrawPlan plan(const std::vector<const Row*>& shown, const std::vector<RowLook>& looks);

    // Row r was painted in full from this content and look.
    void painted(int r, const Row& row, const RowLook& look);
    // Row r was painted in part or by someone else: its pixels are unknown.
    void forget(int r);
    void forgetAll();
    // The screen got rows rows: every row's pixels are unknown.
    void setRows(int rows);

private:
    struct Entry {
        bool known = false;
        Row content;
        RowLook look;
    };
    bool matches(const Entry& entry, const Row& row, const RowLook& look) const;

    std::vector<Entry> m_entries;
    std::vector<const Row*> m_layout; // row objects shown at the last plan
};

} // namespace terminal
