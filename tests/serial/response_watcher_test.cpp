#include "serial/response_watcher.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace {

// Records every callback the watcher makes, in order, as one event list.
struct Recorder {
    ResponseWatcher watcher;
    QStringList lines;
    QStringList events;
    Recorder() {
        watcher.setHooks({[this](const QString& line) {
                              lines.append(line);
                              events.append(QStringLiteral("line:") + line);
                          },
                          [this] { events.append(QStringLiteral("finish")); },
                          [this] { events.append(QStringLiteral("abort")); }});
    }
    void feed(const QByteArray& bytes) {
        for (char c : bytes)
            watcher.feed(c);
    }
};

struct LineCase {
    const char* name;
    QByteArray input;
    QStringList lines;   // logged lines
    QString rxLineAfter; // what is left in RxLine
};

class WatcherLines : public ::testing::TestWithParam<LineCase> {};

TEST_P(WatcherLines, LogsPrintableCharactersPerCarriageReturn) {
    const LineCase& c = GetParam();
    Recorder r;
    r.feed(c.input);
    EXPECT_EQ(r.lines, c.lines);
    EXPECT_EQ(r.watcher.RxLine, c.rxLineAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WatcherLines,
    ::testing::Values(
        // The log loses whole escape sequences (a title, the clipboard, a screen erase) and
        // keeps TAB; RxLine keeps every printable byte, as the jobs' tests expect.
        LineCase{"EscapeSequencesAndLineFeedDropped",
                 QByteArray("ab\x1b[2Jc\x1b]52;c;eA==\x07"
                            "d\x1b]0;t\x1b\\\r\n"),
                 {"abcd"},
                 ""},
        LineCase{"RxLineKeepsTheSequencesPrintableBytes", QByteArray("x\x1b[6ny"), {}, "x[6ny"},
        LineCase{"TwoCarriageReturnsGiveEmptyEntry", QByteArray("x\r\r"), {"x", ""}, ""},
        LineCase{"HighBytesAndDeleteDropped", QByteArray("a\x7f\x80\xff\x01\tb\r"), {"a\tb"}, ""},
        LineCase{"NoCarriageReturnNoEntry", QByteArray("partial\n"), {}, "partial"},
        LineCase{"LoneCarriageReturn", QByteArray("\r"), {""}, ""}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(Watcher, LineIsCappedAt255AndFlagsStillTestedForTheRest) {
    Recorder r;
    // 300 characters: "hello" starts at 260, beyond the cap, so it never enters RxLine; the
    // "bad checksum" inside the first 255 is reported once, when its last letter arrives.
    QByteArray line(300, 'x');
    line.replace(240, 12, "bad checksum");
    line.replace(260, 5, "hello");
    r.feed(line);
    EXPECT_EQ(r.watcher.RxLine.size(), 255);
    EXPECT_EQ(r.watcher.RxLine, QString::fromLatin1(line.left(255)));
    EXPECT_FALSE(r.watcher.SeenHello);
    EXPECT_EQ(r.events.count(QStringLiteral("abort")), 1);
    r.feed("\r");
    ASSERT_EQ(r.lines.size(), 1);
    EXPECT_EQ(r.lines[0].size(), 255);
}

struct HookCase {
    const char* name;
    QString imageSize;
    QByteArray input;
    int finishCalls;
    int abortCalls;
};

class WatcherHooks : public ::testing::TestWithParam<HookCase> {};

TEST_P(WatcherHooks, CallsImageTransferHooksOncePerReport) {
    const HookCase& c = GetParam();
    Recorder r;
    r.watcher.ImageSizeText = c.imageSize;
    r.feed(c.input);
    EXPECT_EQ(r.events.count(QStringLiteral("finish")), c.finishCalls);
    EXPECT_EQ(r.events.count(QStringLiteral("abort")), c.abortCalls);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WatcherHooks,
    ::testing::Values(HookCase{"BadChecksumTwoBangsOneCall", "", "bad checksum!!\r", 0, 1},
                      HookCase{"BadChecksumTwiceInALineTwoCalls", "",
                               "bad checksum, bad checksum\r", 0, 2},
                      HookCase{"CapitalBadChecksumNothing", "", "Bad checksum\r", 0, 0},
                      HookCase{"EmptySizeNeverMatches", "", "Bytes transferred = 123\r", 0, 0},
                      HookCase{"SizeEndedByTheLine", "4711", "Bytes transferred = 4711\r", 1, 0},
                      HookCase{"SizeEndedByBlankOnceForTheLine", "4711",
                               "Bytes transferred = 4711 (1267 hex)\r", 1, 0},
                      HookCase{"OtherSizeNoMatch", "4711", "Bytes transferred = 4712\r", 0, 0},
                      HookCase{"SizePrefixOfLongerNumberNoMatch", "123",
                               "Bytes transferred = 1234 (4d2)\r", 0, 0},
                      HookCase{"LongerSizeThanReportNoMatch", "1234",
                               "Bytes transferred = 123 (7b hex)\r", 0, 0}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(Watcher, FlagsSetByTheirTextsAndKeptAcrossLines) {
    Recorder r;
    r.feed("echo hello\r");
    EXPECT_TRUE(r.watcher.SeenHello);
    EXPECT_FALSE(r.watcher.SeenStartScript);
    r.feed("ls\r-rwxr-xr-x start.sh\r");
    r.feed("/config # ifconfig eth0\r");
    r.feed("unrelated line\r");
    EXPECT_TRUE(r.watcher.SeenHello);
    EXPECT_TRUE(r.watcher.SeenStartScript);
    EXPECT_TRUE(r.watcher.SeenConfigPrompt);
    EXPECT_TRUE(r.watcher.SeenIfconfig);
}

// A procedure lowers a flag while its text is still on the line, or empties the line itself:
// the next byte must see the line as it is now.
TEST(Watcher, FlagsFollowTheLineAsItIsAfterOutsideChanges) {
    Recorder r;
    r.feed("/config #");
    ASSERT_TRUE(r.watcher.SeenConfigPrompt);
    r.watcher.SeenConfigPrompt = false;
    r.feed(" ");
    EXPECT_TRUE(r.watcher.SeenConfigPrompt); // still on the line
    r.watcher.SeenConfigPrompt = false;
    r.watcher.RxLine.clear();
    r.feed("x/config");
    EXPECT_FALSE(r.watcher.SeenConfigPrompt);
    r.feed(" #");
    EXPECT_TRUE(r.watcher.SeenConfigPrompt);
    r.watcher.RxLine = QStringLiteral("say hell");
    r.feed("o");
    EXPECT_TRUE(r.watcher.SeenHello); // a line set from outside is searched whole
}

TEST(Watcher, PatternsAreCaseSensitiveAndMustBeOnOneLine) {
    Recorder r;
    r.feed("HELLO Start.sh IFCONFIG /Config #\r");
    r.feed("hel\rlo\r");
    r.feed("/config\r #\r");
    EXPECT_FALSE(r.watcher.SeenHello);
    EXPECT_FALSE(r.watcher.SeenStartScript);
    EXPECT_FALSE(r.watcher.SeenIfconfig);
    EXPECT_FALSE(r.watcher.SeenConfigPrompt);
}

TEST(Watcher, FlagsAreRaisedBeforeTheHooks) {
    // One character can complete a flag's text and a hook's; the hook must see the flag up.
    ResponseWatcher w;
    QStringList events;
    w.setAbortImageTransfer([&] {
        events.append(w.SeenHello ? QStringLiteral("abort+hello") : QStringLiteral("abort"));
    });
    for (char c : QByteArray("hello bad checksum and more"))
        w.feed(c);
    EXPECT_EQ(events, QStringList{"abort+hello"});
}

TEST(Watcher, HookThatClearsLineStopsLaterMatchesOfThatLine) {
    // The finish hook ends in a console send, which clears RxLine; the rest of the line must
    // then start afresh instead of matching again on every character.
    ResponseWatcher w;
    w.ImageSizeText = QStringLiteral("99");
    int finishes = 0;
    w.setFinishImageTransfer([&] {
        ++finishes;
        w.RxLine.clear();
    });
    for (char c : QByteArray("Bytes transferred = 99 more text\r"))
        w.feed(c);
    EXPECT_EQ(finishes, 1);
}

TEST(Watcher, ByteCountIsReportedOnlyOnceItsNumberHasEnded) {
    Recorder r;
    r.watcher.ImageSizeText = QStringLiteral("99");
    r.feed("Bytes transferred = 99");
    EXPECT_TRUE(r.events.isEmpty()); // a further digit may still come
    r.feed(" ");
    EXPECT_EQ(r.events, QStringList{"finish"});
    r.feed("(63 hex)\r");
    EXPECT_EQ(r.events.count(QStringLiteral("finish")), 1);
}

TEST(Watcher, SingleHookSetterKeepsTheOthers) {
    Recorder r;
    int aborts = 0;
    r.watcher.setAbortImageTransfer([&] { ++aborts; });
    r.feed("bad checksum\r");
    EXPECT_EQ(aborts, 1);
    EXPECT_EQ(r.lines, QStringList{"bad checksum"});
}

} // namespace
