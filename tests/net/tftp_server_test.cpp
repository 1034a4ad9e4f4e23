// TTftpServer against real clients (tftp-hpa's tftp, busybox tftp, curl) and hostile raw
// datagrams on loopback; 127.0.0.2 plays another host on the network.
#include "net/tftp_server.h"

#include "tests/net/netns.h"
#include "tests/net/tftp_peers.h"
#include "tests/support/test_support.h"

#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <random>
#include <spawn.h>
#include <thread>

#include <fcntl.h>
#include <sys/wait.h>

extern char** environ;

namespace {

using namespace std::chrono_literals;
using tftptest::LossyRelay;
using tftptest::Probe;

enum class Client { Hpa, Busybox, Curl };

struct Outcome {
    int exitCode = -1;
    QByteArray output; // stdout and stderr
};

// Runs a client to its end with its output in outputFile.
Outcome runClient(const QStringList& command, const QString& outputFile) {
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
    const bool spawned =
        ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    Outcome outcome;
    int status = 0;
    if (spawned && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        outcome.exitCode = WEXITSTATUS(status);
    QFile file(outputFile);
    if (file.open(QIODevice::ReadOnly))
        outcome.output = file.readAll();
    return outcome;
}

QStringList getCommand(Client client, int port, const QString& remote, const QString& local,
                       int blockSize = 0) {
    const QString host = QStringLiteral("127.0.0.1"), portText = QString::number(port);
    const auto asked = [blockSize](const char* option) {
        return blockSize ? QStringList{option, QString::number(blockSize)} : QStringList();
    };
    switch (client) {
    case Client::Hpa: // this client cannot ask for a block size
        return {"tftp", "-m", "binary", host, portText, "-c", "get", remote, local};
    case Client::Busybox:
        return QStringList{"busybox", "tftp", "-g", "-r", remote, "-l", local} << asked("-b")
                                                                               << host << portText;
    case Client::Curl:
        return QStringList{"curl", "-sS", "-o", local}
               << asked("--tftp-blksize") << "tftp://" + host + ":" + portText + "/" + remote;
    }
    return {};
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

// The image served to 127.0.0.1, and a server that records what it reports.
struct Rig {
    stbtest::ScratchDir scratch;
    QString image = scratch.file(QStringLiteral("emergency.ub"));
    std::mutex mutex;
    std::vector<TTftpServer::Finished> finished;
    std::vector<TTftpServer::Progress> progress;
    std::vector<TTftpServer::Refused> refused;
    // Last, so it goes first: stopping reports a live transfer into the vectors above.
    TTftpServer server;

    explicit Rig(const TTftpServer::Settings& settings = {}) : server(settings) {
        server.setFinishedHandler([this](const TTftpServer::Finished& f) {
            std::lock_guard lock(mutex);
            finished.push_back(f);
        });
        server.setProgressHandler([this](const TTftpServer::Progress& p) {
            std::lock_guard lock(mutex);
            progress.push_back(p);
        });
        server.setRefusedHandler([this](const TTftpServer::Refused& r) {
            std::lock_guard lock(mutex);
            refused.push_back(r);
        });
    }
    TTftpServer::Serve serve(std::int64_t size = -1) const {
        return {image.toStdString(), "emergency.ub", size, "127.0.0.1"};
    }
    int start(std::int64_t size = -1) {
        EXPECT_EQ(server.start(serve(size), "127.0.0.1", 0), "");
        return server.boundPort();
    }
    template <class Report> std::vector<Report> snapshot(const std::vector<Report>& reports) {
        std::lock_guard lock(mutex);
        return reports;
    }
    std::vector<TTftpServer::Finished> finishedSoFar() { return snapshot(finished); }
    std::vector<TTftpServer::Refused> refusedSoFar() { return snapshot(refused); }
};

} // namespace

TEST(TftpServer, RealClientsFetchByteIdenticalFiles) {
    Rig rig;
    struct Case {
        Client client;
        const char* name;
        int blockSize;
    };
    const Case cases[] = {
        {Client::Hpa, "emergency.ub", 0},        {Client::Busybox, "emergency.ub", 0},
        {Client::Busybox, "emergency.ub", 1468}, {Client::Busybox, "/emergency.ub", 1428},
        {Client::Curl, "emergency.ub", 0},       {Client::Curl, "emergency.ub", 1468},
    };
    // 64 MiB at 512 bytes a block passes block number 65535.
    for (const qint64 size : {qint64(1) << 20, qint64(64) << 20}) {
        const QByteArray want = writeRandomFile(rig.image, size, unsigned(size));
        const int port = rig.start();
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message()
                         << int(c.client) << " " << c.name << " " << c.blockSize << " " << size);
            const QString local = rig.scratch.file(QStringLiteral("got.bin"));
            QFile::remove(local);
            const Outcome outcome =
                runClient(getCommand(c.client, port, QLatin1String(c.name), local, c.blockSize),
                          rig.scratch.file(QStringLiteral("client.log")));
            EXPECT_EQ(outcome.exitCode, 0) << outcome.output.constData();
            EXPECT_TRUE(readAll(local) == want);
            ASSERT_TRUE(stbtest::spinUntil([&] { return !rig.finishedSoFar().empty(); }, 5000));
            const auto done = rig.finishedSoFar().back();
            EXPECT_TRUE(done.success) << done.reason;
            EXPECT_EQ(done.bytesSent, std::uint64_t(size));
            std::lock_guard lock(rig.mutex);
            ASSERT_FALSE(rig.progress.empty());
            EXPECT_EQ(rig.progress.back().bytesSent, std::uint64_t(size));
            rig.finished.clear();
            rig.progress.clear();
        }
        rig.server.stop();
    }
    EXPECT_TRUE(rig.refusedSoFar().empty());
}

