#include "serial/console_dialogue.h"
#include "tests/support/fake_console.h"

#include <gtest/gtest.h>

#include <climits>
#include <stdexcept>

namespace {

struct Rig {
    FakeConsolePort port;
    FakeTicker ticker;
    ResponseWatcher watcher;
    FakeBusyIndicator busy;
    ConsoleDialogue console{port, ticker, watcher, 0};

    // A peer that echoes what was written, as a shell on the console does.
    void echoPeer() {
        port.onWrite = [this](const QByteArray& bytes) { m_pending += bytes; };
        ticker.duringWait = [this](int) {
            for (char c : m_pending)
                watcher.feed(c);
            m_pending.clear();
        };
    }

private:
    QByteArray m_pending;
};

TEST(SendConsole, ClearsLineWritesUnchangedAndWaitsSettlePlusEight) {
    for (int delay : {0, 10}) {
        Rig r;
        r.console.setSettleDelay(delay);
        r.watcher.RxLine = QStringLiteral("old text");
        r.ticker.duringWait = [&](int) { EXPECT_TRUE(r.watcher.RxLine.isEmpty()); };
        r.console.SendConsole("ls\r");
        EXPECT_EQ(r.port.writes, QList<QByteArray>{"ls\r"});
        EXPECT_EQ(r.ticker.requests, QList<int>{delay + 8});
    }
}

TEST(SendConsole, HugeSettleDelayStillAsksForALongWait) {
    // Delay comes from the settings file and may be as large as an int holds; adding the
    // eight ticks must not turn it into a negative request, which would not wait at all.
    Rig r;
    r.console.setSettleDelay(INT_MAX);
    r.console.SendConsole("x");
    EXPECT_EQ(r.ticker.requests, QList<int>{INT_MAX});
}

TEST(SendConsole, PortFailureSkipsTheWait) {
    Rig r;
    r.port.onWrite = [](const QByteArray&) { throw std::runtime_error("Device already open"); };
    EXPECT_THROW(r.console.SendConsole("x"), std::runtime_error);
    EXPECT_TRUE(r.ticker.requests.isEmpty());
}

TEST(CheckSerialLink, EchoingPeerAnswers) {
    Rig r;
    r.echoPeer();
    r.watcher.SeenHello = false;
    EXPECT_TRUE(CheckSerialLink(r.console, r.busy));
    EXPECT_EQ(r.port.transcript(), QByteArray("\x03"
                                              "echo hello\r"));
    EXPECT_EQ(r.ticker.requests, (QList<int>{8, 8}));
    EXPECT_EQ(r.busy.shownTexts,
              QList<QString>{QStringLiteral("Serielle Verbindung wird geprüft")});
    EXPECT_FALSE(r.busy.visible);
    EXPECT_EQ(r.busy.hideCount, 1);
}

TEST(CheckSerialLink, SilenceMeansNoAnswerAndAStaleFlagDoesNotCount) {
    Rig r;
    r.watcher.SeenHello = true; // left over from an earlier check
    EXPECT_FALSE(CheckSerialLink(r.console, r.busy));
    EXPECT_EQ(r.ticker.requests, (QList<int>{8, 8}));
    EXPECT_FALSE(r.busy.visible);
}

TEST(CheckSerialLink, HelloDuringTheCtrlCWaitAlreadyCounts) {
    Rig r;
    r.ticker.duringWait = [&](int) {
        if (r.ticker.requests.size() == 1)
            for (char c : QByteArray("hello\r"))
                r.watcher.feed(c);
    };
    EXPECT_TRUE(CheckSerialLink(r.console, r.busy));
}

TEST(CheckSerialLink, PortFailureIsFalseWithTheIndicatorClosed) {
    Rig r;
    r.port.onWrite = [](const QByteArray&) { throw std::runtime_error("Device already open"); };
    EXPECT_FALSE(CheckSerialLink(r.console, r.busy));
    EXPECT_TRUE(r.ticker.requests.isEmpty());
    EXPECT_EQ(r.busy.hideCount, 1);
    EXPECT_FALSE(r.busy.visible);
}

TEST(CheckSerialLink, FailureOnSecondSendStillFalse) {
    Rig r;
    r.echoPeer();
    r.port.onWrite = [](const QByteArray& b) {
        if (b != QByteArray(1, '\x03'))
            throw std::runtime_error("gone");
    };
    EXPECT_FALSE(CheckSerialLink(r.console, r.busy));
    EXPECT_EQ(r.busy.hideCount, 1);
}

} // namespace
