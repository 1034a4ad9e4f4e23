#pragma once
// The terminal's screen: 24 visible rows of 80 or 132 cells, more when the view that shows it
// grows, plus the lines scrolled off the top, 200 lines in all unless the owner asks for more.
// Plain C++ on purpose: the console can deliver 115200 baud for minutes and the emulator must keep
// up without a GUI thread stall.
//
// Rows live in a ring of row pointers, so scrolling the whole screen moves pointers, never
// cells; once the ring is full the row that drops out of the oldest history is reused as the
// new bottom line. Rows are allocated only as the history first reaches them, so a long
// history costs memory in proportion to what has scrolled by, never more than its limit.
// Every row carries a dirty flag so a view repaints only what changed.
//
// Not thread-safe: one owner thread (the UI thread in the program, the caller in tools).
#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace terminal {

// Attribute bits of a cell.
enum Attribute : std::uint8_t {
    AttrBold = 1,
    AttrUnderline = 2,
    AttrBlink = 8,
    AttrReverse = 16,
    AttrInvisible = 32,
};

// Character sets a cell can be drawn in.
enum Charset : std::uint8_t {
    CharsetUsAscii = 0,
    CharsetUk = 1,
    CharsetLineDrawing = 2,
    CharsetAlternateRom = 3,
    CharsetAlternateRomGraphics = 4,
};

enum class LineAttribute : std::uint8_t {
    Normal,
    DoubleHeightTop,
    DoubleHeightBottom,
    DoubleWidth
};

constexpr std::uint32_t kColourBlack = 0x000000;
constexpr std::uint32_t kColourSilver = 0xC0C0C0;

struct Cell {
    std::uint8_t ch = ' ';
    std::uint8_t attr = 0;
    std::uint8_t charset = CharsetUsAscii;
    std::uint8_t reserved = 0;
    std::uint32_t fg = kColourSilver; // 0xRRGGBB
    std::uint32_t bg = kColourBlack;
    bool operator==(const Cell&) const = default;
};

constexpr int kScreenRows = 24;
constexpr int kNarrowColumns = 80;
constexpr int kWideColumns = 132;
constexpr int kTotalLines = 200; // the default, visible rows included
constexpr int kMaxTotalLines = 100000;
constexpr int kHistoryLines = kTotalLines - kScreenRows;
// What a grown view may ask for; the screen never gets smaller than kScreenRows by
// kNarrowColumns, the size the receiver's programs assume.
constexpr int kMaxRows = 250;
constexpr int kMaxColumns = 500;

struct Row {
    // At least columns() cells; every row of one buffer has the same number.
    std::vector<Cell> cells;
    LineAttribute lineAttribute = LineAttribute::Normal;
    bool dirty = true;
};

// Cursor state that ESC 7 / ESC 8 save and restore.
struct CellTemplate {
    std::uint8_t attr = 0;
    std::uint8_t charset = CharsetUsAscii;
    std::uint32_t fg = kColourSilver;
    std::uint32_t bg = kColourBlack;
};

class TTerminalBuffer {
public:
    explicit TTerminalBuffer(int totalLines = kTotalLines);

    // Lines kept in all, the visible rows included: clamped to kScreenRows..kMaxTotalLines.
    // A change starts from a blank screen and an empty history (as reset() does): the ring's
    // order cannot be kept across a change of its length without copying every row.
    void setTotalLines(int totalLines);
    int totalLines() const { return m_total; }

    // ---- geometry --------------------------------------------------------------------
    int rows() const { return m_rows; }
    int columns() const { return m_columns; }
    // 80 or 132 (anything else is ignored). Clears the screen, homes the cursor and resets
    // the scrolling region, as the hardware terminal does when its line length changes.
    // 80 stands for the normal width, which is wider when the view has grown.
    void setColumns(int columns);
    // The size the view has room for, clamped to kScreenRows..kMaxRows and
    // kNarrowColumns..kMaxColumns. Rows added at the top come back from the history, rows
    // taken away at the top go into it, so the cursor line stays where it is on screen
    // relative to the text; the scrolling region becomes the whole screen. The width takes
    // effect unless 132-column mode is set.
    void resize(int rows, int columns);

    // ---- cursor (0-based; row is a screen row) ---------------------------------------
    int cursorRow() const { return m_row; }
    int cursorColumn() const { return m_col; }
    bool pendingWrap() const { return m_pendingWrap; }
    // Absolute move, clamped to the screen (or to the scrolling region in origin mode, where
    // row counts from the region's top). Clears a pending wrap.
    void moveCursor(int row, int column);
    // Relative moves; n < 1 counts as 1. Up/down stop at the region's margin when the cursor
    // is inside the region, else at the screen edge.
    void cursorUp(int n);
    void cursorDown(int n);
    void cursorLeft(int n);
    void cursorRight(int n);
    void carriageReturn();
    void backspace();
    void horizontalTab();
    // Down one line, scrolling at the region's bottom; with newLine also to column 0.
    void lineFeed(bool newLine);
    void reverseIndex();