TEST(TftpServer, AnswersNobodyButThePeerAskingForTheName) {
    Rig rig;
    writeRandomFile(rig.image, 5000, 3);
    writeRandomFile(rig.scratch.file(QStringLiteral("other.bin")), 100, 4);
    const int port = rig.start();
    Probe other("127.0.0.2"), peer;
    other.request(port, "emergency.ub");
    EXPECT_TRUE(other.receive(300).empty());
    for (const char* name : {"other.bin", "../emergency.ub", "./emergency.ub", "//emergency.ub",
                             "EMERGENCY.UB", "emergency.ub/"})
        peer.request(port, name);
    EXPECT_TRUE(peer.receive(300).empty());
    // A write request from the peer: one ERROR 2, a second right after it nothing.
    peer.request(port, "new.bin", tftp::Opcode::Wrq);
    peer.request(port, "new.bin", tftp::Opcode::Wrq);
    const auto replies = peer.receive(300);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(tftp::parseError(replies[0])->first, std::uint16_t(tftp::ErrorCode::AccessViolation));
    const auto refused = rig.refusedSoFar();
    ASSERT_EQ(refused.size(), 2u); // once per address
    EXPECT_EQ(refused[0].client, "127.0.0.2");
    EXPECT_EQ(refused[1].client, "127.0.0.1");
    EXPECT_EQ(refused[1].reason, "asked for \"other.bin\"; only \"emergency.ub\" is served");
    EXPECT_TRUE(rig.finishedSoFar().empty());
    EXPECT_FALSE(QFile::exists(rig.scratch.file(QStringLiteral("new.bin"))));
}

