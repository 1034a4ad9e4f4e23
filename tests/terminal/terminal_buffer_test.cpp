#include "tests/terminal/term_fixture.h"

#include <gtest/gtest.h>

using termtest::Term;
using namespace terminal;

namespace {

TEST(History, KeepsTheLast200LinesVisibleIncluded) {
    Term t;
    for (int i = 0; i < 500; ++i)
        t << "line " << std::to_string(i) << "\r\n";
    // 500 lines written, the cursor sits on an empty line 500: lines 301..499 + that one.
    EXPECT_EQ(t.buffer.historyCount(), kHistoryLines);
    EXPECT_EQ(t.row(-kHistoryLines), "line 301");
    EXPECT_EQ(t.row(-1), "line 476");
    EXPECT_EQ(t.row(0), "line 477");
    EXPECT_EQ(t.row(22), "line 499");
    EXPECT_EQ(t.row(23), "");
}

TEST(History, FewLinesDoNotScroll) {
    Term t;
    for (int i = 0; i < 23; ++i)
        t << "x\r\n";
    EXPECT_EQ(t.buffer.historyCount(), 0);
    t << "x\r\n";
    EXPECT_EQ(t.buffer.historyCount(), 1);
}

TEST(History, ScrollingRegionKeepsHistoryClean) {
    Term t;
    t << "\x1b[5;10r\x1b[5;1H";
    for (int i = 0; i < 30; ++i)
        t << "region " << std::to_string(i) << "\r\n";
    EXPECT_EQ(t.buffer.historyCount(), 0);
    EXPECT_EQ(t.row(4), "region 25");
    EXPECT_EQ(t.row(8), "region 29");
    EXPECT_EQ(t.row(9), "");
    EXPECT_EQ(t.row(10), "");
    // Reverse index at the top of the region scrolls the region down only.
    t << "\x1b[5;1H\x1bMtop";
    EXPECT_EQ(t.row(4), "top");
    EXPECT_EQ(t.row(5), "region 25");
    EXPECT_EQ(t.row(3), "");
}

TEST(History, ResetClearsHistory) {
    Term t;
    for (int i = 0; i < 40; ++i)
        t << "x\r\n";
    ASSERT_GT(t.buffer.historyCount(), 0);
    t << "\x1b"
         "c";
    EXPECT_EQ(t.buffer.historyCount(), 0);
}

TEST(Wrap, AutoWrapOnStartsNextLine) {
    Term t;
    t << std::string(80, 'a');
    EXPECT_EQ(t.cursor(), std::make_pair(0, 79));
    EXPECT_TRUE(t.buffer.pendingWrap());
    t << "b";
    EXPECT_EQ(t.row(0), std::string(80, 'a'));
    EXPECT_EQ(t.row(1), "b");
    EXPECT_EQ(t.cursor(), std::make_pair(1, 1));
}

TEST(Wrap, AutoWrapOffOverwritesLastColumn) {
    Term t;
    t << "\x1b[?7l" << std::string(80, 'a') << "bc";
    EXPECT_EQ(t.row(0), std::string(79, 'a') + "c");
    EXPECT_EQ(t.row(1), "");
    EXPECT_EQ(t.cursor(), std::make_pair(0, 79));
}

TEST(Wrap, CursorMovementClearsPendingWrap) {
    Term t;
    t << std::string(80, 'a') << "\x1b[D"
      << "b";
    EXPECT_EQ(t.row(0), std::string(78, 'a') + "ba");
    EXPECT_EQ(t.row(1), "");
    t << "\x1b[1;80Hc\rd";
    EXPECT_EQ(t.row(0), "d" + std::string(77, 'a') + "bc");
    EXPECT_EQ(t.row(1), "");
}

TEST(Wrap, WrapAtBottomScrolls) {
    Term t;
    t << "\x1b[24;1H" << std::string(81, 'z');
    EXPECT_EQ(t.row(22), std::string(80, 'z'));
    EXPECT_EQ(t.row(23), "z");
    EXPECT_EQ(t.buffer.historyCount(), 1);
}

TEST(Wrap, LongRunWrapsAcrossManyLines) {
    Term t;
    t << std::string(80 * 30 + 5, 'q');
    EXPECT_EQ(t.row(23), "qqqqq");
    EXPECT_EQ(t.row(22), std::string(80, 'q'));
    EXPECT_EQ(t.buffer.historyCount(), 7);
}

TEST(Tabs, SetAndClear) {
    Term t;
    t << "\x1b[3g\t";
    EXPECT_EQ(t.cursor(), std::make_pair(0, 79));
    t << "\x1b[1;5H\x1bH\x1b[1;30H\x1bH\r\t";
    EXPECT_EQ(t.cursor(), std::make_pair(0, 4));
    t << "\t";
    EXPECT_EQ(t.cursor(), std::make_pair(0, 29));
    t << "\x1b[g\r\t\t"; // clears the stop at column 30 only
    EXPECT_EQ(t.cursor(), std::make_pair(0, 79));
}

TEST(Region, ReversedAndTooSmallRegions) {
    Term t;
    t << "\x1b[10;5r";
    EXPECT_EQ(t.buffer.scrollTop(), 4);
    EXPECT_EQ(t.buffer.scrollBottom(), 9);
    t << "\x1b[7;7r";
    EXPECT_EQ(t.buffer.scrollTop(), 4);
    t << "\x1b[r";
    EXPECT_EQ(t.buffer.scrollTop(), 0);
    EXPECT_EQ(t.buffer.scrollBottom(), 23);
    t << "\x1b[3;99r";
    EXPECT_EQ(t.buffer.scrollBottom(), 23);
}

TEST(Damage, OnlyTouchedRowsAreDirty) {
    Term t;
    t.buffer.clearDamage();
    t << "\x1b[5;1Hhello";
    for (int r = 0; r < 24; ++r)
        EXPECT_EQ(t.buffer.rowDirty(r), r == 4) << r;
    t.buffer.clearDamage();
    const auto scrolls = t.buffer.scrollCount();
    t << "\x1b[24;1H\n";
    EXPECT_GT(t.buffer.scrollCount(), scrolls);
    for (int r = 0; r < 24; ++r)
        EXPECT_TRUE(t.buffer.rowDirty(r)) << r;
}

} // namespace

