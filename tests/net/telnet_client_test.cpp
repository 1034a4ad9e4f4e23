// The telnet client on real sockets: a scripted server checks the bytes on the wire, busybox
// telnetd and inetutils telnetd are the real receivers' kind of peer.
#include "log/session_log.h"
#include "net/net_errors.h"
#include "net/telnet_channel.h"
#include "net/telnet_client.h"
#include "net/telnet_data_handler.h"
#include "tests/net/netns.h"
#include "tests/support/fake_console.h"
#include "tests/support/fake_main_view.h"
#include "tests/support/test_support.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using stbtest::spinUntil;

using namespace std::chrono_literals;

constexpr int IAC = 255, WILL = 251, WONT = 252, DO = 253, DONT = 254, SB = 250, SE = 240;

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (int v : values)
        out.append(static_cast<char>(v));
    return out;
}

// Runs the event loop until done() or the time is up; returns done().
int listenLoopback(std::uint16_t port, int backlog = 4) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, backlog) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::uint16_t portOf(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

// A server that says exactly what the test tells it and reports what it got.
class ScriptedPeer {
public:
    ScriptedPeer() : m_listen(listenLoopback(0)) {}
    ~ScriptedPeer() {
        if (m_conn >= 0)
            ::close(m_conn);
        ::close(m_listen);
    }
    std::uint16_t port() const { return portOf(m_listen); }
    bool accept() {
        m_conn = ::accept(m_listen, nullptr, nullptr);
        return m_conn >= 0;
    }
    void send(const QByteArray& data, int flags = 0) {
        ::send(m_conn, data.constData(), data.size(), MSG_NOSIGNAL | flags);
    }
    // Reads until n bytes came or nothing more arrives for a while. Keeps the event loop
    // running meanwhile: the client's receive thread waits for its hand-off to be handled
    // before it reads on.
    QByteArray read(int n, int ms = 3000) {
        QByteArray got;
        while (got.size() < n) {
            pollfd entry{m_conn, POLLIN, 0};
            QDeadlineTimer deadline(ms);
            while (::poll(&entry, 1, 10) == 0 && !deadline.hasExpired())
                QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            if (!(entry.revents & (POLLIN | POLLHUP)))
                break;
            char buffer[4096];
            const ssize_t r =
                ::recv(m_conn, buffer, std::min<int>(sizeof buffer, n - got.size()), 0);
            if (r <= 0)
                break;
            got.append(buffer, r);
        }
        return got;
    }
    void closeConnection() {
        ::close(m_conn);
        m_conn = -1;
    }

private:
    int m_listen;
    int m_conn = -1;
};

class TelnetClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_client.setOnDataAvailable([this](const QString& text) {
            showTelnetOutput(m_view, m_log, text);
            m_channel.received(text);
        });
        m_client.setHost(QStringLiteral("127.0.0.1"));
    }
    void TearDown() override { m_client.Disconnect(); }
    void connectTo(ScriptedPeer& peer) {
        m_client.ResetTelnetClient();
        m_client.setPort(peer.port());
        m_client.Connect();
        ASSERT_TRUE(peer.accept());
    }
    // Sends a block and waits until the handler has shown it.
    void deliver(ScriptedPeer& peer, const QByteArray& block) {
        const QStringList before = m_view.networkLines();
        peer.send(block);
        ASSERT_TRUE(spinUntil([&] { return m_view.networkLines() != before; }))
            << "block never reached the view";
    }
    QString logText() const {
        QString all;
        const QDir logs(m_scratch.path() + QStringLiteral("/Logs"));
        for (const QString& name : logs.entryList(QDir::Files)) {
            QFile file(logs.filePath(name));
            if (file.open(QIODevice::ReadOnly))
                all += QString::fromUtf8(file.readAll());
        }
        return all;
    }

    stbtest::ScratchDir m_scratch;
    SessionLog m_log{m_scratch.path()};
    FakeTicker m_ticker{FakeTicker::RealTime};
    TTelnetClient m_client{m_ticker};
    TelnetChannel m_channel{m_client, m_ticker, {}};
    FakeMainView m_view;
};

