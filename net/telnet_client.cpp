#include "net/telnet_client.h"

#include "core/posix_io.h"
#include "net/blocking_call.h"
#include "net/net_errors.h"
#include "net/socket_util.h"

#include <QStringDecoder>

#include <chrono>
#include <cstring>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace {

const QString kNoAnswer = QStringLiteral("Server antwortet nicht.");
const QString kClosed = QStringLiteral("Die Verbindung wurde erfolgreich geschlossen.");
// One hand-off carries everything already buffered, up to this much.
constexpr int kMaxBlock = 2 * TTelnetClient::kReadSize;

bool resolve(const QString& host, in_addr* address) {
    if (host.compare(QStringLiteral("LOCALHOST"), Qt::CaseInsensitive) == 0)
        return ::inet_pton(AF_INET, "127.0.0.1", address) == 1;
    const QByteArray name = host.toUtf8();
    if (::inet_pton(AF_INET, name.constData(), address) == 1)
        return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (name.isEmpty() || ::getaddrinfo(name.constData(), nullptr, &hints, &found) != 0)
        return false;
    *address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    ::freeaddrinfo(found);
    return true;
}

// Returns the connected socket, or none for any failure the user can only read as "no answer".
UniqueFd connectWithTimeout(const QString& host, std::uint16_t port, int timeoutMs) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (!resolve(host, &address.sin_addr))
        return {};
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.valid())
        return {};
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (errno != EINPROGRESS)
            return {};
        pollfd entry{fd.get(), POLLOUT, 0};
        const int ready = pollRetrying(&entry, 1, timeoutMs);
        int error = 0;
        socklen_t length = sizeof error;
        if (ready != 1 || ::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 ||
            error != 0)
            return {};
    }
    return fd; // stays non-blocking: the I/O thread never waits inside a socket call
}

} // namespace

TTelnetClient::TTelnetClient(Ticker& ticker, QObject* parent) : QObject(parent), m_ticker(ticker) {
    if (m_wakeFd.valid()) {
        m_wakeNotifier = new QSocketNotifier(m_wakeFd.get(), QSocketNotifier::Read, this);
        connect(m_wakeNotifier, &QSocketNotifier::activated, this, &TTelnetClient::runHandOffs);
    }
}

TTelnetClient::~TTelnetClient() {
    Disconnect();
    // Here rather than with the QObject's children: a notifier must go before the members
    // close the descriptor it watches.
    delete m_wakeNotifier;
}

void TTelnetClient::ResetTelnetClient() {
    Disconnect();
    m_port = kDefaultPort;
    m_parser.setTerminal("dumb");
    m_parser.reset();
}

void TTelnetClient::Connect() {
    if (m_open)
        throw EAlreadyConnected(QStringLiteral("Verbindung besteht bereits."));
    // A session the receiver ended leaves its thread and socket behind; clear them first so
    // two receive threads never read one client.
    Disconnect();

    UniqueFd fd;
    const QString host = m_host;
    const std::uint16_t port = m_port;
    const int timeoutMs = m_connectTimeoutMs;
    runWithoutUserInput([&] { fd = connectWithTimeout(host, port, timeoutMs); });
    if (!fd.valid() || !m_ioWakeFd.valid())
        throw ETelnetClientConnectError(kNoAnswer);
    {
        std::lock_guard lock(m_outMutex);
        m_outgoing.clear();
    }

    m_fd = std::move(fd);
    m_stop = false;
    m_open = true;
    try {
        m_receiver = std::thread([this] { receiveLoop(); });
    } catch (const std::system_error&) {
        Disconnect();
        throw ETelnetClientConnectError(kNoAnswer);
    }
}

void TTelnetClient::Disconnect() {
    {
        std::lock_guard lock(m_handOffMutex);
        m_stop = true;
    }
    m_handOffDone.notify_all();
    m_open = false;
    m_ioWakeFd.signal();
    if (m_receiver.joinable())
        m_receiver.join();
    m_parser.reset(); // only now: the I/O thread used it until the join
    if (m_fd.valid()) {
        flushOutgoing(); // a last "exit" still goes out if the socket takes it at once
        m_fd.reset();
    }
    std::lock_guard lock(m_outMutex);
    m_outgoing.clear();
}

bool TTelnetClient::enqueue(const QByteArray& bytes) {
    {
        std::lock_guard lock(m_outMutex);
        if (m_outgoing.size() + bytes.size() > kMaxOutgoing)
            return false;
        m_outgoing += bytes;
    }
    m_ioWakeFd.signal();
    return true;
}

