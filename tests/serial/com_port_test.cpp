#include "core/port_chooser.h"
#include "serial/com_port.h"
#include "tests/support/pty_pair.h"
#include "tests/support/scripted_chooser.h"
#include "tests/support/test_support.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <atomic>
#include <mutex>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>

namespace {

using stbtest::spinUntil;

// The bytes every bytes except the two the line discipline keeps for flow control.
QByteArray allPassableBytes() {
    QByteArray out;
    for (int b = 0; b < 256; ++b)
        if (b != 0x11 && b != 0x13)
            out.append(char(b));
    return out;
}

// A port with a terminal-like consumer on the dispatcher thread and a data-available handler
// that reads exactly Count bytes, both recording what they saw.
struct Harness {
    TComPort port;
    std::mutex mutex;
    QByteArray terminalBytes; // guarded by mutex
    QByteArray eventBytes;    // UI thread only
    QList<int> counts;
    Qt::HANDLE eventThread = nullptr;
    int opened = 0;
    int failures = 0;
    QString lastFailure;

    Harness() {
        port.addConsumer([this](const QByteArray& unread) {
            std::lock_guard lock(mutex);
            terminalBytes += unread;
            return unread.size();
        });
        port.setOnTriggerAvail([this](TComPort& sender, quint16 count) {
            eventThread = QThread::currentThreadId();
            counts.append(count);
            for (int i = 0; i < count; ++i)
                eventBytes += sender.ReadChar();
        });
        QObject::connect(&port, &TComPort::opened, [this] { ++opened; });
        QObject::connect(&port, &TComPort::portFailure, [this](const QString& m) {
            ++failures;
            lastFailure = m;
        });
    }
    QByteArray terminal() {
        std::lock_guard lock(mutex);
        return terminalBytes;
    }
    bool bothGot(const QByteArray& expected, int timeoutMs = 5000) {
        return spinUntil(
            [&] {
                return eventBytes.size() >= expected.size() && terminal().size() >= expected.size();
            },
            timeoutMs);
    }
};

TEST(ComPort, BytesBothWaysUnchangedAndEventOnUiThread) {
    PtyPair pty;
    Harness h;
    h.port.setDevicePath(pty.path());
    h.port.Open();
    ASSERT_TRUE(h.port.isOpen());

    const QByteArray in = allPassableBytes().repeated(4);
    ASSERT_TRUE(pty.write(in));
    ASSERT_TRUE(h.bothGot(in));
    EXPECT_EQ(h.eventBytes, in);
    EXPECT_EQ(h.terminal(), in);
    EXPECT_EQ(h.eventThread, QThread::currentThreadId());
    EXPECT_EQ(h.port.unreadCount(), 0);

    QByteArray out;
    for (int b = 0; b < 256; ++b)
        out.append(char(b));
    h.port.WriteText(out);
    EXPECT_EQ(pty.read(out.size(), 3000), out);
}

TEST(ComPort, TwoConsumersTakingCountAdvanceTheReadPositionOnce) {
    PtyPair pty;
    Harness h;
    h.port.setDevicePath(pty.path());
    h.port.Open();
    ASSERT_TRUE(pty.write("abcde"));
    ASSERT_TRUE(h.bothGot("abcde"));
    EXPECT_EQ(h.port.unreadCount(), 0);
    // Had the position moved by 10, the next bytes would be skipped or the ring corrupted.
    ASSERT_TRUE(pty.write("fgh"));
    ASSERT_TRUE(h.bothGot("abcdefgh"));
    EXPECT_EQ(h.eventBytes, QByteArray("abcdefgh"));
    EXPECT_EQ(h.terminal(), QByteArray("abcdefgh"));
    int total = 0;
    for (int c : h.counts)
        total += c;
    EXPECT_EQ(total, 8);
}

TEST(ComPort, PortChangeReopensAndKeepsBothConsumers) {
    PtyPair first;
    PtyPair second;
    Harness h;
    h.port.setDevicePath(first.path());
    h.port.Open();
    ASSERT_TRUE(first.write("one"));
    ASSERT_TRUE(h.bothGot("one"));

    h.port.setDevicePath(first.path()); // same port: neither closed nor reopened
    EXPECT_EQ(h.opened, 1);

    h.port.setPort(PortName::parse(second.path()));
    EXPECT_TRUE(h.port.isOpen());
    EXPECT_EQ(h.opened, 2);
    ASSERT_TRUE(second.write("two"));
    ASSERT_TRUE(h.bothGot("onetwo"));
    EXPECT_EQ(h.eventBytes, QByteArray("onetwo"));
    EXPECT_EQ(h.terminal(), QByteArray("onetwo"));
    // The old device is released: another program can take it now.
    TComPort other;
    other.setDevicePath(first.path());
    EXPECT_NO_THROW(other.Open());
}

TEST(ComPort, FailedReopenAfterAChangeLeavesThePortClosedWithTheNewPortKept) {
    PtyPair first;
    PtyPair second;
    Harness h;
    h.port.setDevicePath(first.path());
    h.port.Open();
    const QString gone = QStringLiteral("/dev/stbmate-no-such-port");
    EXPECT_THROW(h.port.setDevicePath(gone), EBadId);
    EXPECT_FALSE(h.port.isOpen());
    EXPECT_EQ(h.port.devicePath(), gone);
    // The old device was let go, and a later change opens the new one with both consumers.
    h.port.setDevicePath(second.path());
    EXPECT_FALSE(h.port.isOpen()); // closed: the change is only recorded
    h.port.Open();
    ASSERT_TRUE(second.write("back"));
    ASSERT_TRUE(h.bothGot("back"));
    EXPECT_EQ(h.eventBytes, QByteArray("back"));
    TComPort other;
    other.setDevicePath(first.path());
    EXPECT_NO_THROW(other.Open());
}

TEST(ComPort, NumberChangeWhileClosedOnlyRecords) {
    TComPort port;
    int opened = 0;
    QObject::connect(&port, &TComPort::opened, [&] { ++opened; });
    port.setComNumber(3);
    EXPECT_EQ(port.ComNumber(), 3);
    EXPECT_EQ(port.devicePath(), QStringLiteral("/dev/ttyS2"));
    port.setPort(PortName::parse(QStringLiteral("com2")));
    EXPECT_EQ(port.ComNumber(), 2);
    port.setPort(PortName::parse(QStringLiteral("/dev/ttyUSB0")));
    EXPECT_EQ(port.ComNumber(), 0);
    EXPECT_EQ(port.devicePath(), QStringLiteral("/dev/ttyUSB0"));
    port.setPort(PortName::parse(QStringLiteral("nonsense")));
    EXPECT_EQ(port.ComNumber(), 0);
    EXPECT_TRUE(port.devicePath().isEmpty());
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(opened, 0);
}

// Runs the probe program on path; returns its exit code and what it printed. posix_spawn
// rather than a fork-based launcher, so the test also runs under the thread sanitizer.
std::pair<int, QByteArray> runProbe(const QString& path) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return {-1, {}};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    const QByteArray program(STBMATE_PORT_PROBE);
    const QByteArray arg = path.toLocal8Bit();
    char* argv[] = {const_cast<char*>(program.constData()), const_cast<char*>(arg.constData()),
                    nullptr};
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, program.constData(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    QByteArray output;
    char buf[256];
    ssize_t n = 0;
    while (rc == 0 && (n = ::read(pipeFds[0], buf, sizeof buf)) > 0)
        output.append(buf, n);
    ::close(pipeFds[0]);
    int status = 0;
    if (rc != 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return {-1, output};
    return {WEXITSTATUS(status), output};
}

TEST(ComPort, SecondOpenOfTheSameDeviceIsAlreadyOpen) {
    PtyPair pty;
    TComPort first;
    first.setDevicePath(pty.path());
    first.Open();

    TComPort second;
    second.setDevicePath(pty.path());
    try {
        second.WriteText("x");
        FAIL() << "second open succeeded";
    } catch (const EAlreadyOpen& e) {
        EXPECT_EQ(e.code(), -2008);
        EXPECT_EQ(e.message(), QStringLiteral("Device already open: ") + pty.path());
    }
    EXPECT_FALSE(second.isOpen());

    // Another program, as root (TIOCEXCL alone would let it in).
    const auto [exitCode, output] = runProbe(pty.path());
    EXPECT_EQ(exitCode, 3);
    EXPECT_EQ(output.trimmed(), "Device already open: " + QFile::encodeName(pty.path()));

    // Once released, the next write opens it.
    first.Close();
    EXPECT_NO_THROW(second.WriteText("y"));
    EXPECT_TRUE(second.isOpen());
    EXPECT_EQ(pty.read(1, 2000), QByteArray("y"));
}

TEST(ComPort, OpenFailuresCarryTheirClassCodeAndText) {
    TComPort port;
    port.setDevicePath(QStringLiteral("/dev/stbmate-no-such-port"));
    try {
        port.Open();
        FAIL();
    } catch (const EBadId& e) {
        EXPECT_EQ(e.code(), -2001);
        EXPECT_EQ(e.message(),
                  QStringLiteral("Specified comport doesn't exist: /dev/stbmate-no-such-port"));
    }
    EXPECT_FALSE(port.isOpen());

    port.setDevicePath(QStringLiteral("/dev/null"));
    try {
        port.Open();
        FAIL();
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.code(), -ENOTTY);
        EXPECT_TRUE(e.message().contains(QStringLiteral("not a serial device")));
    }
}

TEST(ComPort, NoPortAsksTheChooser) {
    TComPort port;
    ScriptedChooser chooser;
    port.setPortChooser(&chooser);
    try {
        port.WriteText("x");
        FAIL();
    } catch (const ENoPortSelected& e) {
        EXPECT_EQ(e.code(), -2011);
        EXPECT_EQ(e.message(),
                  QStringLiteral("The ComNumber property of the TComPort has not been set"));
    }
    EXPECT_EQ(chooser.asked, 1);

    PtyPair pty;
    chooser.answer = pty.path();
    port.WriteText("hi");
    EXPECT_EQ(chooser.asked, 2);
    EXPECT_TRUE(port.isOpen());
    EXPECT_EQ(port.devicePath(), pty.path());
    EXPECT_EQ(pty.read(2, 2000), QByteArray("hi"));
}

TEST(ComPort, ZeroLengthWriteOpensButSendsNothing) {
    PtyPair pty;
    TComPort port;
    port.setDevicePath(pty.path());
    EXPECT_NO_THROW(port.WriteText(QByteArray()));
    EXPECT_TRUE(port.isOpen());
    EXPECT_NO_THROW(port.WriteText(QByteArray()));
    EXPECT_TRUE(pty.read(1, 300).isEmpty());
}

TEST(ComPort, OversizedWriteIsRefusedWhole) {
    PtyPair pty;
    TComPort port;
    port.setDevicePath(pty.path());
    try {
        port.WriteText(QByteArray(TComPort::kOutSize + 1, 'x'));
        FAIL();
    } catch (const EOutputBufferTooSmall& e) {
        EXPECT_EQ(e.code(), -3006);
    }
    port.WriteText("ok");
    EXPECT_EQ(pty.read(10, 1000), QByteArray("ok"));
}

TEST(ComPort, ReadCharWithNothingUnreadIsBufferEmpty) {
    PtyPair pty;
    TComPort port;
    port.setOnTriggerAvail([](TComPort&, quint16) {});
    port.setDevicePath(pty.path());
    EXPECT_THROW(port.ReadChar(), EBufferIsEmpty);
    EXPECT_TRUE(port.isOpen());
}

TEST(ComPort, XoffFromTheFarEndHoldsOutputUntilXon) {
    PtyPair pty;
    TComPort port;
    std::atomic<bool> markerIn{false};
    port.addConsumer([&](const QByteArray& b) {
        markerIn = markerIn || b.contains('m');
        return b.size();
    });
    port.setDevicePath(pty.path());
    port.Open();
    // The line discipline takes input in order: once the byte after XOFF has come through,
    // XOFF has been seen.
    ASSERT_TRUE(pty.write(QByteArray("\x13m")));
    ASSERT_TRUE(spinUntil([&] { return markerIn.load(); }));
    port.WriteText("held");
    EXPECT_TRUE(pty.read(4, 400).isEmpty());
    ASSERT_TRUE(pty.write(QByteArray(1, '\x11')));
    EXPECT_EQ(pty.read(4, 2000), QByteArray("held"));
}

TEST(ComPort, DestroyingAnOpenPortClosesItQuietly) {
    PtyPair pty;
    int notices = 0;
    {
        TComPort port;
        port.setDevicePath(pty.path());
        port.Open();
        QObject::connect(&port, &TComPort::closing, [&] { ++notices; });
        QObject::connect(&port, &TComPort::closed, [&] { ++notices; });
    }
    EXPECT_EQ(notices, 0);
    // Closed all the same: the device is free for the next user.
    TComPort next;
    next.setDevicePath(pty.path());
    EXPECT_NO_THROW(next.Open());
    // And it leaves no descriptor behind, its wake-up included.
    const auto openFds = [] { return QDir(QStringLiteral("/proc/self/fd")).count(); };
    const auto before = openFds();
    for (int i = 0; i < 50; ++i)
        TComPort().setDevicePath(pty.path());
    EXPECT_EQ(openFds(), before);
}

TEST(ComPort, ClosingRestoresTheDeviceSettings) {
    PtyPair pty;
    TComPort port;
    port.setDevicePath(pty.path());
    port.Open();
    port.Close();
    const int fd = ::open(pty.path().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0) << "exclusivity not released";
    termios tio{};
    ASSERT_EQ(::tcgetattr(fd, &tio), 0);
    ::close(fd);
    // A fresh pty is cooked with echo; raw mode would have cleared both.
    EXPECT_TRUE(tio.c_lflag & ICANON);
    EXPECT_TRUE(tio.c_lflag & ECHO);
}

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

TEST(ComPort, VanishedDeviceIsReportedOnceAndTheNextWriteTriesAgain) {
    auto pty = std::make_unique<PtyPair>();
    // The port uses a link we control: a freed pty number may be taken at once by another
    // test program, so "the device is gone" is made certain by removing the link.
    stbtest::ScratchDir scratch;
    const QString path = scratch.file(QStringLiteral("ttyGone"));
    ASSERT_TRUE(QFile::link(pty->path(), path));
    Harness h;
    h.port.setDevicePath(path);
    h.port.Open();
    ASSERT_TRUE(pty->write("last words\r\n"));
    ASSERT_TRUE(h.bothGot("last words\r\n"));

    pty->closeMaster();
    ASSERT_TRUE(spinUntil([&] { return h.failures > 0; }, 5000));
    EXPECT_FALSE(h.port.isOpen());
    EXPECT_TRUE(h.lastFailure.contains(path)) << h.lastFailure.toStdString();

    // No second report and no spinning thread afterwards.
    const double before = cpuSeconds();
    spinUntil([] { return false; }, 500);
    EXPECT_EQ(h.failures, 1);
    EXPECT_LT(cpuSeconds() - before, 0.25);

    pty.reset();
    QFile::remove(path);
    EXPECT_THROW(h.port.WriteText("again"), EBadId);
    EXPECT_FALSE(h.port.isOpen());
}

TEST(ComPort, BurstBeyondTheBufferWhileTheUiThreadIsBlockedArrivesIntact) {
    PtyPair pty;
    Harness h;
    h.port.setDeliveryLimitMs(100); // the blocked UI thread outlasts the delivery limit
    h.port.setDevicePath(pty.path());
    h.port.Open();

    QByteArray burst;
    quint32 x = 12345;
    while (burst.size() < 300 * 1024) {
        x = x * 1103515245u + 12345u;
        const char c = char((x >> 16) & 0xFF);
        if (c != 0x11 && c != 0x13)
            burst.append(c);
    }
    bool written = false;
    std::thread writer([&] { written = pty.write(burst, 30000); });
    // Real time: the UI thread is busy and handles no events for three delivery limits, so the
    // I/O thread has to go on past the limit more than once while the burst pours in.
    QThread::msleep(3 * h.port.deliveryLimitMs());
    const bool arrived = h.bothGot(burst, 30000);
    writer.join();
    ASSERT_TRUE(arrived) << "event " << h.eventBytes.size() << " terminal " << h.terminal().size()
                         << " unread " << h.port.unreadCount();
    EXPECT_TRUE(written);
    EXPECT_TRUE(h.eventBytes == burst);
    EXPECT_TRUE(h.terminal() == burst);
}

// A console printing at line rate reaches the handler a slice at a time, not once for every
// few bytes the driver passes on; nothing is lost or reordered on the way.
TEST(ComPort, SteadyStreamIsHandedOverInSlices) {
    PtyPair pty;
    Harness h;
    h.port.setDevicePath(pty.path());
    h.port.Open();
    QList<QByteArray> lines;
    for (int i = 0; i < 60; ++i)
        lines.append(QByteArray::number(i).rightJustified(113, '.') + "\r\n");
    const QByteArray stream = lines.join();
    // Real time: a line every 10 ms is the far end's pace that this is about.
    std::thread writer([&] {
        for (const QByteArray& line : lines) {
            pty.write(line);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    const bool arrived = h.bothGot(stream); // the UI thread handles events meanwhile
    writer.join();
    ASSERT_TRUE(arrived);
    EXPECT_TRUE(h.eventBytes == stream);
    EXPECT_TRUE(h.terminal() == stream);
    // Handed over every 10 ms this would be about 60.
    EXPECT_LT(h.counts.size(), 40) << h.counts.size();
}

TEST(ComPort, ConsumerRemovedWhileOpenStopsHoldingTheBuffer) {
    PtyPair pty;
    TComPort port;
    std::atomic<int> calls{0};
    const int id = port.addConsumer([&](const QByteArray&) {
        ++calls;
        return qsizetype(0); // takes nothing: holds the read position
    });
    port.setDevicePath(pty.path());
    port.Open();
    ASSERT_TRUE(pty.write("abc"));
    ASSERT_TRUE(spinUntil([&] { return port.unreadCount() == 3; }));
    port.removeConsumer(id);
    EXPECT_EQ(port.unreadCount(), 0);
    const int seen = calls;
    ASSERT_TRUE(pty.write("def"));
    spinUntil([] { return false; }, 200);
    EXPECT_EQ(calls, seen);
}

TEST(ComPort, HandlerFailureIsReportedNotLost) {
    PtyPair pty;
    TComPort port;
    QStringList failures;
    QObject::connect(&port, &TComPort::portFailure, [&](const QString& m) { failures.append(m); });
    // Reads one byte more than announced: the extra read finds nothing.
    port.setOnTriggerAvail([](TComPort& sender, quint16 count) {
        for (int i = 0; i <= count; ++i)
            sender.ReadChar();
    });
    port.setDevicePath(pty.path());
    port.Open();
    ASSERT_TRUE(pty.write("z"));
    ASSERT_TRUE(spinUntil([&] { return !failures.isEmpty(); }));
    EXPECT_EQ(failures.first(), QStringLiteral("Buffer is empty"));
    EXPECT_TRUE(port.isOpen());
}

TEST(PortName, ParsesComNamesAndPathsOnce) {
    struct Case {
        const char* text;
        int comNumber;
        const char* device;
    };
    const Case cases[] = {{"COM1", 1, "/dev/ttyS0"},
                          {" com12 ", 12, "/dev/ttyS11"},
                          {"COM50", 50, "/dev/ttyS49"},
                          {"COM51", 0, ""},
                          {"COM0", 0, ""},
                          {"COM", 0, ""},
                          {"/dev/pts/7", 0, "/dev/pts/7"},
                          {"ttyUSB0", 0, ""},
                          {"", 0, ""}};
    for (const Case& c : cases) {
        const PortName name = PortName::parse(QString::fromLatin1(c.text));
        EXPECT_EQ(name.comNumber(), c.comNumber) << c.text;
        EXPECT_EQ(name.devicePath(), QString::fromLatin1(c.device)) << c.text;
        EXPECT_EQ(name.isNone(), *c.device == '\0') << c.text;
    }
}

// The rig's check: opening this machine's own port fails the test and never reaches it.
TEST(ConsoleGuard, OpeningABuiltInPortFailsTheTest) {
    EXPECT_NONFATAL_FAILURE(
        {
            TComPort port;
            port.setComNumber(1);
            EXPECT_THROW(port.Open(), EBadId);
        },
        "use a pseudo-terminal");
}

} // namespace