TEST_F(TelnetClientTest, NegotiationRepliesByteByByte) {
    ScriptedPeer peer;
    connectTo(peer);
    struct Case {
        QByteArray sent, reply;
    } cases[] = {
        {bytes({IAC, DO, 24}), bytes({IAC, WILL, 24})},
        {bytes({IAC, SB, 24, 1, IAC, SE}), bytes({IAC, SB, 24, 0}) + "dumb" + bytes({IAC, SE})},
        {bytes({IAC, WILL, 3}), bytes({IAC, DONT, 3})},
        {bytes({IAC, DO, 31}), bytes({IAC, WONT, 31})},
        {bytes({IAC, WILL, 1}), bytes({IAC, DO, 1})},
        {bytes({IAC, DONT, 1}), bytes({IAC, WONT, 1})},
    };
    for (const auto& c : cases) {
        peer.send(c.sent);
        EXPECT_EQ(peer.read(c.reply.size()), c.reply) << c.sent.toHex().toStdString();
    }
    EXPECT_EQ(peer.read(1, 200), QByteArray()) << "nothing beyond the replies";
    EXPECT_EQ(m_view.networkLines(), QStringList{QString()}) << "negotiation alone shows no text";
}

TEST_F(TelnetClientTest, TextReachesViewAndLogLineByLine) {
    ScriptedPeer peer;
    connectTo(peer);
    deliver(peer, "a" + bytes({IAC, IAC}) + "b\r\nfirst");
    deliver(peer, " line\r");
    deliver(peer, "\nsecond\r\n");
    const QString marker = DownloadWatch::kDoneMarker;
    deliver(peer, marker.left(20).toUtf8());
    EXPECT_FALSE(m_channel.seen(marker));
    deliver(peer, marker.mid(20).toUtf8() + "\r\n");
    EXPECT_TRUE(m_channel.seen(marker));
    EXPECT_EQ(m_view.networkLines(),
              (QStringList{QStringLiteral("a\uFFFDb"), QStringLiteral("first line"), QString(),
                           QStringLiteral("second"), marker, QString()}));
    const QString log = logText();
    EXPECT_TRUE(log.contains(QStringLiteral(" - first\r\n")));
    EXPECT_TRUE(log.contains(QStringLiteral(" - second\r\n"))); // the lone LF is no text
    EXPECT_TRUE(log.contains(QStringLiteral(" - ") + marker.mid(20) + QStringLiteral("\r\n")));
}

TEST_F(TelnetClientTest, CarriageReturnFollowsWhetherTheServerSpeaksTelnet) {
    ScriptedPeer peer;
    connectTo(peer);
    m_client.SendTelnetChar('\r');
    EXPECT_EQ(peer.read(2), QByteArray("\r\n"));
    m_client.SendTelnetChar('j');
    EXPECT_EQ(peer.read(1), QByteArray("j"));
    deliver(peer, "hello" + bytes({IAC, 241}));
    EXPECT_TRUE(m_client.serverSpeaksTelnet());
    m_client.SendTelnetChar('\r');
    EXPECT_EQ(peer.read(2, 300), QByteArray("\r"));
    m_client.SendTelnetChar(27);
    EXPECT_EQ(peer.read(1), QByteArray("\x1b"));

    // A fresh session starts without knowing again.
    m_client.ResetTelnetClient();
    EXPECT_FALSE(m_client.serverSpeaksTelnet());
    ScriptedPeer second;
    connectTo(second);
    m_client.SendTelnetChar('\r');
    EXPECT_EQ(second.read(2), QByteArray("\r\n"));
    EXPECT_TRUE(m_ticker.requests.isEmpty()) << "single characters go out without a wait";
}

TEST_F(TelnetClientTest, SendTelnetWritesTheLineThenWaits) {
    ScriptedPeer peer;
    connectTo(peer);
    m_client.setSettleDelay(2);
    const auto start = std::chrono::steady_clock::now();
    m_client.SendTelnet(QStringLiteral("cd /data"));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(peer.read(10), QByteArray("cd /data\r\n"));
    EXPECT_EQ(m_ticker.requests, QList<int>{17}) << "SettleDelay + 15 ticks, once";
    EXPECT_GE(waited, 17 * 55ms);
    // Output that arrives during the wait is shown by the end of it.
    peer.send("# ");
    m_client.SendTelnet(QStringLiteral("ls"));
    EXPECT_EQ(m_view.networkLines().value(0), QStringLiteral("# "));
}

