// The paste pacer's rules and the search over history and screen, without a window.
#include "term_fixture.h"
#include "terminal/history_text.h"
#include "terminal/paste_pacer.h"
#include "terminal/paste_text.h"

#include <gtest/gtest.h>

#include <string>

using namespace terminal;
using namespace std::chrono_literals;
using Clock = PastePacer::Clock;

TEST(PastePacer, LineEndsBecomeCrAndAreCounted) {
    struct Case {
        std::string text, normalised;
        int lines;
    };
    for (const Case& c :
         {Case{"ls\r\npwd\n", "ls\rpwd\r", 2}, Case{"a\n\nb", "a\r\rb", 3}, Case{"one", "one", 1},
          Case{"x\r", "x\r", 1}, Case{"\r\n\n", "\r\r", 2}}) {
        EXPECT_EQ(PastePacer::normalise(c.text), c.normalised) << c.text;
        EXPECT_EQ(PastePacer::lineCount(c.normalised), c.lines) << c.text;
    }
}

// A line end or a control character asks first and shows as ↵, ^X or <XX>; only TAB and the
// line end go out, so no end-of-paste marker (7-bit or 8-bit) reaches the receiver whole.
TEST(PasteText, AsksForLineEndsAndControlsAndSendsNoControlButTabAndCr) {
    struct Case {
        std::string text, bytes, shown;
        bool ask, dropped;
    };
    for (const Case& c :
         {Case{"ls -l\tx", "ls -l\tx", "ls -l\tx", false, false},
          Case{"rm -rf /data/*\r\n", "rm -rf /data/*\r", "rm -rf /data/*↵\n", true, false},
          Case{"a\x15"
               "b\x0f\x04\x03\x7f",
               "ab", "a^Ub^O^D^C^?", true, true},
          Case{"p\x1b[201~q", "p[201~q", "p^[[201~q", true, true},
          Case{"\x9b"
               "201~\xe9",
               "201~\xe9", "<9B>201~é", true, true}}) {
        const PasteText p = preparePaste(c.text);
        EXPECT_EQ(p.bytes, c.bytes) << c.text;
        EXPECT_EQ(p.shown, c.shown) << c.text;
        EXPECT_EQ(p.ask, c.ask) << c.text;
        EXPECT_EQ(p.dropped, c.dropped) << c.text;
    }
}

// The schedule at 10 ms a character and 100 ms a line: the next line waits for the echo of
// "b" followed by a line end; other echoes do not release it, the line delay does.
TEST(PastePacer, NextLineWaitsForEchoOfTheLineEndOrTheLineDelay) {
    struct Case {
        const char* echo; // what the receiver sends after the first line went out
        bool released;    // the second line may go at once
    };
    for (const Case& c : {Case{"ab\r\n", true}, Case{"b", false}, Case{"a\r\n", false},
                          Case{"", false}, Case{"b\x1b[K\n", false}}) {
        SCOPED_TRACE(c.echo);
        PastePacer p;
        const Clock::time_point t0{};
        p.start("ab\rc", {10, 100}, t0);
        EXPECT_EQ(p.take(t0), "a");
        EXPECT_EQ(p.take(t0 + 9ms), "");
        EXPECT_EQ(p.take(t0 + 10ms), "b");
        EXPECT_EQ(p.take(t0 + 20ms), "\r");
        EXPECT_EQ(p.nextDue(), t0 + 120ms);
        p.received(c.echo);
        EXPECT_EQ(p.take(t0 + 21ms), c.released ? "c" : "");
        EXPECT_EQ(p.take(t0 + 120ms), c.released ? "" : "c");
        EXPECT_FALSE(p.active());
        EXPECT_EQ(p.echoedLines() + p.timedOutLines(), 1);
    }
}

TEST(PastePacer, NoCharacterDelaySendsLineByLineAndCancelStops) {
    PastePacer p;
    const Clock::time_point t0{};
    p.start("ls\r\rpwd", {0, 50}, t0);
    EXPECT_EQ(p.take(t0), "ls\r");
    p.received("ls\r\n");
    EXPECT_EQ(p.take(t0), "\r"); // an empty line waits for any line end
    p.received("\r\n# ");
    EXPECT_EQ(p.take(t0), "pwd");
    EXPECT_FALSE(p.active());
    p.start("a\rb", {0, 50}, t0);
    p.cancel();
    EXPECT_EQ(p.take(t0 + 1s), "");
    EXPECT_EQ(p.nextDue(), Clock::time_point::max());
}

TEST(History, LengthFollowsTheSettingWithinItsBounds) {
    struct Case {
        int asked, kept;
    };
    for (const Case& c : {Case{200, 200}, Case{0, 24}, Case{-5, 24}, Case{10000, 10000},
                          Case{100000, 100000}, Case{100001, 100000}}) {
        TTerminalBuffer buffer(c.asked);
        EXPECT_EQ(buffer.totalLines(), c.kept);
        termtest::Term t;
        t.buffer.setTotalLines(c.asked);
        for (int i = 0; i < c.kept + 30; ++i)
            t << "line " + std::to_string(i) + "\r\n";
        EXPECT_EQ(t.buffer.historyCount(), c.kept - kScreenRows) << c.asked;
        // The oldest line kept is the one pushed out last; the screen ends with the newest.
        EXPECT_EQ(t.row(-t.buffer.historyCount()), "line " + std::to_string(30 + 1)) << c.asked;
        EXPECT_EQ(t.row(kScreenRows - 2), "line " + std::to_string(c.kept + 29)) << c.asked;
    }
}

TEST(Find, WordFiveThousandLinesBackAndOnScreen) {
    termtest::Term t;
    t.buffer.setTotalLines(10000);
    t << "boot: Kernel command line: console=ttyAS0\r\n";
    for (int i = 0; i < 5000; ++i)
        t << "[ " + std::to_string(i) + "] noise\r\n";
    t << "prompt> KERNEL here\r\n";
    const int oldLine = -(5002 - kScreenRows + 1);
    ASSERT_EQ(t.row(oldLine).substr(0, 6), "boot: ");
    struct Case {
        int line, column;
        SearchDirection direction;
        TextMatch expected;
    };
    const int last = kScreenRows - 1;
    for (const Case& c :
         {Case{last, kWideColumns, SearchDirection::Backward, {kScreenRows - 2, 8, 6}},
          Case{kScreenRows - 2, 8, SearchDirection::Backward, {oldLine, 6, 6}},
          Case{oldLine, 6, SearchDirection::Backward, {kScreenRows - 2, 8, 6}}, // wraps
          Case{oldLine, 6, SearchDirection::Forward, {kScreenRows - 2, 8, 6}},
          Case{last, kWideColumns, SearchDirection::Forward, {oldLine, 6, 6}}}) {
        const auto m = findText(t.buffer, U"kernel", c.line, c.column, c.direction);
        ASSERT_TRUE(m.has_value());
        EXPECT_EQ(*m, c.expected) << c.line << ":" << c.column;
    }
    EXPECT_FALSE(findText(t.buffer, U"absent", last, 0, SearchDirection::Backward));
    EXPECT_FALSE(findText(t.buffer, U"", last, 0, SearchDirection::Backward));
    // Saved text: the first history line first, the screen's last text line last.
    const std::string text = plainText(t.buffer);
    EXPECT_EQ(text.substr(0, 6), "boot: ");
    EXPECT_TRUE(text.ends_with("\nprompt> KERNEL here\n"));
}
