#include "net/tftp_server.h"

#include "net/tftp_transfer.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <optional>
#include <set>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>

namespace {

using Clock = std::chrono::steady_clock;
using tftp::ErrorCode;
using State = tftp::TftpTransfer::State;

// Datagrams taken from one socket per round at most, so a flood on one socket cannot keep the
// loop from the other and from the transfer's timer.
constexpr int kBatch = 64;

std::string errnoText(int error) {
    const char* name = strerrorname_np(error);
    return std::string(std::strerror(error)) + " (" + (name ? name : std::to_string(error)) + ")";
}

std::string ipText(std::uint32_t networkOrder) {
    char text[INET_ADDRSTRLEN] = {};
    in_addr address{networkOrder};
    ::inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

std::string peerText(const sockaddr_in& peer) {
    return ipText(peer.sin_addr.s_addr) + ":" + std::to_string(ntohs(peer.sin_port));
}

bool samePeer(const sockaddr_in& a, const sockaddr_in& b) {
    return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
}

// A name a client sent, fit for one log line: printable ASCII, quoted, at most 64 characters.
std::string quoted(const std::string& name) {
    std::string out = "\"";
    for (const char c : name.substr(0, 64))
        out += (c >= 0x20 && c < 0x7f) ? c : '?';
    return out + (name.size() > 64 ? "...\"" : "\"");
}

// The served file from offset 0 up to the size fixed at start. Reads by position, so the
// descriptor can be shared by the transfers one after the other.
class FileSource final : public tftp::ByteSource {
public:
    FileSource(int fd, std::uint64_t size) : m_fd(fd), m_size(size) {}

    std::int64_t read(std::uint8_t* buffer, std::size_t size) override {
        const std::size_t wanted = std::size_t(std::min<std::uint64_t>(size, m_size - m_at));
        std::size_t filled = 0;
        while (filled < wanted) {
            const ssize_t got =
                preadRetrying(m_fd, buffer + filled, wanted - filled, off_t(m_at + filled));
            if (got < 0) {
                m_failure = "reading the file: " + errnoText(errno);
                return -1;
            }
            if (got == 0) {
                m_failure = "the file shrank while being served: it ends at " +
                            std::to_string(m_at + filled) + " of " + std::to_string(m_size) +
                            " bytes";
                return -1;
            }
            filled += std::size_t(got);
        }
        m_at += filled;
        return std::int64_t(filled);
    }
    std::string failure() const override { return m_failure; }

private:
    int m_fd;
    std::uint64_t m_size;
    std::uint64_t m_at = 0;
    std::string m_failure;
};

void sendTo(int fd, const sockaddr_in& peer, tftp::ByteView datagram) {
    // A send that fails (buffer full, peer unreachable) counts as a lost packet: the
    // transfer's timer resends it.
    ::sendto(fd, datagram.data(), datagram.size(), MSG_NOSIGNAL,
             reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
}

UniqueFd ephemeralSocket(std::uint32_t localIp) {
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid())
        return fd;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = localIp;
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        fd.reset();
    return fd;
}

struct Transfer {
    UniqueFd socket;
    sockaddr_in peer{};
    std::string fileName;
    Clock::time_point began;
    // The last time the client's ACKs moved the transfer on (its start until the first).
    Clock::time_point lastProgress;
    std::uint64_t ackedAtProgress = 0;
    std::unique_ptr<tftp::TftpTransfer> machine;
    std::optional<Clock::time_point> deadline;
    Clock::time_point lastReport;
    std::uint64_t lastReported = 0;
};

} // namespace

// The server thread: the listening socket, at most one transfer, and the few things the
// server remembers between datagrams (refused addresses, the last error reply).
class TTftpServer::Loop {
public:
    explicit Loop(TTftpServer& server)
        : m_server(server), m_settings(server.m_settings), m_config{m_settings.retransmitTimeout,
                                                                    m_settings.maxRetries},
          m_buffer(65536) {}

    void run();

private:
    struct Ready {
        bool requests = false;
        bool transfer = false;
    };

    Ready wait();
    void takeRequests();
    void onRequest(tftp::ByteView datagram, const sockaddr_in& from, std::uint32_t localIp);
    bool nameServed(const std::string& asked) const;
    void startTransfer(const tftp::Request& request, const sockaddr_in& from,
                       std::uint32_t localIp);
    void serviceTransfer(bool readable);
    void apply(tftp::TftpTransfer::Step step);
    void reportProgress(Clock::time_point now);
    void finish(bool success, const std::string& reason);
    void refuseOnce(std::uint32_t address, const std::string& reason);
    void sendErrorRateLimited(int fd, const sockaddr_in& to, ErrorCode code,
                              const std::string& text);