int TTelnetClient::flushOutgoing() {
    int total = 0;
    for (;;) {
        QByteArray chunk;
        {
            std::lock_guard lock(m_outMutex);
            chunk = m_outgoing.left(kReadSize);
        }
        if (chunk.isEmpty())
            return total;
        const ssize_t sent = sendRetrying(m_fd.get(), chunk.constData(), std::size_t(chunk.size()),
                                          MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK ? total : -1;
        {
            std::lock_guard lock(m_outMutex);
            m_outgoing.remove(0, sent);
        }
        total += static_cast<int>(sent);
        if (sent < chunk.size())
            return total;
    }
}

void TTelnetClient::writeBytes(const QByteArray& bytes) {
    if (!m_open || !m_fd.valid())
        throw EConnClosedGracefully(kClosed);
    if (!enqueue(bytes)) {
        // The receiver has not taken a whole queue of our output: the session is as good as
        // gone, and waiting for it would freeze the window.
        m_open = false;
        m_ioWakeFd.signal();
        throw EConnClosedGracefully(kClosed);
    }
}

void TTelnetClient::SendTelnet(const QString& line) {
    writeBytes(line.toUtf8() + "\r\n");
    m_ticker.WaitTicks(settleTicks(m_settleDelay ? m_settleDelay() : 0, kSendTicks));
}

void TTelnetClient::SendTelnetChar(char c) {
    if (c == '\r' && !m_parser.serverSpeaksTelnet())
        writeBytes("\r\n");
    else
        writeBytes(QByteArray(1, c));
}

bool TTelnetClient::handOver(const QString& text) {
    std::unique_lock lock(m_handOffMutex);
    if (m_stop || !m_wakeFd.valid())
        return false;
    m_handOffs.push_back(text);
    const std::uint64_t ticket = ++m_handOffsQueued;
    m_wakeFd.signal();
    m_handOffDone.wait(lock, [&] { return m_stop.load() || m_handOffsRun >= ticket; });
    return !m_stop;
}

void TTelnetClient::runHandOffs() {
    m_wakeFd.drain();
    for (;;) {
        QString text;
        {
            std::lock_guard lock(m_handOffMutex);
            if (m_handOffs.empty())
                return;
            text = std::move(m_handOffs.front());
            m_handOffs.pop_front();
        }
        if (m_handler)
            m_handler(text);
        {
            std::lock_guard lock(m_handOffMutex);
            ++m_handOffsRun;
        }
        m_handOffDone.notify_all();
    }
}

void TTelnetClient::receiveLoop() {
    using Clock = std::chrono::steady_clock;
    // Received bytes are UTF-8 text; the decoder keeps a character split between two blocks.
    QStringDecoder decoder(QStringDecoder::Utf8);
    QByteArray buffer(kReadSize, Qt::Uninitialized);
    bool overflow = false;
    const TelnetOptionParser::ReplySink reply = [&](const QByteArray& bytes) {
        if (!enqueue(bytes))
            overflow = true; // a storm of requests whose answers the receiver does not read
    };
    Clock::time_point lastProgress = Clock::now();
    while (!m_stop && m_open) {
        bool pending;
        {
            std::lock_guard lock(m_outMutex);
            pending = !m_outgoing.isEmpty();
        }
        int timeoutMs = -1;
        if (!pending) {
            lastProgress = Clock::now();
        } else {
            const auto waited =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lastProgress)
                    .count();
            if (waited >= kSendStallMs)
                break;
            timeoutMs = static_cast<int>(kSendStallMs - waited);
        }
        pollfd fds[2] = {{m_fd.get(), static_cast<short>(POLLIN | (pending ? POLLOUT : 0)), 0},
                         {m_ioWakeFd.get(), POLLIN, 0}};
        if (pollRetrying(fds, 2, timeoutMs) < 0)
            break;
        if (m_stop)
            break;
        if (fds[1].revents & POLLIN)
            m_ioWakeFd.drain();
        const int sent = flushOutgoing();
        if (sent < 0)
            break;
        if (sent > 0)
            lastProgress = Clock::now();
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;

        QByteArray block;
        bool closed = false;
        for (;;) {
            const ssize_t got =
                recvRetrying(m_fd.get(), buffer.data(), std::size_t(buffer.size()), MSG_DONTWAIT);
            if (got > 0) {
                block.append(buffer.constData(), got);
                if (block.size() >= kMaxBlock)
                    break;
                continue;
            }
            if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                break;
            closed = true; // end of stream or a broken connection
            break;
        }
        if (block.isEmpty() && !closed)
            continue;
        const QByteArray text = m_parser.feedBlock(block, reply);
        if (overflow || flushOutgoing() < 0)
            closed = true;
        if (!m_handler)
            break;
        if (!handOver(decoder(text)))
            break;
        if (closed)
            break;
    }
    // The receiver closed, broke or stalled the session: from now on sends fail, and the
    // receiver learns of it at once rather than at the next reset.
    m_open = false;
    if (!m_stop)
        ::shutdown(m_fd.get(), SHUT_RDWR);
}