TEST(TftpServer, HostileDatagramsCostNothingBeyondOneErrorASecond) {
    // No retransmission of block 1 while the checks below look at the client's socket.
    TTftpServer::Settings settings;
    settings.retransmitTimeout = 5s;
    Rig rig(settings);
    const QByteArray data = writeRandomFile(rig.image, 100000, 5);
    const int port = rig.start();
    // Junk on the listening port all along, from the peer's address and another host's.
    // A jthread, so a failed ASSERT below still stops and joins it.
    std::jthread flood([port](std::stop_token stop) {
        Probe peerAddress, otherHost("127.0.0.2");
        std::mt19937 random(7);
        tftp::Bytes junk(100);
        while (!stop.stop_requested()) {
            for (auto& byte : junk)
                byte = std::uint8_t(random());
            junk[0] = 0; // opcodes 0..255: mostly unknown, sometimes ERROR, ACK or a broken RRQ
            (random() % 2 ? peerAddress : otherHost).send(port, junk);
        }
    });
    Probe client, stranger, otherHost("127.0.0.2");
    client.send(port, tftp::makeError(tftp::ErrorCode::UnknownTransferId, "spoofed"));
    EXPECT_TRUE(client.receive(200).empty());
    // The flood can fill the listening socket's queue, and the kernel then drops the request:
    // like every real client, the probe asks again until DATA 1 comes.
    std::vector<tftp::Bytes> first;
    for (int attempt = 0; attempt < 8 && first.empty(); ++attempt) {
        client.request(port, "emergency.ub");
        first = client.receive(600);
    }
    ASSERT_EQ(first.size(), 1u); // DATA 1, the flood notwithstanding
    const int transferPort = ntohs(client.from.sin_port);
    stranger.send(transferPort, tftp::makeError(tftp::ErrorCode::UnknownTransferId, "x"));
    otherHost.send(transferPort, tftp::makeAck(1));
    EXPECT_TRUE(stranger.receive(200).empty());
    EXPECT_TRUE(otherHost.receive(0).empty());
    for (int i = 0; i < 10; ++i)
        stranger.send(transferPort, tftp::makeAck(1));
    const auto errors = stranger.receive(300);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(tftp::parseError(errors[0])->first,
              std::uint16_t(tftp::ErrorCode::UnknownTransferId));
    // The client's own ERROR ends its transfer, unanswered; then a real client is served.
    client.send(transferPort, tftp::makeError(tftp::ErrorCode::NotDefined, "bye"));
    EXPECT_TRUE(client.receive(300).empty());
    const QString local = rig.scratch.file(QStringLiteral("got.bin"));
    const Outcome outcome = runClient(getCommand(Client::Busybox, port, "emergency.ub", local),
                                      rig.scratch.file(QStringLiteral("c.log")));
    flood.request_stop();
    flood.join();
    EXPECT_EQ(outcome.exitCode, 0) << outcome.output.constData();
    EXPECT_TRUE(readAll(local) == data);
    ASSERT_TRUE(stbtest::spinUntil([&] { return rig.finishedSoFar().size() == 2; }, 2000));
    EXPECT_EQ(rig.finishedSoFar()[0].reason, "the client ended the transfer: bye");
    EXPECT_TRUE(rig.refusedSoFar().empty());
}