    TTftpServer& m_server;
    const Settings& m_settings;
    const tftp::TftpTransfer::Config m_config;
    std::vector<std::uint8_t> m_buffer;
    std::optional<Transfer> m_transfer;
    std::set<std::uint32_t> m_refused;
    std::optional<Clock::time_point> m_lastError;
};

void TTftpServer::Loop::run() {
    while (!m_server.m_stop) {
        const Ready ready = wait();
        if (m_server.m_stop)
            break;
        if (ready.requests)
            takeRequests();
        if (m_transfer)
            serviceTransfer(ready.transfer);
        m_server.m_activeTransfers = m_transfer ? 1 : 0;
    }
    if (m_transfer)
        finish(false, "the server was stopped");
    m_server.m_activeTransfers = 0;
}

TTftpServer::Loop::Ready TTftpServer::Loop::wait() {
    pollfd polls[3] = {{m_server.m_wake->get(), POLLIN, 0},
                       {m_server.m_socket.get(), POLLIN, 0},
                       {m_transfer ? m_transfer->socket.get() : -1, POLLIN, 0}};
    int waitMs = -1;
    if (m_transfer && m_transfer->deadline) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(*m_transfer->deadline - Clock::now());
        waitMs = int(std::clamp<std::int64_t>(left.count(), 0, INT_MAX));
    }
    if (pollRetrying(polls, 3, waitMs) < 0)
        return {}; // cannot happen with valid descriptors; the loop simply looks again
    return {(polls[1].revents & POLLIN) != 0, (polls[2].revents & POLLIN) != 0};
}

void TTftpServer::Loop::takeRequests() {
    for (int taken = 0; taken < kBatch; ++taken) {
        sockaddr_in from{};
        char control[CMSG_SPACE(sizeof(in_pktinfo))];
        iovec io{m_buffer.data(), m_buffer.size()};
        msghdr message{};
        message.msg_name = &from;
        message.msg_namelen = sizeof from;
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t got = ::recvmsg(m_server.m_socket.get(), &message, 0);
        if (got < 0)
            return;
        // The address the request was sent to: its transfer answers from there, which is what
        // a client checks (it matters when the socket is bound to every address).
        std::uint32_t localIp = m_server.m_bindIp;
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO)
                localIp = reinterpret_cast<in_pktinfo*>(CMSG_DATA(c))->ipi_spec_dst.s_addr;
        }
        if (message.msg_namelen == sizeof from && from.sin_family == AF_INET)
            onRequest({m_buffer.data(), std::size_t(got)}, from, localIp);
    }
}

void TTftpServer::Loop::onRequest(tftp::ByteView datagram, const sockaddr_in& from,
                                  std::uint32_t localIp) {
    tftp::Request request;
    if (tftp::parseRequest(datagram, request) != tftp::ParseStatus::Ok)
        return; // junk, ERROR, ACK, unknown modes: nothing to answer, nothing to report
    const std::uint32_t address = from.sin_addr.s_addr;
    if (address != m_server.m_peerIp)
        return refuseOnce(address, "request for " + quoted(request.fileName) +
                                       " from an address that is not the receiver's");
    if (request.opcode == tftp::Opcode::Wrq) {
        sendErrorRateLimited(m_server.m_socket.get(), from, ErrorCode::AccessViolation,
                             "Access violation: read-only server");
        return refuseOnce(address, "asked to write " + quoted(request.fileName) +
                                       "; the server is read-only");
    }
    if (!nameServed(request.fileName))
        return refuseOnce(address, "asked for " + quoted(request.fileName) + "; only " +
                                       quoted(m_server.m_serve.name) + " is served");
    if (m_transfer) {
        // The client's own retry of the request: its transfer is already answering.
        const Transfer& t = *m_transfer;
        if (!tftp::replacesTransfer(samePeer(t.peer, from), Clock::now() - t.lastProgress,
                                    t.machine->retransmitTimeout()))
            return;
        finish(false, "the client asked again from " + peerText(from));
    }
    startTransfer(request, from, localIp);
}

