// The console dialogue on a real port: the data-available shell feeding the watcher and the
// session log, and the serial check against an echoing, a silent and a busy far end.
#include "log/session_log.h"
#include "serial/console_link.h"
#include "tests/support/fake_console.h"
#include "tests/support/pty_pair.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <thread>

namespace {

using stbtest::spinUntil;

// Reads the one log file of the scratch folder, entries without their time stamp.
QStringList loggedTexts(const stbtest::ScratchDir& dir) {
    QStringList texts;
    const QDir logs(dir.file(QStringLiteral("Logs")));
    for (const QString& name : logs.entryList(QDir::Files)) {
        QFile f(logs.filePath(name));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : f.readAll().split('\n')) {
            const QString text = QString::fromUtf8(line).remove(QLatin1Char('\r'));
            const int dash = text.indexOf(QStringLiteral(" - "));
            if (dash >= 0)
                texts.append(text.mid(dash + 3));
        }
    }
    return texts;
}

struct LinkRig {
    stbtest::ScratchDir scratch;
    TComPort port;
    SessionLog log{scratch.path()};
    SerialConsoleLink link{port, log, 0};
};

// The rig's port and watcher behind a dialogue whose waits are counted rather than slept (the
// real wait's length is the tick wait's own test).
struct CountedWaits {
    explicit CountedWaits(LinkRig& rig)
        : console(rig.port), dialogue(console, ticker, rig.link.watcher(), 0) {}
    FakeTicker ticker;
    ComPortConsole console;
    ConsoleDialogue dialogue;
};

TEST(ConsoleLink, ReceivedLinesReachTheLogAtTheirCarriageReturn) {
    PtyPair pty;
    LinkRig rig;
    rig.port.setDevicePath(pty.path());
    rig.port.Open();
    ASSERT_TRUE(pty.write(QByteArray("ab\x1b[2Jcd\r\n\r\n/config # ls start.sh\r\npartial")));
    ASSERT_TRUE(spinUntil([&] { return rig.link.watcher().RxLine == QStringLiteral("partial"); }));
    EXPECT_EQ(loggedTexts(rig.scratch), (QStringList{"abcd", "", "/config # ls start.sh"}));
    EXPECT_TRUE(rig.link.watcher().SeenConfigPrompt);
    EXPECT_TRUE(rig.link.watcher().SeenStartScript);
    EXPECT_FALSE(rig.link.watcher().SeenHello);
}

TEST(ConsoleLink, OtherEventsRunBetweenTheBytesOfOneBurst) {
    PtyPair pty;
    LinkRig rig;
    rig.port.setDevicePath(pty.path());
    rig.port.Open();
    int timerRuns = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++timerRuns; });
    timer.start(0);
    ASSERT_TRUE(pty.write(QByteArray(2000, 'x') + "\r"));
    ASSERT_TRUE(spinUntil([&] { return !loggedTexts(rig.scratch).isEmpty(); }));
    timer.stop();
    EXPECT_EQ(loggedTexts(rig.scratch).value(0).size(), 255);
    EXPECT_GT(timerRuns, 100); // the window is not frozen while the watcher reads
}

TEST(CheckSerialLinkOnPort, EchoingFarEndAnswers) {
    PtyPair pty;
    EchoPeer peer(pty);
    LinkRig rig;
    rig.port.setDevicePath(pty.path());
    CountedWaits waits(rig);
    // The wait after "echo hello" lasts until the echo is in; the one after Ctrl-C passes.
    waits.ticker.duringWait = [&](int) {
        if (waits.ticker.requests.size() == 2)
            spinUntil([&] { return rig.link.watcher().SeenHello; });
    };
    FakeBusyIndicator busy;
    EXPECT_TRUE(CheckSerialLink(waits.dialogue, busy));
    EXPECT_EQ(waits.ticker.requests, (QList<int>{8, 8}));
    EXPECT_FALSE(busy.visible);
    EXPECT_EQ(busy.hideCount, 1);
    EXPECT_TRUE(loggedTexts(rig.scratch).contains(QStringLiteral("echo hello")));
}

TEST(CheckSerialLinkOnPort, SilenceIsNoAnswerAfterTwoWaits) {
    PtyPair pty;
    LinkRig rig;
    rig.port.setDevicePath(pty.path());
    int failures = 0;
    QObject::connect(&rig.port, &TComPort::portFailure, [&] { ++failures; });
    CountedWaits waits(rig);
    waits.ticker.duringWait = [](int) { QCoreApplication::processEvents(); };
    FakeBusyIndicator busy;
    EXPECT_FALSE(CheckSerialLink(waits.dialogue, busy));
    EXPECT_EQ(waits.ticker.requests, (QList<int>{8, 8}));
    EXPECT_FALSE(busy.visible);
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(pty.read(12, 1000), QByteArray("\x03"
                                             "echo hello\r"));
}

TEST(CheckSerialLinkOnPort, BusyPortIsNoAnswerWithoutAnyReport) {
    PtyPair pty;
    TComPort holder;
    holder.setDevicePath(pty.path());
    holder.Open();
    LinkRig rig;
    rig.port.setDevicePath(pty.path());
    int failures = 0;
    QObject::connect(&rig.port, &TComPort::portFailure, [&] { ++failures; });
    CountedWaits waits(rig);
    FakeBusyIndicator busy;
    EXPECT_FALSE(CheckSerialLink(waits.dialogue, busy));
    EXPECT_TRUE(waits.ticker.requests.isEmpty()); // the failed open ends the check at once
    EXPECT_FALSE(busy.visible);
    EXPECT_EQ(busy.hideCount, 1);
    EXPECT_EQ(failures, 0);
    EXPECT_FALSE(rig.port.isOpen());
}

} // namespace
