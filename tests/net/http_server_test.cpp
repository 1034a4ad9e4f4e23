#include "net/http_server.h"
#include "net/net_errors.h"
#include "tests/net/netns.h"
#include "tests/support/test_support.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// Deterministic pseudo-random content, so a mix-up of offsets shows as a mismatch.
void writePatternFile(const QString& path, std::size_t size) {
    std::ofstream out(path.toStdString(), std::ios::binary);
    std::vector<std::uint64_t> block(1 << 16);
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    std::size_t left = size;
    while (left > 0) {
        for (auto& word : block) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            word = state;
        }
        const std::size_t n = std::min(left, block.size() * sizeof(std::uint64_t));
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
        left -= n;
    }
}

QByteArray fileHash(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result().toHex();
}

// source: the loopback address the client binds to, so one machine plays several hosts.
int connectTo(std::uint16_t port, const char* source = "127.0.0.1", int receiveBuffer = 0) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    ::inet_pton(AF_INET, source, &from.sin_addr);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Sends request, reads until the server closes; returns everything received.
QByteArray exchange(std::uint16_t port, const QByteArray& request,
                    const char* source = "127.0.0.1") {
    const int fd = connectTo(port, source);
    if (fd < 0)
        return "connect failed";
    ::send(fd, request.constData(), static_cast<std::size_t>(request.size()), MSG_NOSIGNAL);
    QByteArray answer;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        answer.append(buffer, got);
    }
    ::close(fd);
    return answer;
}

QString runPeer(const QString& program, const QStringList& arguments, int* exitCode) {
    QProcess peer;
    peer.setProcessChannelMode(QProcess::MergedChannels);
    peer.start(program, arguments);
    peer.waitForFinished(60000);
    *exitCode = peer.exitStatus() == QProcess::NormalExit ? peer.exitCode() : -1;
    return QString::fromLocal8Bit(peer.readAll());
}

// Threads of this process right now.
int threadCount() {
    return static_cast<int>(QDir(QStringLiteral("/proc/self/task"))
                                .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                                .size());
}

long residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long value = 0;
            status >> value;
            return value;
        }
    }
    return -1;
}

class HttpServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_file = m_scratch.file(QStringLiteral("proftpd.tar.bz2"));
        writePatternFile(m_file, 3 * 1024 * 1024 + 17);
        m_server.setServeLocation(QString(), m_file);
        m_server.setDefaultPort(0);
        m_server.setBindAddress(QStringLiteral("127.0.0.1"));
        m_server.Activate();
        m_port = m_server.boundPort();
        ASSERT_NE(m_port, 0);
    }
    // Starts the server afresh with the fixture's settings plus configure's.
    void restart(const std::function<void(THTTPServer&)>& configure) {
        m_server.StopAndRelease();
        configure(m_server);
        m_server.Activate();
        m_port = m_server.boundPort();
    }
    bool spinUntilConnections(int count) {
        return stbtest::spinUntil([&] { return m_server.connectionCount() == count; }, 20000);
    }
    QString url(const QString& target) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(target);
    }
    QByteArray expectedHeader(qint64 length) const {
        return "HTTP/1.1 200 OK\r\nServer: stbmate-http/1.0\r\nContent-Type: text/html\r\n"
               "Content-Length: " +
               QByteArray::number(length) + "\r\n\r\n";
    }

    stbtest::ScratchDir m_scratch;
    QString m_file;
    THTTPServer m_server;
    std::uint16_t m_port = 0;
};