bool TTftpServer::Loop::nameServed(const std::string& asked) const {
    const std::string& name = m_server.m_serve.name;
    return asked == name || (asked.size() == name.size() + 1 && asked.front() == '/' &&
                             asked.compare(1, std::string::npos, name) == 0);
}

void TTftpServer::Loop::startTransfer(const tftp::Request& request, const sockaddr_in& from,
                                      std::uint32_t localIp) {
    UniqueFd socket = ephemeralSocket(localIp);
    if (!socket.valid())
        return; // out of descriptors: the client's retry may find one
    std::unique_ptr<tftp::ByteSource> source =
        std::make_unique<FileSource>(m_server.m_file.get(), m_server.m_size);
    if (request.mode == tftp::Mode::Netascii)
        source = std::make_unique<tftp::NetasciiSource>(std::move(source));
    Transfer& t = m_transfer.emplace();
    t.socket = std::move(socket);
    t.peer = from;
    t.fileName = request.fileName;
    t.began = t.lastReport = t.lastProgress = Clock::now();
    t.machine = std::make_unique<tftp::TftpTransfer>(
        tftp::negotiate(request, m_server.m_size, m_settings.limits), std::move(source), m_config);
    apply(t.machine->start(t.began));
}

void TTftpServer::Loop::serviceTransfer(bool readable) {
    Transfer& t = *m_transfer;
    const Clock::time_point now = Clock::now();
    // The client has one datagram in flight, so one read per round is the rule; only when that
    // one came from elsewhere is the socket read on, so noise cannot hold up the client's ACK.
    for (int taken = 0; readable && taken < kBatch; ++taken) {
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t got = ::recvfrom(t.socket.get(), m_buffer.data(), m_buffer.size(), 0,
                                       reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (got < 0)
            break;
        const tftp::ByteView datagram{m_buffer.data(), std::size_t(got)};
        if (samePeer(from, t.peer)) {
            apply(t.machine->feed(datagram, now));
            if (t.machine->bytesAcknowledged() != t.ackedAtProgress) {
                t.ackedAtProgress = t.machine->bytesAcknowledged();
                t.lastProgress = now;
            }
            break;
        }
        if (from.sin_addr.s_addr == t.peer.sin_addr.s_addr &&
            tftp::peekOpcode(datagram) != tftp::Opcode::Error)
            sendErrorRateLimited(t.socket.get(), from, ErrorCode::UnknownTransferId,
                                 "Unknown transfer ID");
    }
    if (t.machine->state() == State::Running && t.deadline && *t.deadline <= now)
        apply(t.machine->onTimeout(now));
    reportProgress(now);
    const State state = t.machine->state();
    if (state != State::Running)
        finish(state == State::Done, t.machine->failure());
}

void TTftpServer::Loop::apply(tftp::TftpTransfer::Step step) {
    for (const auto& datagram : step.send)
        sendTo(m_transfer->socket.get(), m_transfer->peer, datagram);
    m_transfer->deadline = step.deadline;
    m_transfer->machine->readAhead();
}

void TTftpServer::Loop::reportProgress(Clock::time_point now) {
    Transfer& t = *m_transfer;
    const std::uint64_t acked = t.machine->bytesAcknowledged();
    if (!m_server.m_onProgress || acked == t.lastReported ||
        (t.machine->state() != State::Done && now - t.lastReport < m_settings.progressInterval))
        return;
    m_server.m_onProgress(Progress{t.fileName, peerText(t.peer), acked, m_server.m_size});
    t.lastReported = acked;
    t.lastReport = now;
}

void TTftpServer::Loop::finish(bool success, const std::string& reason) {
    const Transfer& t = *m_transfer;
    if (m_server.m_onFinished)
        m_server.m_onFinished(Finished{t.fileName, peerText(t.peer), t.machine->bytesAcknowledged(),
                                       m_server.m_size, success, success ? std::string() : reason});
    m_transfer.reset();
}

void TTftpServer::Loop::refuseOnce(std::uint32_t address, const std::string& reason) {
    if (m_refused.size() >= std::size_t(kMaxRefusedReports) || !m_refused.insert(address).second)
        return;
    if (m_server.m_onRefused)
        m_server.m_onRefused(Refused{ipText(address), reason});
}

void TTftpServer::Loop::sendErrorRateLimited(int fd, const sockaddr_in& to, ErrorCode code,
                                             const std::string& text) {
    const Clock::time_point now = Clock::now();
    if (m_lastError && now - *m_lastError < m_settings.errorInterval)
        return;
    m_lastError = now;
    sendTo(fd, to, tftp::makeError(code, text));
}

TTftpServer::~TTftpServer() {
    stop();
}

std::string TTftpServer::start(const Serve& serve, const std::string& bindAddress,
                               std::uint16_t port) {
    if (running()) {
        if (!m_adopted && serve == m_serve && bindAddress == m_bindAddress && port == m_askedPort)
            return {};
        stop();
    }
    in_addr ip{};
    if (::inet_pton(AF_INET, bindAddress.c_str(), &ip) != 1)
        return "bind address \"" + bindAddress + "\" is not an IPv4 address";
    UniqueFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!socket.valid())
        return "socket: " + errnoText(errno);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr = ip;
    local.sin_port = htons(port);
    if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        return "bind " + bindAddress + ":" + std::to_string(port) + ": " + errnoText(errno);
    const std::string error = begin(serve, std::move(socket));
    if (error.empty()) {
        m_bindAddress = bindAddress;
        m_askedPort = port;
        m_adopted = false;
    }
    return error;
}

