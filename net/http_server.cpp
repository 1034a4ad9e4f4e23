#include "net/http_server.h"

#include "core/posix_io.h"
#include "net/net_errors.h"
#include "net/socket_util.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <list>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>

namespace {

constexpr int kListenerWaitMs = 1000;
// After the answer, unread request bytes would turn our close into a reset that can destroy
// the answer still in flight; read them away for this long first.
constexpr int kLingerMs = 2000;

using Clock = std::chrono::steady_clock;

int millisecondsUntil(Clock::time_point when) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(when - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

QString dotted(in_addr_t address) {
    char text[INET_ADDRSTRLEN] = {};
    in_addr a{};
    a.s_addr = address;
    ::inet_ntop(AF_INET, &a, text, sizeof text);
    return QString::fromLatin1(text);
}

} // namespace

// ---------------------------------------------------------------------------------------------

void HttpConnection::waitWritable() {
    // Every wait starts afresh, so only a stretch without any progress ends the answer; a
    // slow but moving download goes on.
    pollfd entry{m_fd, POLLOUT, 0};
    const int ready = pollRetrying(&entry, 1, m_stallMs);
    if (ready <= 0 || (entry.revents & (POLLERR | POLLHUP | POLLNVAL)))
        throw EConnectionLost("send stalled");
}

void HttpConnection::sendBytes(const char* data, std::size_t size, int flags) {
    while (size > 0) {
        const ssize_t sent = sendRetrying(m_fd, data, size, flags | MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                throw EConnectionLost("send");
            waitWritable();
            continue;
        }
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
}

void HttpConnection::writeHeader(HttpResponseInfo& response, bool moreFollows) {
    const QByteArray header = response.takeHeader();
    if (header.isNull())
        throw ENetError(QStringLiteral("Der Header wurde bereits geschrieben."));
    sendBytes(header.constData(), static_cast<std::size_t>(header.size()),
              moreFollows && !m_headOnly ? MSG_MORE : 0);
}

std::int64_t HttpConnection::sendFileBody(int fileFd, std::int64_t size) {
    if (m_headOnly)
        return 0;
    off_t offset = 0;
    while (offset < size) {
        const std::size_t chunk =
            static_cast<std::size_t>(std::min<std::int64_t>(size - offset, 1 << 30));
        const ssize_t sent =
            retryingEintr([&] { return ::sendfile(m_fd, fileFd, &offset, chunk); });
        if (sent < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                throw EConnectionLost("sendfile");
            waitWritable();
            continue;
        }
        if (sent == 0)
            break; // the file got shorter while we were sending it
    }
    return offset;
}

void HttpConnection::sendContent(const QByteArray& bytes) {
    if (m_headOnly || bytes.isEmpty())
        return;
    sendBytes(bytes.constData(), static_cast<std::size_t>(bytes.size()), 0);
}

std::int64_t SendFileResponse(HttpConnection& connection, HttpResponseInfo& response,
                              const QString& path) {
    // Content type stays "text/html": the receiver's download tool ignores it and the file
    // name's extension would not tell it anything useful either.
    const QByteArray native = path.toLocal8Bit();
    UniqueFd file(::open(native.constData(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (native.isEmpty() || !file.valid() || ::fstat(file.get(), &info) != 0 ||
        !S_ISREG(info.st_mode))
        throw ENetError(QStringLiteral("Datei %1 kann nicht geöffnet werden").arg(path));
    response.contentLength = info.st_size;
    connection.writeHeader(response, true);
    return connection.sendFileBody(file.get(), info.st_size);
}

// ---------------------------------------------------------------------------------------------

struct THTTPServer::Shared {
    struct Connection {
        UniqueFd fd;
        in_addr_t peer = 0;
        Clock::time_point accepted;
        std::thread thread;
        bool done = false;
    };

    mutable std::mutex mutex;
    std::condition_variable changed;
    // A connection thread holds its own entry and a share of this state, so a thread that
    // outlives StopAndRelease still writes only to live memory.
    std::list<std::shared_ptr<Connection>> connections; // guarded by mutex
    bool stopping = false;                              // guarded by mutex
    std::map<in_addr_t, int> perPeer;                   // open connections; guarded by mutex
    std::set<in_addr_t> refusedSeen;                    // guarded by mutex
    QStringList refusedNew;                             // not yet taken; guarded by mutex

    UniqueFd listenFd;
    WakeFd wakeFd; // wakes the listener out of its wait
    std::thread listener;
    std::uint16_t port = 0;
    int requestTimeoutMs = kDefaultRequestTimeoutMs;
    int sendStallMs = kDefaultSendStallMs;
    int maxPerPeer = kDefaultMaxPerPeer;
    bool onlyReceiver = false;
    in_addr_t receiver = 0;
    CommandHandler handler;

    void listen(const std::shared_ptr<Shared>& self);
    bool admit(in_addr_t peer); // under mutex
    void serve(const std::shared_ptr<Connection>& entry);
    void handleConnection(int fd, Clock::time_point accepted);
    void reapFinished();
};

void THTTPServer::Shared::reapFinished() {
    std::list<std::shared_ptr<Connection>> finished;
    {
        std::lock_guard lock(mutex);
        for (auto it = connections.begin(); it != connections.end();) {
            auto next = std::next(it);
            if ((*it)->done)
                finished.splice(finished.end(), connections, it);
            it = next;
        }
    }
    for (auto& connection : finished)
        connection->thread.join();
}

void THTTPServer::Shared::listen(const std::shared_ptr<Shared>& self) {
    for (;;) {
        pollfd fds[2] = {{listenFd.get(), POLLIN, 0}, {wakeFd.get(), POLLIN, 0}};
        const int ready = ::poll(fds, 2, kListenerWaitMs);
        {
            std::lock_guard lock(mutex);
            if (stopping)
                return;
        }
        reapFinished();
        if (ready <= 0 || !(fds[0].revents & POLLIN))
            continue;
        // Take every waiting connection in one go, so a burst never overflows the queue.
        for (;;) {
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            UniqueFd fd(::accept4(listenFd.get(), reinterpret_cast<sockaddr*>(&from), &fromLength,
                                  SOCK_CLOEXEC | SOCK_NONBLOCK));
            if (!fd.valid()) {
                // Out of descriptors: the connection stays queued and poll would report it
                // again at once; give the running downloads a moment to finish instead of
                // spinning.
                if (errno == EMFILE || errno == ENFILE)
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                break;
            }
            std::lock_guard lock(mutex);
            const in_addr_t peer = from.sin_addr.s_addr;
            if (stopping || !admit(peer))
                continue; // closed unseen: no other thread knows its number
            auto entry = std::make_shared<Connection>();
            entry->fd = std::move(fd);
            entry->peer = peer;
            entry->accepted = Clock::now();
            try {
                entry->thread = std::thread([self, entry] { self->serve(entry); });
                connections.push_back(entry);
                ++perPeer[peer];
            } catch (const std::system_error&) {
                entry->fd.reset();
            }
        }
    }
}

bool THTTPServer::Shared::admit(in_addr_t peer) {
    if (onlyReceiver && peer != receiver) {
        if (refusedSeen.insert(peer).second)
            refusedNew.append(dotted(peer));
        return false;
    }
    if (static_cast<int>(connections.size()) >= kMaxConnections)
        return false;
    const auto open = perPeer.find(peer);
    return open == perPeer.end() || open->second < maxPerPeer;
}

void THTTPServer::Shared::serve(const std::shared_ptr<Connection>& entry) {
    int fd;
    Clock::time_point accepted;
    {
        std::lock_guard lock(mutex);
        fd = entry->fd.get();
        accepted = entry->accepted;
    }
    handleConnection(fd, accepted);
    {
        // Closing under the lock keeps StopAndRelease from shutting down a reused number.
        std::lock_guard lock(mutex);
        entry->fd.reset();
        entry->done = true;
        if (--perPeer[entry->peer] <= 0)
            perPeer.erase(entry->peer);
    }
    changed.notify_all();
}

void THTTPServer::Shared::handleConnection(int fd, Clock::time_point accepted) {
    HttpRequestParser parser;
    char buffer[16 * 1024];
    // One deadline for the whole request: a client trickling a byte now and then would
    // otherwise hold its connection for ever.
    const Clock::time_point deadline = accepted + std::chrono::milliseconds(requestTimeoutMs);
    while (parser.status() == HttpRequestParser::Status::Incomplete) {
        const int left = millisecondsUntil(deadline);
        if (left <= 0 || waitReadable(fd, left) != 1)
            return; // too slow, or the socket broke: close without an answer
        const ssize_t got = recvRetrying(fd, buffer, sizeof buffer, 0);
        if (got < 0) {
            if (errno == EAGAIN)
                continue;
            return; // reset by the peer: close quietly
        }
        if (got == 0)
            parser.finish();
        else
            parser.feed(buffer, static_cast<std::size_t>(got));
    }
    if (parser.status() == HttpRequestParser::Status::Bad)
        return;

    const HttpRequestInfo& request = parser.request();
    HttpConnection connection(fd, request.command == "HEAD", sendStallMs);
    HttpResponseInfo response;
    try {
        try {
            if (handler)
                handler(request, response, connection);
        } catch (const EConnectionLost&) {
            throw;
        } catch (const ENetError& error) {
            response.setStatus(500);
            response.contentText = error.message().toUtf8();
        } catch (const std::exception& error) {
            response.setStatus(500);
            response.contentText = QByteArray(error.what());
        }
        if (!response.headerWritten)
            connection.writeHeader(response, !response.contentText.isEmpty());
        connection.sendContent(response.contentText);
    } catch (const EConnectionLost&) {
        // A reset, not a close: a peer that stopped reading would otherwise keep the unsent
        // part of the file in the kernel for minutes after we gave up on it.
        const linger reset{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        return;
    }

    // Tell the client we are done, then wait for its close so that unread bytes it sent
    // cannot turn our close into a reset.
    ::shutdown(fd, SHUT_WR);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLingerMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              until - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0 || waitReadable(fd, static_cast<int>(left)) != 1)
            return;
        if (::recv(fd, buffer, sizeof buffer, 0) <= 0)
            return;
    }
}

// ---------------------------------------------------------------------------------------------

THTTPServer::THTTPServer() {
    ResetToInitialSettings();
}

THTTPServer::~THTTPServer() {
    StopAndRelease();
}

void THTTPServer::ResetToInitialSettings() {
    StopAndRelease();
    m_port = kDefaultPort;
    m_bindAddress.clear();
    m_requestTimeoutMs = kDefaultRequestTimeoutMs;
    m_sendStallMs = kDefaultSendStallMs;
    m_maxPerPeer = kDefaultMaxPerPeer;
    m_receiverAddress.clear();
    m_refusedBeforeStop.clear();
    // The handler shares the location with the server, so a connection thread that outlives
    // the server still reads valid memory.
    m_handler = [location = m_location](const HttpRequestInfo&, HttpResponseInfo& response,
                                        HttpConnection& connection) {
        SendFileResponse(connection, response, location->file());
    };
}

void THTTPServer::setServeLocation(const QString& drive, const QString& path) {
    std::lock_guard lock(m_location->mutex);
    m_location->drive = drive;
    m_location->path = path;
}

QString THTTPServer::servePath() const {
    std::lock_guard lock(m_location->mutex);
    return m_location->path;
}

QString THTTPServer::ServeLocation::file() const {
    std::lock_guard lock(mutex);
    return drive + path;
}

bool THTTPServer::active() const {
    return m_shared != nullptr;
}

std::uint16_t THTTPServer::boundPort() const {
    return m_shared ? m_shared->port : 0;
}

int THTTPServer::connectionCount() const {
    if (!m_shared)
        return 0;
    std::lock_guard lock(m_shared->mutex);
    return static_cast<int>(std::count_if(m_shared->connections.begin(),
                                          m_shared->connections.end(),
                                          [](const auto& c) { return !c->done; }));
}

void THTTPServer::Activate() {
    if (m_shared)
        return;
    auto shared = std::make_shared<Shared>();
    if (!shared->wakeFd.valid())
        throw ESocketError(errno); // the failed eventfd's, nothing ran since
    shared->requestTimeoutMs = m_requestTimeoutMs;
    shared->sendStallMs = m_sendStallMs;
    shared->maxPerPeer = m_maxPerPeer;
    const QString receiver = m_receiverAddress.trimmed();
    if (!receiver.isEmpty()) {
        shared->onlyReceiver = true;
        in_addr address{};
        const QByteArray text =
            receiver.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0
                ? QByteArray("127.0.0.1")
                : receiver.toLatin1();
        // An address that does not parse matches no peer: nobody is answered.
        shared->receiver = ::inet_pton(AF_INET, text.constData(), &address) == 1
                               ? address.s_addr
                               : htonl(INADDR_NONE);
    }
    shared->handler = m_handler;

    shared->listenFd.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!shared->listenFd.valid())
        throw ESocketError(errno);
    const int on = 1;
    ::setsockopt(shared->listenFd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(m_port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!m_bindAddress.isEmpty() &&
        ::inet_pton(AF_INET, m_bindAddress.toLatin1().constData(), &address.sin_addr) != 1)
        throw ESocketError(EINVAL);
    if (::bind(shared->listenFd.get(), reinterpret_cast<const sockaddr*>(&address),
               sizeof address) != 0) {
        const int error = errno;
        if (error == EADDRINUSE)
            throw ECouldNotBindSocket(QStringLiteral(
                "Socket konnte nicht gebunden werden. Adresse und Port werden bereits benutzt."));
        if (error == EACCES || error == EPERM)
            throw EBindNotPermitted(
                QStringLiteral("Socket konnte nicht gebunden werden. Port %1 ist dem System "
                               "vorbehalten.")
                    .arg(m_port));
        throw ESocketError(error);
    }
    if (::listen(shared->listenFd.get(), kListenBacklog) != 0)
        throw ESocketError(errno);
    socklen_t length = sizeof address;
    ::getsockname(shared->listenFd.get(), reinterpret_cast<sockaddr*>(&address), &length);
    shared->port = ntohs(address.sin_port);
    shared->listener = std::thread([shared] { shared->listen(shared); });
    m_shared = std::move(shared);
}

QStringList THTTPServer::takeRefusedPeers() {
    QStringList taken = std::exchange(m_refusedBeforeStop, {});
    if (m_shared) {
        std::lock_guard lock(m_shared->mutex);
        taken += std::exchange(m_shared->refusedNew, {});
    }
    return taken;
}

void THTTPServer::StopAndRelease() {
    if (!m_shared)
        return;
    std::shared_ptr<Shared> shared = std::move(m_shared);
    {
        std::lock_guard lock(shared->mutex);
        shared->stopping = true;
        m_refusedBeforeStop += std::exchange(shared->refusedNew, {});
        for (auto& connection : shared->connections) {
            if (!connection->done && connection->fd.valid())
                ::shutdown(connection->fd.get(), SHUT_RDWR);
        }
    }
    shared->wakeFd.signal();
    shared->listener.join();
    shared->listenFd.reset();

    std::unique_lock lock(shared->mutex);
    shared->changed.wait_for(lock, std::chrono::milliseconds(kTerminateWaitMs), [&] {
        return std::all_of(shared->connections.begin(), shared->connections.end(),
                           [](const auto& c) { return c->done; });
    });
    std::list<std::shared_ptr<Shared::Connection>> connections = std::move(shared->connections);
    shared->connections.clear();
    std::vector<bool> finished;
    for (const auto& connection : connections)
        finished.push_back(connection->done);
    lock.unlock();
    std::size_t index = 0;
    for (auto& connection : connections) {
        if (finished[index++])
            connection->thread.join();
        else
            connection->thread.detach();
    }
}