    // ---- writing -----------------------------------------------------------------------
    // Stores printable bytes with the current template, honouring pending wrap, auto wrap
    // and insert mode. The hot path: a run of n bytes costs one loop over cells.
    void writeRun(const std::uint8_t* bytes, std::size_t n);
    void writeChar(std::uint8_t ch) { writeRun(&ch, 1); }
    // One character in a given set without changing the current one (upper-half bytes).
    void writeCharInSet(std::uint8_t ch, std::uint8_t charset);

    // ---- erasing and editing -------------------------------------------------------------
    void eraseDisplay(int mode); // 0 cursor to end, 1 start to cursor, 2 all; others ignored
    void eraseLine(int mode);    // same modes within the cursor line
    void eraseCharacters(int n);
    void insertCharacters(int n);
    void deleteCharacters(int n);
    void insertLines(int n); // only inside the scrolling region; otherwise ignored
    void deleteLines(int n);
    void fillWith(std::uint8_t ch); // screen alignment pattern

    // ---- tab stops, region --------------------------------------------------------------
    void setTabStop();
    void clearTabStop(int mode); // 0 at cursor, 3 all
    bool isTabStop(int column) const {
        return column >= 0 && column < kMaxColumns && m_tabs[column];
    }
    // 0-based inclusive rows; reversed pairs are swapped, clamped to the screen; fewer than
    // two lines is ignored. The cursor does not move.
    void setScrollRegion(int top, int bottom);
    int scrollTop() const { return m_top; }
    int scrollBottom() const { return m_bottom; }

    // ---- rendition and modes ----------------------------------------------------------
    CellTemplate& pen() { return m_pen; }
    const CellTemplate& pen() const { return m_pen; }
    bool insertMode = false;
    bool originMode = false;
    bool autoWrap = true;
    bool reverseScreen = false;
    void setOriginMode(bool on); // homes the cursor (within the region when on)
    void setLineAttribute(LineAttribute attribute);

    // Everything back to the start state: blank screen, no history, default tabs and pen.
    void reset();

    // ---- reading (views, tests, dumps) --------------------------------------------------
    int historyCount() const { return m_historyCount; }
    // index -historyCount() .. rows()-1; 0 is the top visible row.
    const Row& line(int index) const { return *m_ring[ringIndex(m_first + index + m_total)]; }
    const Row& screenRow(int row) const { return *m_screen[static_cast<std::size_t>(row)]; }

    // Damage: rows written since the last clearDamage(); scrollCount counts whole-screen
    // scrolls (a view showing history must then move too).
    bool rowDirty(int row) const { return m_screen[static_cast<std::size_t>(row)]->dirty; }
    bool anyDirty() const;
    void clearDamage();
    void markAllDirty();
    std::uint64_t scrollCount() const { return m_scrollCount; }

private:
    Row& cursorLine() { return *m_screen[static_cast<std::size_t>(m_row)]; }
    void clearCells(Row& row, int from, int to); // [from, to)
    void scrollUp(int top, int bottom, int n);
    void scrollDown(int top, int bottom, int n);
    void syncScreen();
    void wrapIfPending();
    std::size_t ringIndex(int i) const { return static_cast<std::size_t>(i % m_total); }
    Row* ringRow(int i) const { return m_ring[ringIndex(i)]; }
    Row* freshRow(); // a blank row for a ring slot not yet used
    void relayout(int rows, int pulledFromHistory, int pushedToHistory);
    void widenRows(int capacity);

    int m_total = kTotalLines;
    std::deque<Row> m_storage; // grows at the back only, so row pointers stay valid
    std::vector<Row*> m_ring;  // m_total slots; null until the history first reaches one
    std::vector<Row*> m_spare; // rows a resize took out of the ring, for freshRow()
    std::vector<Row*> m_screen;
    int m_rows = kScreenRows;
    int m_requestedTotal = kTotalLines;
    int m_normalColumns = kNarrowColumns; // what the view has room for
    int m_capacity = kWideColumns;        // cells per row
    bool m_wideMode = false;              // 132-column mode
    int m_first = 0;                      // ring index of screen row 0
    int m_historyCount = 0;
    std::uint64_t m_scrollCount = 0;

    int m_columns = kNarrowColumns;
    int m_row = 0;
    int m_col = 0;
    bool m_pendingWrap = false;
    int m_top = 0;
    int m_bottom = kScreenRows - 1;
    std::bitset<kMaxColumns> m_tabs;
    CellTemplate m_pen;
    Cell m_blank;
};

} // namespace terminal