TEST_F(HttpServerTest, RealClientsDownloadTheFileForAnyTarget) {
    const QByteArray want = fileHash(m_file);
    struct Peer {
        QString program;
        QStringList arguments;
    };
    const QString out = m_scratch.file(QStringLiteral("out"));
    const QString curl = nettest::RequireProgram(QStringLiteral("curl"));
    const QString wget = nettest::RequireProgram(QStringLiteral("wget"));
    const QString busybox = nettest::RequireProgram(QStringLiteral("busybox"));
    const Peer peers[] = {
        {curl, {QStringLiteral("-sSf"), QStringLiteral("-o"), out, url(QStringLiteral("/"))}},
        {curl,
         {QStringLiteral("-sSf"), QStringLiteral("--http1.0"), QStringLiteral("-o"), out,
          url(QStringLiteral("/anything?x=1"))}},
        {wget, {QStringLiteral("-q"), QStringLiteral("-O"), out, url(QStringLiteral("/x/y.z"))}},
        {busybox,
         {QStringLiteral("wget"), QStringLiteral("-q"), QStringLiteral("-O"), out,
          url(QStringLiteral("/Downloads/proftpd.tar.bz2"))}},
    };
    for (const Peer& peer : peers) {
        SCOPED_TRACE(peer.arguments.join(' ').toStdString());
        QFile::remove(out);
        int exitCode = -1;
        const QString log = runPeer(peer.program, peer.arguments, &exitCode);
        EXPECT_EQ(exitCode, 0) << log.toStdString();
        EXPECT_EQ(fileHash(out), want);
    }
}