TEST_F(TelnetClientTest, FailuresCarryTheirTexts) {
    ScriptedPeer peer;
    connectTo(peer);
    try {
        m_client.Connect();
        ADD_FAILURE() << "second connect succeeded";
    } catch (const EAlreadyConnected& error) {
        EXPECT_EQ(error.message(), QStringLiteral("Verbindung besteht bereits."));
    }
    // The receiver ends the session: noticed, and the next write fails.
    peer.closeConnection();
    ASSERT_TRUE(spinUntil([&] { return !m_client.Connected(); }));
    try {
        m_client.SendTelnet(QStringLiteral("exit"));
        ADD_FAILURE() << "send on a closed session succeeded";
    } catch (const EConnClosedGracefully& error) {
        EXPECT_EQ(error.message(), QStringLiteral("Die Verbindung wurde erfolgreich geschlossen."));
    }
    EXPECT_THROW(m_client.SendTelnetChar('\r'), EConnClosedGracefully);

    // Refused, unknown host: no answer.
    const int unused = listenLoopback(0);
    const std::uint16_t closedPort = portOf(unused);
    ::close(unused);
    for (const QString& host :
         {QStringLiteral("127.0.0.1"), QStringLiteral("no-such-host.invalid")}) {
        m_client.ResetTelnetClient();
        m_client.setHost(host);
        m_client.setPort(closedPort);
        try {
            m_client.Connect();
            ADD_FAILURE() << "connect to " << host.toStdString() << " succeeded";
        } catch (const ETelnetClientConnectError& error) {
            EXPECT_EQ(error.message(), QStringLiteral("Server antwortet nicht."));
        }
        EXPECT_FALSE(m_client.Connected());
    }
}

TEST_F(TelnetClientTest, ConnectGivesUpInTimeAndKeepsEventsFlowing) {
    // A listener whose queue is full drops new handshakes, like a host that does not answer.
    const int full = listenLoopback(0, 0);
    const std::uint16_t port = portOf(full);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        fillers.push_back(fd);
    }
    // The queue is full once the first filler's handshake is done; the others stay unanswered.
    pollfd first{fillers.front(), POLLOUT, 0};
    ASSERT_EQ(::poll(&first, 1, 5000), 1);
    m_client.ResetTelnetClient();
    m_client.setPort(port);
    m_client.setConnectTimeoutMs(700);
    int timerTicks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++timerTicks; });
    timer.start(50);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(m_client.Connect(), ETelnetClientConnectError);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 600ms);
    EXPECT_LT(took, 5s);
    EXPECT_GE(timerTicks, 5) << "the event loop kept running during the connect";
    for (int fd : fillers)
        ::close(fd);
    ::close(full);
}

// A server that floods option requests and never reads: the answers pile up in the outgoing
// queue until it is full, the session ends, and the next send says so instead of waiting.
TEST_F(TelnetClientTest, OptionStormFromAPeerThatNeverReadsEndsTheSession) {
    ScriptedPeer peer;
    connectTo(peer);
    QByteArray storm;
    for (int i = 0; i < 1000; ++i)
        storm += bytes({IAC, DO, 31});
    ASSERT_TRUE(spinUntil(
        [&] {
            peer.send(storm, MSG_DONTWAIT); // the test's own thread must not block either
            return !m_client.Connected();
        },
        30000))
        << "the session never gave up on the peer";
    EXPECT_THROW(m_client.SendTelnetChar('x'), EConnClosedGracefully);
    EXPECT_THROW(m_client.SendTelnet(QStringLiteral("ls")), EConnClosedGracefully);
    m_client.Disconnect();
}

TEST_F(TelnetClientTest, ResetWhileOpenLeavesOneReader) {
    ScriptedPeer first;
    connectTo(first);
    m_client.ResetTelnetClient();
    EXPECT_FALSE(m_client.Connected());
    EXPECT_EQ(first.read(1, 2000), QByteArray()) << "the old session was closed";
    ScriptedPeer second;
    connectTo(second);
    deliver(second, "only\r\n");
    EXPECT_EQ(m_view.networkLines().value(0), QStringLiteral("only"));
}

// ---- real telnet servers, on port 23 of a private network namespace ------------------------