std::string TTftpServer::start(const Serve& serve, UniqueFd boundSocket) {
    stop();
    int domain = 0, type = 0;
    socklen_t length = sizeof domain;
    if (::getsockopt(boundSocket.get(), SOL_SOCKET, SO_DOMAIN, &domain, &length) != 0)
        return "adopted socket: " + errnoText(errno);
    length = sizeof type;
    ::getsockopt(boundSocket.get(), SOL_SOCKET, SO_TYPE, &type, &length);
    if (domain != AF_INET || type != SOCK_DGRAM)
        return "adopted socket: not an IPv4 UDP socket";
    const int flags = ::fcntl(boundSocket.get(), F_GETFL);
    if (flags < 0 || ::fcntl(boundSocket.get(), F_SETFL, flags | O_NONBLOCK) != 0 ||
        ::fcntl(boundSocket.get(), F_SETFD, FD_CLOEXEC) != 0)
        return "adopted socket: " + errnoText(errno);
    const std::string error = begin(serve, std::move(boundSocket));
    if (error.empty()) {
        m_bindAddress.clear();
        m_askedPort = 0;
        m_adopted = true;
    }
    return error;
}

// The part both starts share: the peer, the file and its size, the socket's address, the
// thread. Nothing is kept unless everything succeeded.
std::string TTftpServer::begin(const Serve& serve, UniqueFd socket) {
    in_addr peer{};
    if (::inet_pton(AF_INET, serve.peer.c_str(), &peer) != 1)
        return "receiver address \"" + serve.peer + "\" is not an IPv4 address";
    if (serve.name.empty())
        return "no file name to serve";
    // O_NONBLOCK: a FIFO put in the file's place must not hang the caller; it is then
    // refused as not a regular file.
    UniqueFd file(::open(serve.path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat info {};
    if (!file.valid() || ::fstat(file.get(), &info) != 0)
        return "file " + serve.path + ": " + errnoText(errno);
    if (!S_ISREG(info.st_mode))
        return "file " + serve.path + ": not a regular file";
    if (serve.size > info.st_size)
        return "file " + serve.path + " holds " + std::to_string(info.st_size) + " bytes, " +
               std::to_string(serve.size) + " were to be served";
    const int on = 1;
    ::setsockopt(socket.get(), IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&local), &length) != 0 ||
        local.sin_port == 0)
        return "socket: not bound to a port";
    WakeFd wake; // one per run: a new thread never sees the last stop's signal
    if (!wake.valid())
        return "eventfd: " + errnoText(errno);

    m_serve = serve;
    m_size = std::uint64_t(serve.size >= 0 ? serve.size : info.st_size);
    m_peerIp = peer.s_addr;
    m_bindIp = local.sin_addr.s_addr;
    m_boundPort = ntohs(local.sin_port);
    m_file = std::move(file);
    m_socket = std::move(socket);
    m_wake.emplace(std::move(wake));
    m_stop = false;
    m_thread = std::thread([this] { Loop(*this).run(); });
    return {};
}

void TTftpServer::stop() {
    if (!m_thread.joinable())
        return;
    m_stop = true;
    m_wake->signal();
    m_thread.join();
    m_socket.reset();
    m_wake.reset();
    m_file.reset();
    m_boundPort = 0;
}