TEST_F(HttpServerTest, ExactAnswerBytesForGetHeadAndMissingFile) {
    const qint64 size = QFileInfo(m_file).size();
    const QByteArray get = exchange(m_port, "GET /a HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(get.startsWith(expectedHeader(size))) << get.left(200).toStdString();
    EXPECT_EQ(get.size(), expectedHeader(size).size() + size);

    // HEAD: the header with the real length, and nothing after it.
    EXPECT_EQ(exchange(m_port, "HEAD / HTTP/1.1\r\nHost: x\r\n\r\n"), expectedHeader(size));
    int exitCode = -1;
    const QString curlHead = runPeer(nettest::RequireProgram(QStringLiteral("curl")),
                                     {QStringLiteral("-sSfI"), QStringLiteral("--max-time"),
                                      QStringLiteral("10"), url(QStringLiteral("/"))},
                                     &exitCode);
    EXPECT_EQ(exitCode, 0) << curlHead.toStdString();
    EXPECT_TRUE(curlHead.contains(QStringLiteral("Content-Length: %1").arg(size)));

    // A POST with a body gets the file too.
    EXPECT_TRUE(exchange(m_port, "POST / HTTP/1.0\r\nContent-Length: 3\r\n\r\nabc")
                    .startsWith(expectedHeader(size)));

    const QString missing = m_scratch.file(QStringLiteral("gone.bz2"));
    m_server.setServeLocation(QString(), missing);
    const QByteArray message =
        QStringLiteral("Datei %1 kann nicht geöffnet werden").arg(missing).toUtf8();
    EXPECT_EQ(exchange(m_port, "GET / HTTP/1.1\r\n\r\n"),
              "HTTP/1.1 500 Interner Server-Fehler\r\nServer: stbmate-http/1.0\r\n"
              "Content-Type: text/html\r\nContent-Length: " +
                  QByteArray::number(message.size()) + "\r\n\r\n" + message);
    // Nothing chosen yet, and a folder, are not files either.
    m_server.setServeLocation(QString(), QString());
    EXPECT_TRUE(
        exchange(m_port, "GET / HTTP/1.1\r\n\r\n").endsWith("Datei  kann nicht geöffnet werden"));
    m_server.setServeLocation(QString(), m_scratch.path());
    EXPECT_TRUE(exchange(m_port, "GET / HTTP/1.1\r\n\r\n").startsWith("HTTP/1.1 500 "));
    // Drive and path are joined as they are.
    m_server.setServeLocation(m_file.left(2), m_file.mid(2));
    EXPECT_TRUE(exchange(m_port, "GET / HTTP/1.1\r\n\r\n").startsWith(expectedHeader(size)));
}

TEST_F(HttpServerTest, RefusedRequestsAreClosedWithoutAnAnswer) {
    for (const QByteArray& request :
         {QByteArray("GARBAGE\r\n\r\n"), QByteArray("DELETE / HTTP/1.1\r\n\r\n"),
          QByteArray("GET / HTTP/1.1\r\nAuthorization: Digest x\r\n\r\n")}) {
        EXPECT_EQ(exchange(m_port, request), QByteArray()) << request.toStdString();
    }
}

// One deadline from the connection on: a byte now and then does not keep a request alive.
TEST_F(HttpServerTest, TricklingRequestIsClosedAtItsDeadlineWithoutAnAnswer) {
    restart([](THTTPServer& server) { server.setRequestTimeoutMs(200); });
    const int fd = connectTo(m_port);
    ASSERT_GE(fd, 0);
    const QByteArray request = "GET / HTTP/1.0\r\nX-Slow: abcdefghijklmnopqrstuvwxyz\r\n\r\n";
    // Real time: the server's deadline has to pass while bytes still come, each well within
    // it of the last.
    for (const char byte : request) {
        ::send(fd, &byte, 1, MSG_NOSIGNAL);
        std::this_thread::sleep_for(20ms);
    }
    char buffer[256];
    EXPECT_LE(::recv(fd, buffer, sizeof buffer, 0), 0) << "no answer, only the close";
    ::close(fd);
}

// A client that stops reading mid-answer loses its connection; one that reads gets the file.
TEST_F(HttpServerTest, StalledReaderIsDroppedAfterTheStallTime) {
    const QString big = m_scratch.file(QStringLiteral("sparse.bz2"));
    QFile sparse(big);
    ASSERT_TRUE(sparse.open(QIODevice::WriteOnly) && sparse.resize(1ll << 30));
    sparse.close();
    m_server.setServeLocation(QString(), big);
    restart([](THTTPServer& server) { server.setSendStallMs(300); });
    const int fd = connectTo(m_port, "127.0.0.1", 4096);
    ASSERT_GE(fd, 0);
    ::send(fd, "GET / HTTP/1.0\r\n\r\n", 18, MSG_NOSIGNAL);
    ASSERT_TRUE(spinUntilConnections(1));
    EXPECT_TRUE(spinUntilConnections(0)) << "the stalled answer was dropped";
    qint64 received = 0;
    char buffer[65536];
    ssize_t got = 0;
    while ((got = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
        received += got;
    EXPECT_LT(received, 1ll << 30);
    // Reset, so the kernel does not keep the unsent rest for a peer that is not reading.
    EXPECT_TRUE(got < 0 && errno == ECONNRESET) << got;
    ::close(fd);
}

TEST_F(HttpServerTest, HugeRequestLineIsRefusedWithBoundedMemory) {
    const long before = residentKiB();
    const QByteArray flood(1024 * 1024, 'A');
    for (int i = 0; i < 20; ++i) {
        const int fd = connectTo(m_port);
        ASSERT_GE(fd, 0);
        const ssize_t sent = ::send(fd, flood.constData(), flood.size(), MSG_NOSIGNAL);
        // The server closes once the cap is passed; whatever got through, no answer came.
        char byte;
        EXPECT_LE(::recv(fd, &byte, 1, 0), 0) << "sent " << sent;
        ::close(fd);
    }
    const long after = residentKiB();
    EXPECT_LT(after - before, 16 * 1024) << "RSS grew from " << before << " to " << after << " KiB";
    // The server still works.
    EXPECT_TRUE(exchange(m_port, "GET / HTTP/1.0\r\n\r\n").startsWith("HTTP/1.1 200 OK"));
}

TEST_F(HttpServerTest, SecondServerOnTheSamePortIsRefused) {
    THTTPServer second;
    second.setDefaultPort(m_port);
    second.setBindAddress(QStringLiteral("127.0.0.1"));
    try {
        second.Activate();
        ADD_FAILURE() << "bind on a taken port succeeded";
    } catch (const ECouldNotBindSocket& error) {
        EXPECT_EQ(error.message(), QStringLiteral("Socket konnte nicht gebunden werden. Adresse "
                                                  "und Port werden bereits benutzt."));
    }
    EXPECT_FALSE(second.active());
}

TEST_F(HttpServerTest, ClientHangingUpMidDownloadEndsOnlyItsConnection) {
    // A large body so the server is still inside sendfile when the client goes away.
    const QString big = m_scratch.file(QStringLiteral("big.bin"));
    writePatternFile(big, 64 * 1024 * 1024);
    m_server.setServeLocation(QString(), big);
    for (int round = 0; round < 5; ++round) {
        const int fd = connectTo(m_port);
        ASSERT_GE(fd, 0);
        ::send(fd, "GET / HTTP/1.0\r\n\r\n", 18, MSG_NOSIGNAL);
        char buffer[4096];
        ASSERT_GT(::recv(fd, buffer, sizeof buffer, 0), 0);
        // Reset rather than close, so the server's next write fails at once.
        const linger hardClose{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hardClose, sizeof hardClose);
        ::close(fd);
    }
    // Still alive and still serving.
    EXPECT_TRUE(exchange(m_port, "HEAD / HTTP/1.0\r\n\r\n").startsWith("HTTP/1.1 200"));
}

TEST_F(HttpServerTest, StopClosesIdleAndStalledConnectionsWithinFiveSeconds) {
    const int threadsBefore = threadCount(); // the listener among them
    std::vector<int> idle;
    for (int i = 0; i < 7; ++i) // with the stalled one, as many as one peer may hold
        idle.push_back(connectTo(m_port));
    // A download whose client never reads: the server sits in sendfile.
    const int stalled = connectTo(m_port);
    ::send(stalled, "GET / HTTP/1.0\r\n\r\n", 18, MSG_NOSIGNAL);
    ASSERT_TRUE(spinUntilConnections(8));

    const auto start = std::chrono::steady_clock::now();
    m_server.StopAndRelease();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5500ms);
    EXPECT_FALSE(m_server.active());
    // Every connection thread has ended, not merely been left behind, and the listener too.
    EXPECT_LT(threadCount(), threadsBefore);
    EXPECT_LT(connectTo(m_port), 0) << "nobody listens any more";
    char byte;
    EXPECT_EQ(::recv(idle.front(), &byte, 1, 0), 0) << "idle client sees the close";
    for (int fd : idle)
        ::close(fd);
    ::close(stalled);
    // Starting again afresh works.
    m_server.ResetToInitialSettings();
    m_server.setDefaultPort(0);
    m_server.setBindAddress(QStringLiteral("127.0.0.1"));
    m_server.Activate();
    EXPECT_TRUE(
        exchange(m_server.boundPort(), "GET / HTTP/1.0\r\n\r\n").startsWith("HTTP/1.1 200"));
}

// While the receiver is set, another host holding a thousand connections cannot crowd it out,
// and the receiver itself holds at most eight.
TEST_F(HttpServerTest, OnlyTheReceiverIsAnsweredAndAtMostEightAtATime) {
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = std::max<rlim_t>(files.rlim_cur, std::min<rlim_t>(files.rlim_max, 4096));
    ::setrlimit(RLIMIT_NOFILE, &files);
    restart([](THTTPServer& server) { server.setReceiverAddress(QStringLiteral("127.0.0.2")); });
    std::vector<int> other;
    for (int i = 0; i < 1030; ++i) {
        const int fd = connectTo(m_port, "127.0.0.3");
        ASSERT_GE(fd, 0) << i;
        other.push_back(fd);
    }
    std::vector<int> own;
    for (int i = 0; i < 8; ++i)
        own.push_back(connectTo(m_port, "127.0.0.2"));
    ASSERT_TRUE(spinUntilConnections(8));
    EXPECT_EQ(exchange(m_port, "GET / HTTP/1.0\r\n\r\n", "127.0.0.2"), QByteArray())
        << "a ninth connection is closed at once";
    ::close(own.back());
    own.pop_back();
    ASSERT_TRUE(spinUntilConnections(7));

    const QByteArray answer = exchange(m_port, "GET / HTTP/1.0\r\n\r\n", "127.0.0.2");
    QFile file(m_file);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(answer == expectedHeader(file.size()) + file.readAll()) << "the whole file";
    char byte;
    EXPECT_EQ(::recv(other.front(), &byte, 1, 0), 0) << "the other host was closed at accept";
    EXPECT_EQ(m_server.takeRefusedPeers(), QStringList{QStringLiteral("127.0.0.3")});
    EXPECT_EQ(m_server.takeRefusedPeers(), QStringList());
    for (int fd : own)
        ::close(fd);
    for (int fd : other)
        ::close(fd);
}

TEST_F(HttpServerTest, TwoHundredConcurrentDownloadsAreByteIdentical) {
    static constexpr int kClients = 200;
    const QString big = m_scratch.file(QStringLiteral("big.bz2"));
    constexpr std::size_t kSize = 50u * 1024 * 1024;
    writePatternFile(big, kSize);
    m_server.setServeLocation(QString(), big);
    restart([](THTTPServer& server) { server.setMaxConnectionsPerPeer(kClients); });
    const int fileFd = ::open(big.toLocal8Bit().constData(), O_RDONLY);
    ASSERT_GE(fileFd, 0);
    auto* original =
        static_cast<const char*>(::mmap(nullptr, kSize, PROT_READ, MAP_SHARED, fileFd, 0));
    ASSERT_NE(original, MAP_FAILED);

    // Each client compares what it gets against the file itself as it arrives: an exact check
    // without keeping 200 copies.
    std::atomic<int> identical{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.emplace_back([&] {
            const int fd = connectTo(m_port);
            if (fd < 0)
                return;
            ::send(fd, "GET /big HTTP/1.0\r\n\r\n", 21, MSG_NOSIGNAL);
            const QByteArray header = expectedHeader(kSize);
            std::vector<char> buffer(256 * 1024);
            QByteArray head;
            std::size_t offset = 0;
            bool same = true;
            for (;;) {
                const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), 0);
                if (got <= 0)
                    break;
                std::size_t at = 0;
                if (head.size() < header.size()) {
                    const std::size_t need = static_cast<std::size_t>(header.size() - head.size());
                    const std::size_t take = std::min<std::size_t>(need, got);
                    head.append(buffer.data(), static_cast<qsizetype>(take));
                    at = take;
                }
                const std::size_t body = static_cast<std::size_t>(got) - at;
                if (offset + body > kSize ||
                    std::memcmp(buffer.data() + at, original + offset, body) != 0)
                    same = false;
                offset += body;
            }
            ::close(fd);
            if (same && head == header && offset == kSize)
                ++identical;
        });
    }
    for (auto& client : clients)
        client.join();
    EXPECT_EQ(identical.load(), kClients);
    ::munmap(const_cast<char*>(original), kSize);
    ::close(fileFd);
}

TEST(HttpServerInitialSettings, ServesOnAFreeUnprivilegedPortToBusyboxWget) {
    stbtest::ScratchDir scratch;
    const QString file = scratch.file(QStringLiteral("proftpd.tar.bz2"));
    writePatternFile(file, 200 * 1024);
    THTTPServer server; // initial settings: a free port, all addresses
    server.setServeLocation(QString(), file);
    server.Activate();
    const std::uint16_t port = server.boundPort();
    EXPECT_GE(port, 1024);
    const QString out = scratch.file(QStringLiteral("fetched"));
    int exitCode = -1;
    const QString log =
        runPeer(nettest::RequireProgram(QStringLiteral("busybox")),
                {QStringLiteral("wget"), QStringLiteral("-O"), out,
                 QStringLiteral("http://127.0.0.1:%1/data/proftpd.tar.bz2").arg(port)},
                &exitCode);
    EXPECT_EQ(exitCode, 0) << log.toStdString();
    EXPECT_EQ(fileHash(out), fileHash(file));
    server.StopAndRelease();
}

} // namespace