// A login dialogue in front of the shell, so the session is used as a user would: name,
// password, then commands.
QString writeLoginScript(const stbtest::ScratchDir& scratch) {
    const QString path = scratch.file(QStringLiteral("login.sh"));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(
        "#!/bin/sh\n"
        "printf 'stb login: '; read user\n"
        "printf 'Password: '; read pass\n"
        "[ \"$user\" = root ] && [ \"$pass\" = secret ] || { echo 'Login incorrect'; exit 1; }\n"
        "PS1='root@stb:~# ' exec /bin/sh -i\n");
    file.close();
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

void runShellDialogue(TTelnetClient& client, FakeMainView& view, const QString& logDir) {
    client.ResetTelnetClient();
    client.setHost(QStringLiteral("127.0.0.1"));
    client.Connect(); // port 23
    ASSERT_TRUE(client.Connected());
    ASSERT_TRUE(spinUntil(
        [&] { return view.networkLines().join('\n').contains(QStringLiteral("login:")); }, 10000))
        << view.networkLines().join('|').toStdString();
    client.SendTelnet(QStringLiteral("root"));
    ASSERT_TRUE(spinUntil(
        [&] { return view.networkLines().join('\n').contains(QStringLiteral("Password:")); },
        10000));
    client.SendTelnet(QStringLiteral("secret"));
    client.SendTelnet(QStringLiteral("echo out-$((6*7)); echo second-$((1+1))"));
    ASSERT_TRUE(
        spinUntil([&] { return view.networkLines().contains(QStringLiteral("second-2")); }, 10000))
        << view.networkLines().join('|').toStdString();
    const QStringList lines = view.networkLines();
    const qsizetype out = lines.indexOf(QStringLiteral("out-42"));
    ASSERT_GE(out, 0) << lines.join('|').toStdString();
    EXPECT_EQ(lines.value(out + 1), QStringLiteral("second-2"));
    EXPECT_TRUE(client.serverSpeaksTelnet());

    QString log;
    for (const QString& name : QDir(logDir + QStringLiteral("/Logs")).entryList(QDir::Files)) {
        QFile file(logDir + QStringLiteral("/Logs/") + name);
        if (file.open(QIODevice::ReadOnly))
            log += QString::fromUtf8(file.readAll());
    }
    EXPECT_TRUE(log.contains(QStringLiteral(" - out-42\r\n"))) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral(" - second-2\r\n")));

    client.SendTelnet(QStringLiteral("exit"));
    EXPECT_TRUE(spinUntil([&] { return !client.Connected(); }, 10000)) << "exit ends the session";
    client.Disconnect();
}

TEST(TelnetRealServers, BusyboxTelnetdShellDialogue) {
    NET_TEST_IN_PRIVATE_NETNS();
    stbtest::ScratchDir scratch;
    SessionLog log(scratch.path());
    nettest::PeerProcess telnetd;
    ASSERT_TRUE(telnetd.start(nettest::RequireProgram(QStringLiteral("busybox")),
                              {QStringLiteral("telnetd"), QStringLiteral("-F"),
                               QStringLiteral("-K"), QStringLiteral("-p"), QStringLiteral("23"),
                               QStringLiteral("-l"), writeLoginScript(scratch)}));
    // Wait until it listens.
    ASSERT_TRUE(spinUntil([] {
        const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(23);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool up = ::connect(probe, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(probe);
        return up;
    }));
    FakeTicker ticker{FakeTicker::RealTime};
    TTelnetClient client(ticker);
    FakeMainView view;
    client.setOnDataAvailable([&](const QString& text) { showTelnetOutput(view, log, text); });
    runShellDialogue(client, view, scratch.path());
    telnetd.stop();
}

TEST(TelnetRealServers, InetutilsTelnetdShellDialogue) {
    NET_TEST_IN_PRIVATE_NETNS();
    stbtest::ScratchDir scratch;
    SessionLog log(scratch.path());
    const QString telnetd = nettest::RequireProgram(QStringLiteral("telnetd"));
    ASSERT_FALSE(telnetd.isEmpty());
    // inetutils telnetd expects inetd to hand it the accepted socket as stdin/stdout.
    const int listener = listenLoopback(23);
    ASSERT_GE(listener, 0);
    FakeTicker ticker{FakeTicker::RealTime};
    TTelnetClient client(ticker);
    FakeMainView view;
    client.setOnDataAvailable([&](const QString& text) { showTelnetOutput(view, log, text); });
    // Accept the dialogue's connection on a helper thread and start telnetd on it.
    pid_t pid = -1;
    std::thread acceptor([&] {
        const int conn = ::accept(listener, nullptr, nullptr);
        if (conn < 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, conn, 0);
        posix_spawn_file_actions_adddup2(&actions, conn, 1);
        posix_spawn_file_actions_adddup2(&actions, conn, 2);
        const QByteArray program = telnetd.toLocal8Bit();
        const QByteArray login = writeLoginScript(scratch).toLocal8Bit();
        char* argv[] = {const_cast<char*>(program.constData()), const_cast<char*>("-h"),
                        const_cast<char*>("-E"), const_cast<char*>(login.constData()), nullptr};
        posix_spawn(&pid, program.constData(), &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(conn);
    });
    runShellDialogue(client, view, scratch.path());
    acceptor.join();
    if (pid > 0) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
    ::close(listener);
}

} // namespace
