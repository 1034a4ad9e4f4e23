// TTftpServer against real clients (tftp-hpa's tftp, busybox tftp, curl) on loopback.
#include "net/tftp_server.h"

#include "tests/net/netns.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <random>
#include <spawn.h>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using namespace std::chrono_literals;

enum class Client { Hpa, Busybox, Curl };

struct Outcome {
    int exitCode = -1;
    QByteArray output; // stdout and stderr
};

// Starts a client with its output in outputFile; returns its pid (-1 when it cannot start).
pid_t spawnClient(const QStringList& command, const QString& outputFile) {
    std::vector<QByteArray> storage;
    for (const QString& arg : command)
        storage.push_back(arg.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& arg : storage)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const QByteArray out = QFile::encodeName(outputFile);
    posix_spawn_file_actions_addopen(&actions, 1, out.constData(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    if (::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

Outcome waitClient(pid_t pid, const QString& outputFile) {
    Outcome outcome;
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        outcome.exitCode = WEXITSTATUS(status);
    QFile file(outputFile);
    if (file.open(QIODevice::ReadOnly))
        outcome.output = file.readAll();
    return outcome;
}

QStringList getCommand(Client client, int port, const QString& remote, const QString& local,
                       int blockSize = 0) {
    const QString host = QStringLiteral("127.0.0.1"), portText = QString::number(port);
    switch (client) {
    case Client::Hpa: // this client cannot ask for a block size
        return {QStringLiteral("tftp"),
                QStringLiteral("-m"),
                QStringLiteral("binary"),
                host,
                portText,
                QStringLiteral("-c"),
                QStringLiteral("get"),
                remote,
                local};
    case Client::Busybox: {
        QStringList c{QStringLiteral("busybox"),
                      QStringLiteral("tftp"),
                      QStringLiteral("-g"),
                      QStringLiteral("-r"),
                      remote,
                      QStringLiteral("-l"),
                      local};
        if (blockSize)
            c << QStringLiteral("-b") << QString::number(blockSize);
        return c << host << portText;
    }
    case Client::Curl: {
        QStringList c{QStringLiteral("curl"), QStringLiteral("-sS"), QStringLiteral("-o"), local};
        if (blockSize)
            c << QStringLiteral("--tftp-blksize") << QString::number(blockSize);
        return c << QStringLiteral("tftp://%1:%2/%3").arg(host, portText, remote);
    }
    }
    return {};
}

Outcome runClient(const QStringList& command, const QString& outputFile) {
    return waitClient(spawnClient(command, outputFile), outputFile);
}

QByteArray writeRandomFile(const QString& path, qint64 size, unsigned salt) {
    QByteArray data(size, Qt::Uninitialized);
    std::mt19937 random(salt);
    for (qint64 i = 0; i < size; i += 4) {
        const std::uint32_t word = random();
        std::memcpy(data.data() + i, &word, std::min<qint64>(4, size - i));
    }
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(data) == size);
    return data;
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A served folder beside a file outside it, and a server that records what it reports.
struct Rig {
    stbtest::ScratchDir scratch;
    QString folder = scratch.file(QStringLiteral("served"));
    std::mutex mutex;
    std::vector<TTftpServer::Finished> finished;
    std::vector<TTftpServer::Progress> progress;
    // Last, so it goes first: stopping reports live transfers into the vectors above.
    TTftpServer server;

    explicit Rig(const TTftpServer::Settings& settings = {}) : server(settings) {
        QDir().mkpath(folder);
        server.setFinishedHandler([this](const TTftpServer::Finished& f) {
            std::lock_guard lock(mutex);
            finished.push_back(f);
        });
        server.setProgressHandler([this](const TTftpServer::Progress& p) {
            std::lock_guard lock(mutex);
            progress.push_back(p);
        });
    }
    int start() {
        EXPECT_EQ(server.start(folder.toStdString(), "127.0.0.1", 0), "");
        return server.boundPort();
    }
    std::vector<TTftpServer::Finished> finishedSoFar() {
        std::lock_guard lock(mutex);
        return finished;
    }
};

// A client that asks for a file and then never answers: it only counts what it receives.
struct StalledClient {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ~StalledClient() { ::close(fd); }
    void request(int port, const std::string& name) {
        sockaddr_in server{};
        server.sin_family = AF_INET;
        server.sin_port = htons(std::uint16_t(port));
        server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const tftp::Bytes rrq = tftp::MakeRequest({tftp::Opcode::Rrq, name, tftp::Mode::Octet, {}});
        ::sendto(fd, rrq.data(), rrq.size(), 0, reinterpret_cast<sockaddr*>(&server),
                 sizeof server);
    }
    int datagramsWithin(int ms) {
        int count = 0;
        char buffer[1024];
        pollfd entry{fd, POLLIN, 0};
        while (::poll(&entry, 1, ms) > 0 && ::recv(fd, buffer, sizeof buffer, 0) > 0)
            ++count;
        return count;
    }
};

// A UDP relay between one client and the server that drops a share of the datagrams both ways.
// The client talks to the relay's port only; the relay follows the server to its transfer port.
class LossyRelay {
public:
    LossyRelay(int serverPort, double dropShare) : m_serverPort(serverPort), m_drop(dropShare) {
        for (int* fd : {&m_clientSide, &m_serverSide}) {
            *fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            sockaddr_in any{};
            any.sin_family = AF_INET;
            any.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            ::bind(*fd, reinterpret_cast<sockaddr*>(&any), sizeof any);
        }
        m_thread = std::thread([this] { loop(); });
    }
    ~LossyRelay() {
        m_stop = true;
        m_thread.join();
        ::close(m_clientSide);
        ::close(m_serverSide);
    }
    int port() const {
        sockaddr_in local{};
        socklen_t length = sizeof local;
        ::getsockname(m_clientSide, reinterpret_cast<sockaddr*>(&local), &length);
        return ntohs(local.sin_port);
    }
    int dropped() const { return m_dropped; }

private:
    void loop() {
        std::mt19937 random(12);
        std::bernoulli_distribution drop(m_drop);
        sockaddr_in client{}, server{};
        server.sin_family = AF_INET;
        server.sin_port = htons(std::uint16_t(m_serverPort));
        server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        char buffer[70000];
        while (!m_stop) {
            pollfd fds[2] = {{m_clientSide, POLLIN, 0}, {m_serverSide, POLLIN, 0}};
            if (::poll(fds, 2, 50) <= 0)
                continue;
            for (int side = 0; side < 2; ++side) {
                if (!(fds[side].revents & POLLIN))
                    continue;
                sockaddr_in from{};
                socklen_t length = sizeof from;
                const ssize_t n = ::recvfrom(fds[side].fd, buffer, sizeof buffer, 0,
                                             reinterpret_cast<sockaddr*>(&from), &length);
                if (n < 0)
                    continue;
                (side == 0 ? client : server) = from;
                if (drop(random)) {
                    ++m_dropped;
                    continue;
                }
                // A resent request goes where the client sends it: the server's main port.
                sockaddr_in to = side == 0 ? server : client;
                if (side == 0 && n > 1 && buffer[1] == char(tftp::Opcode::Rrq))
                    to.sin_port = htons(std::uint16_t(m_serverPort));
                ::sendto(side == 0 ? m_serverSide : m_clientSide, buffer, size_t(n), 0,
                         reinterpret_cast<const sockaddr*>(&to), sizeof to);
            }
        }
    }

    int m_serverPort;
    double m_drop;
    int m_clientSide = -1, m_serverSide = -1;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_dropped{0};
    std::thread m_thread;
};

} // namespace

TEST(TftpServer, RealClientsFetchByteIdenticalFiles) {
    Rig rig;
    const QByteArray small = writeRandomFile(rig.folder + QStringLiteral("/small.bin"), 1 << 20, 1);
    const QByteArray big = writeRandomFile(rig.folder + QStringLiteral("/big.bin"), 64 << 20, 2);
    const int port = rig.start();
    struct Case {
        Client client;
        const char* file;
        int blockSize;
    };
    const Case cases[] = {
        {Client::Hpa, "small.bin", 0},        {Client::Hpa, "big.bin", 0},
        {Client::Busybox, "small.bin", 0},    {Client::Busybox, "big.bin", 0},
        {Client::Busybox, "small.bin", 1428}, {Client::Busybox, "big.bin", 1428},
        {Client::Curl, "small.bin", 0},       {Client::Curl, "big.bin", 1428},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.client) << " " << c.file << " " << c.blockSize);
        const QString local = rig.scratch.file(QStringLiteral("got.bin"));
        QFile::remove(local);
        const Outcome outcome =
            runClient(getCommand(c.client, port, QLatin1String(c.file), local, c.blockSize),
                      rig.scratch.file(QStringLiteral("client.log")));
        EXPECT_EQ(outcome.exitCode, 0) << outcome.output.constData();
        const QByteArray& want = QByteArrayView(c.file) == "big.bin" ? big : small;
        EXPECT_TRUE(readAll(local) == want);
        ASSERT_TRUE(stbtest::spinUntil([&] { return !rig.finishedSoFar().empty(); }, 5000));
        const auto done = rig.finishedSoFar().back();
        EXPECT_TRUE(done.success) << done.reason;
        EXPECT_EQ(done.bytesSent, std::uint64_t(want.size()));
        std::lock_guard lock(rig.mutex);
        ASSERT_FALSE(rig.progress.empty());
        EXPECT_EQ(rig.progress.back().bytesSent, std::uint64_t(want.size()));
        rig.finished.clear();
        rig.progress.clear();
    }
}

TEST(TftpServer, RefusesWhatItMustNotServe) {
    Rig rig;
    writeRandomFile(rig.scratch.file(QStringLiteral("outside.bin")), 100, 3);
    writeRandomFile(rig.folder + QStringLiteral("/inside.bin"), 100, 4);
    QFile::link(rig.scratch.file(QStringLiteral("outside.bin")),
                rig.folder + QStringLiteral("/link-out"));
    QDir().mkpath(rig.folder + QStringLiteral("/dir"));
    const int port = rig.start();
    const QString local = rig.scratch.file(QStringLiteral("got.bin"));
    const QString put = QStringLiteral("put");
    struct Case {
        Client client;
        QString remote;
        const char* clientSays;
    };
    const Case cases[] = {
        {Client::Busybox, QStringLiteral("../outside.bin"), "(2) Access violation"},
        {Client::Busybox, QStringLiteral("dir/../../outside.bin"), "(2) Access violation"},
        {Client::Hpa, QStringLiteral("../outside.bin"), "Error code 2: Access violation"},
        {Client::Busybox, rig.folder + QStringLiteral("/inside.bin"), "(2) Access violation"},
        {Client::Busybox, QStringLiteral("link-out"), "(2) Access violation"},
        {Client::Busybox, QStringLiteral("dir"), "(1) File not found"},
        {Client::Busybox, QStringLiteral("missing.bin"), "(1) File not found"},
        {Client::Busybox, put, "(2) Access violation"},
        {Client::Hpa, put, "Error code 2: Access violation"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.remote.toStdString());
        QFile::remove(local);
        QStringList command = getCommand(c.client, port, c.remote, local);
        if (c.remote == put) {
            writeRandomFile(local, 10, 5);
            command = c.client == Client::Hpa
                          ? QStringList{QStringLiteral("tftp"),
                                        QStringLiteral("127.0.0.1"),
                                        QString::number(port),
                                        QStringLiteral("-c"),
                                        put,
                                        local,
                                        QStringLiteral("new.bin")}
                          : getCommand(c.client, port, QStringLiteral("new.bin"), local)
                                .replaceInStrings(QStringLiteral("-g"), QStringLiteral("-p"));
        }
        const Outcome outcome = runClient(command, rig.scratch.file(QStringLiteral("c.log")));
        EXPECT_TRUE(outcome.output.contains(c.clientSays)) << outcome.output.constData();
        if (c.client == Client::Busybox) {
            EXPECT_NE(outcome.exitCode, 0);
        }
        if (c.remote != put) {
            EXPECT_EQ(QFileInfo(local).size(), 0);
        }
    }
    EXPECT_FALSE(QFile::exists(rig.folder + QStringLiteral("/new.bin")));
    ASSERT_TRUE(stbtest::spinUntil([&] { return rig.finishedSoFar().size() == 9; }, 5000));
    for (const auto& f : rig.finishedSoFar())
        EXPECT_FALSE(f.success) << f.fileName;
}

TEST(TftpServer, SurvivesTenPercentLoss) {
    TTftpServer::Settings settings;
    // busybox restarts its own wait whenever a packet arrives and ignores a repeated OACK, so
    // a server resending faster than busybox's first wait (100 ms) would starve it.
    settings.retransmitTimeout = 200ms;
    settings.maxRetries = 100;
    Rig rig(settings);
    const QByteArray data = writeRandomFile(rig.folder + QStringLiteral("/image.ub"), 256 << 10, 6);
    const int port = rig.start();
    for (const int blockSize : {512, 1428}) {
        SCOPED_TRACE(blockSize);
        LossyRelay relay(port, 0.10);
        const QString local = rig.scratch.file(QStringLiteral("got.bin"));
        QFile::remove(local);
        const Outcome outcome = runClient(
            getCommand(Client::Busybox, relay.port(), QStringLiteral("image.ub"), local, blockSize),
            rig.scratch.file(QStringLiteral("c.log")));
        EXPECT_EQ(outcome.exitCode, 0) << outcome.output.constData();
        EXPECT_TRUE(readAll(local) == data);
        EXPECT_GT(relay.dropped(), 10);
    }
}

TEST(TftpServer, SixteenClientsAtOnce) {
    Rig rig;
    const QByteArray data = writeRandomFile(rig.folder + QStringLiteral("/image.ub"), 4 << 20, 7);
    const int port = rig.start();
    std::vector<pid_t> pids;
    for (int i = 0; i < 16; ++i)
        pids.push_back(spawnClient(getCommand(i % 2 ? Client::Busybox : Client::Hpa, port,
                                              QStringLiteral("image.ub"),
                                              rig.scratch.file(QStringLiteral("got%1").arg(i))),
                                   rig.scratch.file(QStringLiteral("c%1.log").arg(i))));
    for (int i = 0; i < 16; ++i) {
        const Outcome outcome =
            waitClient(pids[std::size_t(i)], rig.scratch.file(QStringLiteral("c%1.log").arg(i)));
        EXPECT_EQ(outcome.exitCode, 0) << i << outcome.output.constData();
        EXPECT_TRUE(readAll(rig.scratch.file(QStringLiteral("got%1").arg(i))) == data) << i;
    }
}

TEST(TftpServer, SeventeenthWaitsForAStalledClientToBeDropped) {
    TTftpServer::Settings settings;
    settings.retransmitTimeout = 100ms;
    settings.maxRetries = 2;
    Rig rig(settings);
    const QByteArray data = writeRandomFile(rig.folder + QStringLiteral("/image.ub"), 5000, 8);
    const int port = rig.start();
    std::vector<std::unique_ptr<StalledClient>> stalled;
    for (int i = 0; i < 16; ++i) {
        stalled.push_back(std::make_unique<StalledClient>());
        stalled.back()->request(port, "image.ub");
    }
    ASSERT_TRUE(stbtest::spinUntil([&] { return rig.server.activeTransfers() == 16; }, 2000));
    const QString local = rig.scratch.file(QStringLiteral("got.bin"));
    const QString log = rig.scratch.file(QStringLiteral("c.log"));
    Outcome busy =
        runClient(getCommand(Client::Busybox, port, QStringLiteral("image.ub"), local), log);
    EXPECT_TRUE(busy.output.contains("(0) Server busy")) << busy.output.constData();
    // DATA 1 and its two retransmissions, then silence: the client is dropped.
    EXPECT_EQ(stalled.front()->datagramsWithin(600), 3);
    ASSERT_TRUE(stbtest::spinUntil([&] { return rig.server.activeTransfers() == 0; }, 2000));
    const Outcome later =
        runClient(getCommand(Client::Busybox, port, QStringLiteral("image.ub"), local), log);
    EXPECT_EQ(later.exitCode, 0) << later.output.constData();
    EXPECT_TRUE(readAll(local) == data);
    int dropped = 0;
    for (const auto& f : rig.finishedSoFar())
        dropped += f.reason == "the client stopped answering";
    EXPECT_EQ(dropped, 16);
}

TEST(TftpServer, StopFreesThePortAndStartAgainWorks) {
    Rig rig;
    writeRandomFile(rig.folder + QStringLiteral("/image.ub"), 5000, 9);
    const int port = rig.start();
    EXPECT_EQ(rig.server.start(rig.folder.toStdString(), "127.0.0.1", 0), ""); // reused
    EXPECT_EQ(rig.server.boundPort(), port);
    StalledClient stalled;
    stalled.request(port, "image.ub");
    ASSERT_TRUE(stbtest::spinUntil([&] { return rig.server.activeTransfers() == 1; }, 2000));
    rig.server.stop();
    ASSERT_EQ(rig.finishedSoFar().size(), 1u);
    EXPECT_EQ(rig.finishedSoFar()[0].reason, "the server was stopped");
    EXPECT_EQ(rig.server.start(rig.folder.toStdString(), "127.0.0.1", std::uint16_t(port)), "");
    // Another folder restarts the server on it; the port is still taken by it, not free.
    const QString other = rig.scratch.file(QStringLiteral("other"));
    QDir().mkpath(other);
    EXPECT_EQ(rig.server.start(other.toStdString(), "127.0.0.1", std::uint16_t(port)), "");
    TTftpServer second;
    const std::string error = second.start(other.toStdString(), "127.0.0.1", std::uint16_t(port));
    EXPECT_NE(error.find("EADDRINUSE"), std::string::npos) << error;
    EXPECT_NE(second.start("/nonexistent-folder", "", 0).find("ENOENT"), std::string::npos);
    EXPECT_FALSE(second.running());
}

TEST(TftpServer, ServesOnPort69InItsOwnNamespace) {
    NET_TEST_IN_PRIVATE_NETNS();
    Rig rig;
    const QByteArray data =
        writeRandomFile(rig.folder + QStringLiteral("/emergency.ub"), 70000, 10);
    ASSERT_EQ(rig.server.start(rig.folder.toStdString(), "", TTftpServer::kDefaultPort), "");
    const QString local = rig.scratch.file(QStringLiteral("got.bin"));
    const Outcome outcome =
        runClient({QStringLiteral("busybox"), QStringLiteral("tftp"), QStringLiteral("-g"),
                   QStringLiteral("-r"), QStringLiteral("emergency.ub"), QStringLiteral("-l"),
                   local, QStringLiteral("127.0.0.1")},
                  rig.scratch.file(QStringLiteral("c.log")));
    EXPECT_EQ(outcome.exitCode, 0) << outcome.output.constData();
    EXPECT_TRUE(readAll(local) == data);
}