namespace {

// The view's size changes: the cursor's text stays in sight, lines pushed off the top go to
// the history and come back when the screen grows again; the width follows unless 132-column
// mode is set, and never drops below 24 x 80.
TEST(Resize, ShrinkPushesToHistoryGrowPullsBackWidthFollows) {
    Term t;
    for (int i = 0; i < 30; ++i)
        t << "line " << std::to_string(i) << "\r\n";
    t << "prompt";
    ASSERT_EQ(t.buffer.historyCount(), 7);
    t.buffer.resize(40, 100);
    EXPECT_EQ(t.buffer.rows(), 40);
    EXPECT_EQ(t.buffer.columns(), 100);
    EXPECT_EQ(t.buffer.historyCount(), 0);
    EXPECT_EQ(t.row(0), "line 0");
    EXPECT_EQ(t.buffer.cursorRow(), 30);
    t << "\r" << std::string(99, 'x') << "yz"; // wraps at the new width
    EXPECT_EQ(t.row(31), "z");
    t.buffer.resize(10, 20); // clamped to 24 x 80
    EXPECT_EQ(t.buffer.rows(), 24);
    EXPECT_EQ(t.buffer.columns(), 80);
    EXPECT_EQ(t.buffer.cursorRow(), 23);
    EXPECT_EQ(t.row(-1), "line 7");
    EXPECT_EQ(t.buffer.historyCount(), 8);
    t << "\x1b[?3h"; // 132 columns stay 132 whatever the view
    t.buffer.resize(30, 200);
    EXPECT_EQ(t.buffer.columns(), 132);
    t << "\x1b[?3l";
    EXPECT_EQ(t.buffer.columns(), 200);
}

} // namespace