TEST(TftpServer, OneTransferPerAddressAndASilentClientIsDroppedSoon) {
    TTftpServer::Settings settings;
    settings.retransmitTimeout = 100ms;
    settings.maxRetries = 2;
    Rig rig(settings);
    writeRandomFile(rig.image, 5000, 8);
    const int port = rig.start();
    Probe first, second;
    first.request(port, "emergency.ub", tftp::Opcode::Rrq, {{"timeout", "255"}});
    second.request(port, "emergency.ub"); // too soon after the first: ignored
    // DATA 1 (no OACK: the long timeout is not granted) and two retransmissions, then silence.
    const auto got = first.receive(300);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(tftp::peekOpcode(got[0]), tftp::Opcode::Data);
    EXPECT_TRUE(second.receive(0).empty());
    ASSERT_TRUE(stbtest::spinUntil([&] { return rig.server.activeTransfers() == 0; }, 2000));
    EXPECT_EQ(rig.finishedSoFar().at(0).reason, "the client stopped answering");

    // A request from the client's address on a new port, forged or not, leaves a transfer
    // that the client's ACKs move on; once the transfer made no progress for its retransmit
    // timeout (1 s, the client's option), the client has given up on it and its new request
    // replaces it.
    first.request(port, "emergency.ub", tftp::Opcode::Rrq, {{"timeout", "1"}});
    ASSERT_EQ(first.receive(200).size(), 1u); // OACK
    const int transferPort = ntohs(first.from.sin_port);
    first.send(transferPort, tftp::makeAck(0));
    ASSERT_EQ(first.receive(200).size(), 1u); // DATA 1
    first.send(transferPort, tftp::makeAck(1));
    second.request(port, "emergency.ub");
    EXPECT_TRUE(second.receive(200).empty());
    EXPECT_EQ(first.receive(200).size(), 1u); // DATA 2: the transfer goes on
    // Real time: the server measures the stall on its own clock.
    std::this_thread::sleep_for(1s);
    second.request(port, "emergency.ub");
    EXPECT_FALSE(second.receive(200).empty());
    ASSERT_GE(rig.finishedSoFar().size(), 2u); // the new transfer may have timed out as well
    EXPECT_EQ(rig.finishedSoFar()[1].reason.rfind("the client asked again from 127.0.0.1:", 0), 0u);
}

TEST(TftpServer, ServesTheFileAsOpenedAtStart) {
    Rig rig;
    const QByteArray data = writeRandomFile(rig.image, 100000, 9);
    EXPECT_EQ(rig.server.start(rig.serve(100001), "127.0.0.1", 0),
              "file " + rig.image.toStdString() + " holds 100000 bytes, 100001 were to be served");
    const QString local = rig.scratch.file(QStringLiteral("got.bin"));
    const QString log = rig.scratch.file(QStringLiteral("c.log"));
    const auto fetch = [&](int port) {
        QFile::remove(local);
        return runClient(getCommand(Client::Busybox, port, "emergency.ub", local, 1468), log);
    };
    // Grown in place, then replaced by another file: the fixed size of the file opened first.
    int port = rig.start(60000);
    QFile file(rig.image);
    ASSERT_TRUE(file.open(QIODevice::Append) && file.write("more") == 4);
    file.close();
    EXPECT_EQ(fetch(port).exitCode, 0);
    EXPECT_TRUE(readAll(local) == data.left(60000));
    port = rig.start();
    ASSERT_TRUE(QFile::rename(rig.image, rig.image + QStringLiteral(".old")));
    writeRandomFile(rig.image, 10, 10);
    EXPECT_EQ(fetch(port).exitCode, 0);
    EXPECT_TRUE(readAll(local) == data + "more");
    // Shrunk in place: the transfer fails, and says so to the client and in the report.
    ASSERT_TRUE(QFile::resize(rig.image + QStringLiteral(".old"), 50000));
    EXPECT_NE(fetch(port).exitCode, 0);
    EXPECT_LT(QFileInfo(local).size(), 50000 + 1468);
    ASSERT_TRUE(stbtest::spinUntil([&] { return rig.finishedSoFar().size() == 3; }, 2000));
    EXPECT_EQ(rig.finishedSoFar()[2].reason,
              "the file shrank while being served: it ends at 50000 of 100004 bytes");
}

TEST(TftpServer, SurvivesTenPercentLoss) {
    TTftpServer::Settings settings;
    // busybox restarts its own wait whenever a packet arrives and ignores a repeated OACK, so
    // a server resending faster than busybox's first wait (100 ms) would starve it.
    settings.retransmitTimeout = 200ms;
    settings.maxRetries = 100;
    Rig rig(settings);
    const QByteArray data = writeRandomFile(rig.image, 256 << 10, 6);
    const int port = rig.start();
    for (const int blockSize : {512, 1468}) {
        SCOPED_TRACE(blockSize);
        LossyRelay relay(port, 0.10);
        const QString local = rig.scratch.file(QStringLiteral("got.bin"));
        QFile::remove(local);
        const Outcome outcome =
            runClient(getCommand(Client::Busybox, relay.port(), QStringLiteral("emergency.ub"),
                                 local, blockSize),
                      rig.scratch.file(QStringLiteral("c.log")));
        EXPECT_EQ(outcome.exitCode, 0) << outcome.output.constData();
        EXPECT_TRUE(readAll(local) == data);
        EXPECT_GT(relay.dropped(), 10);
    }
}

