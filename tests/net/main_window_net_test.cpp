// The network parts as the main window holds them: the check button's network half, telnet
// output in Memo1 and the session log, the HTTP server, and the hidden "Ende" button. Each
// test runs in a network namespace of its own, so the real ports 23 and 80 are used.
#include "app/status_light.h"
#include "log/session_log.h"
#include "net/http_server.h"
#include "tests/net/netns.h"
#include "tests/support/fake_dialogs.h"
#include "tests/support/program_rig.h"
#include "tests/support/pty_pair.h"
#include "tests/support/test_support.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QSocketNotifier>
#include <QTabWidget>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using stbtest::spinUntil;
using stbtest::widget;

bool listening(std::uint16_t port) {
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool up = ::connect(probe, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(probe);
    return up;
}

class MainWindowNetTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The serial port is a pseudo-terminal nobody answers on.
        QFile ini(m_dir.file(QStringLiteral("stbmate.ini")));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write("[Main]\nLanguage=Deutsch\nIP=127.0.0.1\nDelay=0\nComPort=" +
                  QFile::encodeName(m_pty.path()) + "\n[Deutsch]\n");
    }
    QString logText() const {
        QFile file(m_dir.file(QStringLiteral("Logs/stbmate-2026-12-07.log")));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    // A receiver's telnet service: greets, then runs a shell.
    void startTelnetd(nettest::PeerProcess& telnetd) {
        const QString login = m_dir.file(QStringLiteral("login.sh"));
        QFile script(login);
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\necho 'hello from box'\nPS1='# ' exec /bin/sh -i\n");
        script.close();
        QFile::setPermissions(login, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        ASSERT_TRUE(
            telnetd.start(nettest::RequireProgram(QStringLiteral("busybox")),
                          {QStringLiteral("telnetd"), QStringLiteral("-F"), QStringLiteral("-p"),
                           QStringLiteral("23"), QStringLiteral("-l"), login}));
        ASSERT_TRUE(spinUntil([] { return listening(23); }));
    }

    stbtest::ScratchDir m_dir;
    SessionLog m_log{m_dir.path(), [] { return QDateTime(QDate(2026, 12, 7), QTime(9, 0, 0)); }};
    PtyPair m_pty;
    FakeDialogs m_dialogs;
    QStringList m_busyEvents; // outlives the wait dialog, which the wiring may still close
    ProgramRig m_rig{m_dialogs, m_log};
};

TEST_F(MainWindowNetTest, CheckButtonLightsTheNetworkLampOnlyWithTelnet) {
    NET_TEST_IN_PRIVATE_NETNS();
    TForm1& form = m_rig.start(m_dir.path());
    ASSERT_TRUE(form.created());
    widget<QLineEdit>(form, "Edit2")->setText(QStringLiteral("typed"));

    form.Button2Click(); // nothing on port 23 yet
    EXPECT_FALSE(widget<TStatusLight>(form, "StatusLight2")->Lit());
    EXPECT_EQ(widget<QTabWidget>(form, "PageControl1")->currentIndex(), 1);
    EXPECT_EQ(widget<QLineEdit>(form, "Edit2")->text(), QStringLiteral("127.0.0.1"));

    nettest::PeerProcess telnetd;
    startTelnetd(telnetd);
    form.Button2Click();
    EXPECT_TRUE(widget<TStatusLight>(form, "StatusLight2")->Lit());
    EXPECT_FALSE(m_rig.wiring().telnet().Connected()) << "the check closes what it opened";
    EXPECT_FALSE(widget<TStatusLight>(form, "StatusLight1")->Lit())
        << "nobody answers on the serial side";
    EXPECT_TRUE(m_dialogs.transcriptLines().isEmpty())
        << m_dialogs.transcriptLines().join('|').toStdString();
    telnetd.stop();
}

TEST_F(MainWindowNetTest, CheckButtonRunsTheSerialCheckFirstAndSetsBothLights) {
    NET_TEST_IN_PRIVATE_NETNS();
    TForm1& form = m_rig.start(m_dir.path());
    ASSERT_TRUE(form.created());
    // Each wait dialog notes the state both lights are in as it opens.
    QStringList& events = m_busyEvents;
    m_rig.busy.journal = &events;
    m_rig.busy.onShow = [&](const QString&) {
        events.last() += QStringLiteral(" serial=%1 network=%2")
                             .arg(int(widget<TStatusLight>(form, "StatusLight1")->Lit()))
                             .arg(int(widget<TStatusLight>(form, "StatusLight2")->Lit()));
    };
    ASSERT_TRUE(spinUntil([&] { return m_rig.wiring().comPort().isOpen(); }));
    // The receiver's console echoes what it is sent, which is all the serial check asks.
    QSocketNotifier echo(m_pty.master(), QSocketNotifier::Read);
    QObject::connect(&echo, &QSocketNotifier::activated, [&] {
        char buffer[256];
        const ssize_t got = ::read(m_pty.master(), buffer, sizeof buffer);
        if (got > 0)
            m_pty.write(QByteArray(buffer, got));
    });
    nettest::PeerProcess telnetd;
    startTelnetd(telnetd);

    form.Button2Click();
    EXPECT_EQ(
        events,
        (QStringList{QStringLiteral("show Serielle Verbindung wird geprüft serial=0 network=0"),
                     QStringLiteral("hide"),
                     QStringLiteral("show Netzwerk Verbindung wird geprüft serial=1 network=0"),
                     QStringLiteral("hide")}));
    EXPECT_TRUE(widget<TStatusLight>(form, "StatusLight1")->Lit());
    EXPECT_TRUE(widget<TStatusLight>(form, "StatusLight2")->Lit());

    // Both links gone: both lit lamps go red again.
    echo.setEnabled(false);
    telnetd.stop();
    events.clear();
    form.Button2Click();
    EXPECT_EQ(events.value(2),
              QStringLiteral("show Netzwerk Verbindung wird geprüft serial=0 network=1"));
    EXPECT_FALSE(widget<TStatusLight>(form, "StatusLight1")->Lit());
    EXPECT_FALSE(widget<TStatusLight>(form, "StatusLight2")->Lit());
}

TEST_F(MainWindowNetTest, TelnetOutputGoesToMemo1AndTheLog) {
    NET_TEST_IN_PRIVATE_NETNS();
    TForm1& form = m_rig.start(m_dir.path());
    ASSERT_TRUE(form.created());
    nettest::PeerProcess telnetd;
    startTelnetd(telnetd);

    TTelnetClient& telnet = m_rig.wiring().telnet();
    telnet.ResetTelnetClient();
    telnet.setHost(widget<QLineEdit>(form, "Edit1")->text());
    telnet.Connect();
    // Typed only once the shell's prompt is there: typed ahead, the terminal echoes the
    // command before the prompt and the answer lands on the prompt's line.
    ASSERT_TRUE(spinUntil([&] {
        return widget<QPlainTextEdit>(form, "Memo1")
                   ->toPlainText()
                   .contains(QStringLiteral("hello from box")) &&
               form.lastNetworkLine() == QStringLiteral("# ");
    })) << widget<QPlainTextEdit>(form, "Memo1")->toPlainText().toStdString();
    telnet.SendTelnet(QStringLiteral("echo sum-$((20+22))"));
    ASSERT_TRUE(spinUntil([&] { return form.networkLines().contains(QStringLiteral("sum-42")); }))
        << widget<QPlainTextEdit>(form, "Memo1")->toPlainText().toStdString();
    EXPECT_TRUE(logText().contains(QStringLiteral("09:00:00 - hello from box\r\n")));
    EXPECT_TRUE(logText().contains(QStringLiteral("09:00:00 - sum-42\r\n")));

    // The hidden "Ende" button ends the session and releases the server.
    m_rig.wiring().httpServer().Activate();
    const std::uint16_t port = m_rig.wiring().httpServer().boundPort();
    ASSERT_TRUE(listening(port));
    form.Button1Click();
    EXPECT_FALSE(telnet.Connected());
    EXPECT_FALSE(m_rig.wiring().httpServer().active());
    EXPECT_FALSE(listening(port));
    telnet.ResetTelnetClient();
    telnetd.stop();
}

TEST_F(MainWindowNetTest, HttpServerServesTheChosenFileOnAFreePort) {
    NET_TEST_IN_PRIVATE_NETNS();
    TForm1& form = m_rig.start(m_dir.path());
    ASSERT_TRUE(form.created());
    const QString archive = m_dir.file(QStringLiteral("proftpd.tar.bz2"));
    QFile file(archive);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(100000, 'x'));
    file.close();

    THTTPServer& server = m_rig.wiring().httpServer();
    server.ResetToInitialSettings();
    server.Activate();
    server.setServeLocation(QString(), archive);
    QProcess wget;
    const QString out = m_dir.file(QStringLiteral("fetched"));
    wget.start(nettest::RequireProgram(QStringLiteral("busybox")),
               {QStringLiteral("wget"), QStringLiteral("-O"), out,
                QStringLiteral("http://127.0.0.1:%1").arg(server.boundPort()) + archive});
    ASSERT_TRUE(wget.waitForFinished(30000));
    EXPECT_EQ(wget.exitCode(), 0) << wget.readAllStandardError().toStdString();
    EXPECT_EQ(QFileInfo(out).size(), 100000);
    const std::uint16_t port = server.boundPort();
    EXPECT_GE(port, 1024);
    server.StopAndRelease();
    EXPECT_FALSE(listening(port));
}

} // namespace
