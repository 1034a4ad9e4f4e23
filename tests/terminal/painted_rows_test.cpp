// Which rows a redraw repaints: only rows whose pixels would change, and a scrolled screen
// moved by the rows scrolled, checked against a real screen buffer.
#include "terminal/painted_rows.h"
#include "terminal/terminal_buffer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace terminal;

struct View {
    TTerminalBuffer buffer;
    PaintedRows painted;

    std::vector<const Row*> shown() const {
        std::vector<const Row*> rows;
        for (int r = 0; r < buffer.rows(); ++r)
            rows.push_back(&buffer.line(r));
        return rows;
    }
    std::vector<RowLook> looks(int cursorRow = -1) const {
        std::vector<RowLook> out(static_cast<std::size_t>(buffer.rows()));
        if (cursorRow >= 0)
            out[static_cast<std::size_t>(cursorRow)].cursorColumn = 0;
        return out;
    }
    // A plan, then the repaint it asks for (exposed rows included).
    RedrawPlan redraw(const std::vector<RowLook>& look) {
        RedrawPlan plan = painted.plan(shown(), look);
        for (int r = 0; r < buffer.rows(); ++r)
            painted.painted(r, buffer.line(r), look[static_cast<std::size_t>(r)]);
        return plan;
    }
    void write(const std::string& text) {
        for (char c : text) {
            if (c == '\n')
                buffer.lineFeed(true);
            else
                buffer.writeChar(static_cast<std::uint8_t>(c));
        }
    }
};

std::vector<int> allRows() {
    std::vector<int> rows;
    for (int r = 0; r < kScreenRows; ++r)
        rows.push_back(r);
    return rows;
}

TEST(PaintedRows, RepaintsOnlyRowsWhosePixelsChange) {
    View v;
    EXPECT_EQ(v.redraw(v.looks()).rows, allRows()); // nothing known yet
    EXPECT_TRUE(v.redraw(v.looks()).rows.empty());

    v.buffer.moveCursor(5, 3);
    v.write("x");
    EXPECT_EQ(v.redraw(v.looks()).rows, std::vector<int>{5});

    // Written and erased again before the redraw: the pixels are still right.
    v.buffer.moveCursor(6, 0);
    v.write("y");
    v.buffer.moveCursor(6, 0);
    v.buffer.eraseLine(0);
    EXPECT_TRUE(v.redraw(v.looks()).rows.empty());

    // A look change (the cursor moving) repaints the rows it leaves and enters.
    EXPECT_EQ(v.redraw(v.looks(3)).rows, std::vector<int>{3});
    EXPECT_EQ(v.redraw(v.looks(4)).rows, (std::vector<int>{3, 4}));

    // A row painted only in part is repainted, even with the same content.
    v.painted.forget(9);
    EXPECT_EQ(v.painted.plan(v.shown(), v.looks(4)).rows, std::vector<int>{9});
}

TEST(PaintedRows, ScrolledScreenIsMovedAndOnlyNewRowsRepainted) {
    const struct {
        int newLines;
        int shift;
        std::vector<int> rows;
    } cases[] = {
        // The row the cursor stood on scrolls up with what was written on it.
        {1, 1, {23}},
        {3, 3, {20, 21, 22, 23}},
        {23, 23, allRows()},
    };
    for (const auto& c : cases) {
        View v;
        for (int i = 0; i < 30; ++i)
            v.write("line " + std::to_string(i) + "\n");
        v.redraw(v.looks());
        for (int i = 0; i < c.newLines; ++i)
            v.write(i + 1 < c.newLines ? "new\n" : "\n");
        const RedrawPlan plan = v.redraw(v.looks());
        EXPECT_EQ(plan.shift, c.shift) << c.newLines;
        EXPECT_EQ(plan.rows, c.rows) << c.newLines;
    }
}

TEST(PaintedRows, RegionScrollIsNotMistakenForAScreenScroll) {
    View v;
    for (int i = 0; i < 24; ++i)
        v.write("row " + std::to_string(i) + (i < 23 ? "\n" : ""));
    v.redraw(v.looks());
    v.buffer.setScrollRegion(4, 9);
    v.buffer.moveCursor(9, 0);
    v.buffer.lineFeed(false); // rows 4..9 move up inside the region
    const RedrawPlan plan = v.redraw(v.looks());
    EXPECT_EQ(plan.shift, 0);
    EXPECT_EQ(plan.rows, (std::vector<int>{4, 5, 6, 7, 8, 9}));
}

} // namespace
