#include "tests/terminal/term_fixture.h"

#include <gtest/gtest.h>

#include <random>

using termtest::Term;
using namespace terminal;

namespace {

// ---- cursor addressing and movement ------------------------------------------------------

struct CursorCase {
    const char* name;
    std::string input;
    int row;
    int col;
};

class CursorMoves : public ::testing::TestWithParam<CursorCase> {};

TEST_P(CursorMoves, EndsAt) {
    Term t;
    t << GetParam().input;
    EXPECT_EQ(t.cursor(), std::make_pair(GetParam().row, GetParam().col)) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, CursorMoves,
    ::testing::Values(
        CursorCase{"CUP row;col", "\x1b[5;10H", 4, 9},
        CursorCase{"CUP empty homes", "\x1b[5;10H\x1b[H", 0, 0},
        CursorCase{"CUP three params ignored", "\x1b[5;10H\x1b[1;2;3H", 4, 9},
        CursorCase{"HVP f", "\x1b[3;4f", 2, 3}, CursorCase{"CUP clamps", "\x1b[99;999H", 23, 79},
        CursorCase{"CUP zero is one", "\x1b[0;0H", 0, 0},
        CursorCase{"CUP beyond 32 bits ignored", "\x1b[5;5H\x1b[99999999999H", 4, 4},
        CursorCase{"CUP largest 32-bit clamps", "\x1b[2147483647;2147483647H", 23, 79},
        CursorCase{"CUU stops at top", "\x1b[3;1H\x1b[10A", 0, 0},
        CursorCase{"CUU zero counts as one", "\x1b[3;1H\x1b[0A", 1, 0},
        CursorCase{"CUD", "\x1b[3B", 3, 0}, CursorCase{"CUF", "\x1b[10C", 0, 10},
        CursorCase{"CUF huge", "\x1b[2147483647C", 0, 79},
        CursorCase{"CUB", "\x1b[1;20H\x1b[5D", 0, 14},
        CursorCase{"CAN does not cancel",
                   "\x1b[1\x18"
                   "0C",
                   0, 10},
        CursorCase{"SUB does not cancel",
                   "\x1b[1\x1a"
                   "0C",
                   0, 10},
        CursorCase{"control inside sequence runs", "\x1b[5;5H\x1b[2\rC", 4, 2},
        CursorCase{"ESC restarts sequence", "\x1b[5\x1b[3C", 0, 3},
        CursorCase{"second ? ignored", "\x1b[5;5H\x1b[?3?C", 4, 4},
        CursorCase{"colon ignored", "\x1b[5;5H\x1b[1:2H", 4, 4},
        CursorCase{"intermediate stops reading", "\x1b[2 C", 0, 2},
        CursorCase{"BS stops at margin", "ab\b\b\b\b", 0, 0},
        CursorCase{"HT to next stop", "a\t", 0, 8},
        CursorCase{"HT to last column", "\x1b[1;75H\t\t", 0, 79},
        CursorCase{"VT is a line feed", "\x1b[5;10r\x1b[6;3H\v", 6, 2},
        CursorCase{"LF keeps column", "abc\n", 1, 3}, CursorCase{"CR", "abc\r", 0, 0},
        CursorCase{"NEL",
                   "abc\x1b"
                   "E",
                   1, 0},
        CursorCase{"origin mode CUP relative", "\x1b[5;10r\x1b[?6h\x1b[2;3H", 5, 2},
        CursorCase{"origin mode clamps to region", "\x1b[5;10r\x1b[?6h\x1b[20;1H", 9, 0},
        CursorCase{"region does not move cursor", "\x1b[3;3H\x1b[5;10r", 2, 2},
        CursorCase{"save/restore",
                   "\x1b[4;7H\x1b"
                   "7\x1b[H\x1b"
                   "8",
                   3, 6},
        CursorCase{"CSI s/u", "\x1b[4;7H\x1b[s\x1b[H\x1b[u", 3, 6},
        CursorCase{"VT52 ESC Y", "\x1b[?2lX\x1bY%(", 5, 8},
        CursorCase{"VT52 moves",
                   "\x1b[?2l\x1b"
                   "B\x1b"
                   "B\x1b"
                   "C\x1b"
                   "A",
                   1, 1},
        CursorCase{"VT52 home", "\x1b[?2l\x1bY%(\x1bH", 0, 0},
        CursorCase{"VT52 then ANSI again", "\x1b[?2l\x1b<\x1b[3;3H", 2, 2}));

// ---- screen content ----------------------------------------------------------------------

TEST(Erase, DisplayAndLineModes) {
    Term t;
    for (int r = 0; r < 24; ++r)
        t << std::string(80, 'x') << (r < 23 ? "\r\n" : "");
    t << "\x1b[12;40H\x1b[J";
    EXPECT_EQ(t.row(11), std::string(39, 'x'));
    EXPECT_EQ(t.row(12), "");
    EXPECT_EQ(t.row(10), std::string(80, 'x'));

    t << "\x1b[5;10H\x1b[1K";
    EXPECT_EQ(t.row(4), std::string(10, ' ') + std::string(70, 'x'));
    t << "\x1b[2K";
    EXPECT_EQ(t.row(4), "");
    t << "\x1b[3;5H\x1b[1J";
    EXPECT_EQ(t.row(0), "");
    EXPECT_EQ(t.row(2), std::string(5, ' ') + std::string(75, 'x'));
    t << "\x1b[2J";
    for (int r = 0; r < 24; ++r)
        EXPECT_EQ(t.row(r), "") << r;
    EXPECT_EQ(t.cursor(), std::make_pair(2, 4)); // ED does not move the cursor
}

TEST(Erase, FormFeedClearsScreen) {
    Term t;
    t << "hello\r\nworld\f";
    EXPECT_EQ(t.row(0), "");
    EXPECT_EQ(t.row(1), "");
}

TEST(Edit, InsertDeleteEraseCharacters) {
    Term t;
    t << "abcdef\x1b[1;3H\x1b[2@";
    EXPECT_EQ(t.row(0), "ab  cdef");
    t << "\x1b[3P";
    EXPECT_EQ(t.row(0), "abdef");
    t << "\x1b[2X";
    EXPECT_EQ(t.row(0), "ab  f");
    t << "\x1b[4h"
      << "XY";
    EXPECT_EQ(t.row(0), "abXY  f");
    t << "\x1b[4l"
      << "Z";
    EXPECT_EQ(t.row(0), "abXYZ f");
}

TEST(Edit, InsertDeleteLinesInsideRegion) {
    Term t;
    for (int r = 0; r < 6; ++r)
        t << std::string(1, char('0' + r)) << "\r\n";
    t << "\x1b[2;5r\x1b[3;1H\x1b[L";
    EXPECT_EQ(t.row(1), "1");
    EXPECT_EQ(t.row(2), "");
    EXPECT_EQ(t.row(3), "2");
    EXPECT_EQ(t.row(4), "3");
    EXPECT_EQ(t.row(5), "5"); // "4" fell out of the region's bottom
    t << "\x1b[2M";
    EXPECT_EQ(t.row(2), "3");
    EXPECT_EQ(t.row(3), "");
    EXPECT_EQ(t.row(5), "5");
    EXPECT_EQ(t.buffer.historyCount(), 0);
}

TEST(Rendition, BoldRedOnNavyThenReset) {
    Term t;
    t << "\x1b[1;31;44mA\x1b[mB";
    EXPECT_EQ(t.cell(0, 0).attr, AttrBold);
    EXPECT_EQ(t.cell(0, 0).fg, 0x800000u);
    EXPECT_EQ(t.cell(0, 0).bg, 0x000080u);
    EXPECT_EQ(t.cell(0, 1).attr, 0);
    EXPECT_EQ(t.cell(0, 1).fg, 0xC0C0C0u);
    EXPECT_EQ(t.cell(0, 1).bg, 0x000000u);
}

TEST(Rendition, EachAttributeOnAndOff) {
    Term t;
    t << "\x1b[4;5;7;8mA\x1b[24mB\x1b[25mC\x1b[27mD\x1b[28mE\x1b[1mF\x1b[22mG\x1b[99;36mH";
    EXPECT_EQ(t.cell(0, 0).attr, AttrUnderline | AttrBlink | AttrReverse | AttrInvisible);
    EXPECT_EQ(t.cell(0, 1).attr, AttrBlink | AttrReverse | AttrInvisible);
    EXPECT_EQ(t.cell(0, 2).attr, AttrReverse | AttrInvisible);
    EXPECT_EQ(t.cell(0, 3).attr, AttrInvisible);
    EXPECT_EQ(t.cell(0, 4).attr, 0);
    EXPECT_EQ(t.cell(0, 5).attr, AttrBold);
    EXPECT_EQ(t.cell(0, 6).attr, 0);
    EXPECT_EQ(t.cell(0, 7).fg, 0x008080u); // 99 ignored, 36 teal
}

TEST(Rendition, ManyParametersAllApplied) {
    Term t;
    std::string seq = "\x1b[";
    for (int i = 0; i < 1000; ++i)
        seq += "0;";
    seq += "1;32m";
    t << seq << "A";
    EXPECT_EQ(t.cell(0, 0).attr, AttrBold);
    EXPECT_EQ(t.cell(0, 0).fg, 0x008000u);
}

TEST(Rendition, MoreThan30000ParametersIgnored) {
    Term t;
    std::string seq = "\x1b[";
    for (int i = 0; i < 30001; ++i)
        seq += "1;";
    seq += "1m";
    t << seq << "A";
    EXPECT_EQ(t.cell(0, 0).attr, 0);
}

// ---- replies -----------------------------------------------------------------------------

struct ReplyCase {
    const char* name;
    std::string input;
    std::string reply;
};

class Replies : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(Replies, Sends) {
    Term t;
    t << GetParam().input;
    EXPECT_EQ(t.replies, GetParam().reply) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Replies,
    ::testing::Values(
        ReplyCase{"ENQ", "\x05", "STBterm"}, ReplyCase{"DA", "\x1b[c", "\x1b[?1;0c"},
        ReplyCase{"DA 0", "\x1b[0c", "\x1b[?1;0c"}, ReplyCase{"DA 1 no reply", "\x1b[1c", ""},
        ReplyCase{"DECID", "\x1bZ", "\x1b[?1;0c"},
        ReplyCase{"VT52 identify", "\x1b[?2l\x1bZ", "\x1b/Z"},
        ReplyCase{"DSR", "\x1b[5n", "\x1b[0n"}, ReplyCase{"CPR", "\x1b[5;10H\x1b[6n", "\x1b[5;10R"},
        ReplyCase{"CPR at pending wrap", std::string(80, 'a') + "\x1b[6n", "\x1b[1;80R"},
        ReplyCase{"DECREQTPARM", "\x1b[x", "\x1b[2;1;1;120;120;1;0x"},
        ReplyCase{"DECREQTPARM 1", "\x1b[1x", "\x1b[3;1;1;120;120;1;0x"},
        ReplyCase{"DECREQTPARM 7 counts as 1", "\x1b[7x", "\x1b[3;1;1;120;120;1;0x"},
        ReplyCase{"DSR unknown", "\x1b[7n", ""}, ReplyCase{"private DSR ignored", "\x1b[?5n", ""}));

TEST(Replies, ParameterReportFollowsLineSettings) {
    Term t;
    const std::pair<int, int> rates[] = {{150, 32},   {300, 48},    {600, 56},
                                         {1200, 64},  {2400, 88},   {4800, 104},
                                         {9600, 112}, {19200, 120}, {115200, 120}};
    for (auto [baud, code] : rates)
        EXPECT_EQ(TVT100Emulator::speedCode(baud), code) << baud;
    t.emulator.setLineSettings(9600, 7, Parity::Even);
    t << "\x1b[0x";
    EXPECT_EQ(t.replies, "\x1b[2;5;2;112;112;1;0x");
    t.replies.clear();
    t.emulator.setLineSettings(1200, 8, Parity::Odd);
    t << "\x1b[1x";
    EXPECT_EQ(t.replies, "\x1b[3;4;1;64;64;1;0x");
}

// ---- character sets and upper-half bytes -------------------------------------------------

TEST(Charsets, UpperHalfBytes) {
    Term t;
    t << "\xc4\xc8\x80|";
    EXPECT_EQ(t.row(0), "─└|"); // 196 horizontal line, 200 lower-left corner, 128 nothing
    EXPECT_EQ(t.cell(0, 0).charset, CharsetLineDrawing);
    EXPECT_EQ(t.cell(0, 2).charset, CharsetUsAscii); // current set unchanged
    t << "\r\n\xb0\xb3\xbf\xd9\xda\xc5\xff\x7f";
    EXPECT_EQ(t.row(1), "▒│┐┘┌┼");
}

TEST(Charsets, DesignationAndShift) {
    Term t;
    t << "\x1b(0lqk\x1b(B#\x1b(A#\x1b(B";
    EXPECT_EQ(t.row(0), "┌─┐#£");
    t << "\r\n\x1b)0a\x0eqx\x0fq";
    EXPECT_EQ(t.row(1), "a─│q");
    t << "\r\n\x1b)A\x0e#\x0f\x1b(1#\x1b(2x";
    EXPECT_EQ(t.row(2), "£#│");
    EXPECT_EQ(t.cell(2, 1).charset, CharsetAlternateRom);
}

TEST(Charsets, Vt52GraphicsAndShift) {
    Term t;
    t << "\x1b[?2l\x1b"
         "Fq\x1bGq\x0eq\x0fq";
    EXPECT_EQ(t.row(0), "─q─q");
}

TEST(Charsets, SaveRestoreKeepsRenditionAndSet) {
    Term t;
    t << "\x1b[1;32m\x1b(0\x1b"
         "7\x1b[m\x1b(B\x1b[5;5H\x1b"
         "8q";
    EXPECT_EQ(t.cell(0, 0).attr, AttrBold);
    EXPECT_EQ(t.cell(0, 0).fg, 0x008000u);
    EXPECT_EQ(t.row(0), "─");
}

// ---- modes and reset ---------------------------------------------------------------------

TEST(Modes, ColumnModeAndReset) {
    Term t;
    t << "abc\x1b[?3h";
    EXPECT_EQ(t.buffer.columns(), 132);
    t << "\x1b[1;200H";
    EXPECT_EQ(t.cursor(), std::make_pair(0, 131));
    t << "\x1b[?1h\x1b=\x1b[?7l\x1b[20h\x1b[?8l\x1b)0\x1b"
         "c";
    EXPECT_EQ(t.buffer.columns(), 80);
    EXPECT_FALSE(t.emulator.cursorKeyApplication());
    EXPECT_FALSE(t.emulator.keypadApplication());
    EXPECT_TRUE(t.buffer.autoWrap);
    EXPECT_FALSE(t.emulator.newLineMode());
    EXPECT_TRUE(t.emulator.autoRepeat());
    EXPECT_EQ(t.emulator.g1(), CharsetUsAscii);
}

TEST(Modes, ExactResetSequenceOnly) {
    Term t;
    t << "keep\x1b[61;1\"p\x1b[62\"p\x1b[61\"!p\x1b[?61\"p";
    EXPECT_EQ(t.row(0), "keep");
    t << "\x1b[61\"p";
    EXPECT_EQ(t.row(0), "");
    EXPECT_EQ(t.cursor(), std::make_pair(0, 0));
}

TEST(Modes, ModesNeedExactlyOneParameter) {
    Term t;
    t << "\x1b[?1;7l" << std::string(81, 'a');
    EXPECT_FALSE(t.emulator.cursorKeyApplication());
    EXPECT_EQ(t.row(1), "a"); // auto wrap still on
    t << "\x1b[?4h\x1b[?9h\x1b[?5h\x1b[1;2;3;4q";
    EXPECT_TRUE(t.emulator.smoothScroll());
    EXPECT_TRUE(t.emulator.interlace());
    EXPECT_TRUE(t.buffer.reverseScreen);
    EXPECT_EQ(t.emulator.lamps(), (std::array<bool, 4>{true, true, true, true}));
    t << "\x1b[q";
    EXPECT_EQ(t.emulator.lamps(), (std::array<bool, 4>{}));
}

TEST(Modes, NewLineModeLineFeed) {
    Term t;
    t << "ab\x1b[20h\ncd";
    EXPECT_EQ(t.row(1), "cd");
}

TEST(LineAttributes, DoubleSizeAndAlignment) {
    Term t;
    t << "\x1b#3\n\x1b#4\n\x1b#6\n\x1b#6\x1b#5";
    EXPECT_EQ(t.buffer.screenRow(0).lineAttribute, LineAttribute::DoubleHeightTop);
    EXPECT_EQ(t.buffer.screenRow(1).lineAttribute, LineAttribute::DoubleHeightBottom);
    EXPECT_EQ(t.buffer.screenRow(2).lineAttribute, LineAttribute::DoubleWidth);
    EXPECT_EQ(t.buffer.screenRow(3).lineAttribute, LineAttribute::Normal);
    t << "\x1b#8";
    for (int r = 0; r < 24; ++r)
        EXPECT_EQ(t.row(r), std::string(80, 'E'));
}

// ---- robustness: random splits must not change the result ----------------------------------

TEST(Robustness, SplitFeedingGivesSameScreen) {
    const std::string stream =
        "\x1b[1;31mred\x1b[0m\r\n\x1b[5;10Hx\x1b(0lqqk\x1b(B\x1b[?2l\x1bY((\x1b<"
        "\x1b[3;20r\x1b[20;1H\n\n\n\x1b[6n\x05\x1b[2;3;4;5m\xc4\xc9";
    Term whole;
    whole << stream;
    std::mt19937 rng(7);
    for (int round = 0; round < 50; ++round) {
        Term split;
        std::size_t pos = 0;
        while (pos < stream.size()) {
            const std::size_t n = std::min<std::size_t>(rng() % 5 + 1, stream.size() - pos);
            split << stream.substr(pos, n);
            pos += n;
        }
        for (int r = 0; r < 24; ++r)
            ASSERT_EQ(split.row(r), whole.row(r)) << "round " << round << " row " << r;
        ASSERT_EQ(split.cursor(), whole.cursor());
        ASSERT_EQ(split.replies, whole.replies);
    }
}

} // namespace