TEST(TftpServer, StopFreesThePortAndStartAgainWorks) {
    Rig rig;
    writeRandomFile(rig.image, 5000, 11);
    const int port = rig.start();
    EXPECT_EQ(rig.server.start(rig.serve(), "127.0.0.1", 0), ""); // reused
    EXPECT_EQ(rig.server.boundPort(), port);
    Probe stalled;
    stalled.request(port, "emergency.ub");
    ASSERT_TRUE(stbtest::spinUntil([&] { return rig.server.activeTransfers() == 1; }, 2000));
    rig.server.stop();
    ASSERT_EQ(rig.finishedSoFar().size(), 1u);
    EXPECT_EQ(rig.finishedSoFar()[0].reason, "the server was stopped");
    EXPECT_EQ(rig.server.start(rig.serve(), "127.0.0.1", std::uint16_t(port)), "");
    // Another serve restarts the server on it; the port is still taken by it, not free.
    EXPECT_EQ(rig.server.start(rig.serve(10), "127.0.0.1", std::uint16_t(port)), "");
    TTftpServer second;
    struct Refusal {
        TTftpServer::Serve serve;
        int port;
        const char* reason;
    };
    const Refusal refusals[] = {
        {rig.serve(), port, "EADDRINUSE"},
        {{"/nonexistent", "x", -1, "127.0.0.1"}, 0, "ENOENT"},
        {{"/tmp", "x", -1, "127.0.0.1"}, 0, "not a regular file"},
        {{rig.image.toStdString(), "x", -1, "127.0.0.1;reboot"}, 0, "is not an IPv4 address"},
    };
    for (const Refusal& r : refusals) {
        const std::string error = second.start(r.serve, "127.0.0.1", std::uint16_t(r.port));
        EXPECT_NE(error.find(r.reason), std::string::npos) << error;
    }
    EXPECT_FALSE(second.running());
}

TEST(TftpServer, ServesOnAnAdoptedPort69AndClosesIt) {
    NET_TEST_IN_PRIVATE_NETNS();
    Rig rig;
    const QByteArray data = writeRandomFile(rig.image, 70000, 10);
    // As the privileged helper hands it over: bound, and only then given to the server.
    const auto bound69 = [](int type) {
        UniqueFd fd(::socket(AF_INET, type | SOCK_CLOEXEC, 0));
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        local.sin_port = htons(TTftpServer::kDefaultPort);
        EXPECT_EQ(::bind(fd.get(), reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
        return fd;
    };
    EXPECT_EQ(rig.server.start(rig.serve(), bound69(SOCK_STREAM)),
              "adopted socket: not an IPv4 UDP socket");
    ASSERT_EQ(rig.server.start(rig.serve(), bound69(SOCK_DGRAM)), "");
    EXPECT_EQ(rig.server.boundPort(), TTftpServer::kDefaultPort);
    const QString local = rig.scratch.file(QStringLiteral("got.bin"));
    const Outcome outcome =
        runClient({"busybox", "tftp", "-g", "-r", "emergency.ub", "-l", local, "127.0.0.1"},
                  rig.scratch.file(QStringLiteral("c.log")));
    EXPECT_EQ(outcome.exitCode, 0) << outcome.output.constData();
    EXPECT_TRUE(readAll(local) == data);
    rig.server.stop();
    bound69(SOCK_DGRAM); // binds: the port is free again
}
