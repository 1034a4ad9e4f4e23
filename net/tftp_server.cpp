#include "net/tftp_server.h"

#include "net/socket_util.h"
#include "net/tftp_transfer.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <list>
#include <memory>
#include <optional>
#include <variant>

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>

namespace {

using Clock = std::chrono::steady_clock;
using tftp::ErrorCode;

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

class FileSource final : public tftp::ByteSource {
public:
    explicit FileSource(UniqueFd fd) : m_fd(std::move(fd)) {}
    std::int64_t read(std::uint8_t* buffer, std::size_t size) override {
        std::size_t filled = 0;
        while (filled < size) {
            const ssize_t got = ::read(m_fd.get(), buffer + filled, size - filled);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return -1;
            if (got == 0)
                break;
            filled += std::size_t(got);
        }
        return std::int64_t(filled);
    }

private:
    UniqueFd m_fd;
};

struct Transfer {
    UniqueFd socket;
    sockaddr_in peer{};
    std::string fileName;
    std::uint64_t fileSize = 0;
    std::unique_ptr<tftp::TftpTransfer> machine;
    std::optional<Clock::time_point> deadline;
    Clock::time_point lastReport;
    std::uint64_t lastReported = 0;
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

struct Refusal {
    ErrorCode code;
    std::string message;
};

// Opens name beneath the folder. The kernel does the resolving (RESOLVE_BENEATH), so neither
// "..", nor an absolute path, nor a symbolic link pointing out can reach past the folder, even
// if the tree changes while we look.
std::variant<UniqueFd, Refusal> openBeneath(int folderFd, const std::string& name) {
    if (name.empty())
        return Refusal{ErrorCode::FileNotFound, "File not found"};
    if (name.front() == '/')
        return Refusal{ErrorCode::AccessViolation, "Access violation"};
    for (std::size_t at = 0; at <= name.size();) {
        const std::size_t slash = std::min(name.find('/', at), name.size());
        if (name.compare(at, slash - at, "..") == 0)
            return Refusal{ErrorCode::AccessViolation, "Access violation"};
        at = slash + 1;
    }
    open_how how{};
    // O_NONBLOCK: opening a FIFO planted in the folder must not hang the server.
    how.flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    UniqueFd fd(int(::syscall(SYS_openat2, folderFd, name.c_str(), &how, sizeof how)));
    if (!fd.valid()) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            return Refusal{ErrorCode::FileNotFound, "File not found"};
        if (error == EXDEV || error == EACCES || error == EPERM || error == ELOOP)
            return Refusal{ErrorCode::AccessViolation, "Access violation"};
        return Refusal{ErrorCode::NotDefined, std::strerror(error)};
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return Refusal{ErrorCode::FileNotFound, "File not found"};
    const int flags = ::fcntl(fd.get(), F_GETFL);
    ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

} // namespace

TTftpServer::~TTftpServer() {
    stop();
}

std::string TTftpServer::start(const std::string& folder, const std::string& bindAddress,
                               std::uint16_t port) {
    if (running()) {
        if (folder == m_folder && bindAddress == m_bindAddress && port == m_askedPort)
            return {};
        stop();
    }
    in_addr ip{htonl(INADDR_ANY)};
    if (!bindAddress.empty() && ::inet_pton(AF_INET, bindAddress.c_str(), &ip) != 1)
        return "bind address " + bindAddress + " is not an IPv4 address";
    UniqueFd folderFd(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!folderFd.valid())
        return "folder " + folder + ": " + errnoText(errno);
    UniqueFd sock(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!sock.valid())
        return "socket: " + errnoText(errno);
    // The address each request was sent to: its transfer answers from that address, which is
    // what a client on a host with several addresses checks.
    const int on = 1;
    ::setsockopt(sock.get(), IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr = ip;
    local.sin_port = htons(port);
    if (::bind(sock.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        return "bind " + ipText(ip.s_addr) + ":" + std::to_string(port) + ": " + errnoText(errno);
    socklen_t length = sizeof local;
    ::getsockname(sock.get(), reinterpret_cast<sockaddr*>(&local), &length);
    UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake.valid())
        return "eventfd: " + errnoText(errno);

    m_folder = folder;
    m_bindAddress = bindAddress;
    m_askedPort = port;
    m_boundPort = ntohs(local.sin_port);
    m_bindIp = ip.s_addr;
    m_folderFd = folderFd.release();
    m_socket = sock.release();
    m_wakeFd = wake.release();
    m_stop = false;
    m_thread = std::thread([this] { run(); });
    return {};
}

void TTftpServer::stop() {
    if (!m_thread.joinable())
        return;
    m_stop = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(m_wakeFd, &one, sizeof one);
    m_thread.join();
    for (int* fd : {&m_socket, &m_wakeFd, &m_folderFd}) {
        ::close(*fd);
        *fd = -1;
    }
    m_boundPort = 0;
}

void TTftpServer::run() {
    std::list<Transfer> transfers;
    std::vector<std::uint8_t> buffer(65536);
    const tftp::TftpTransfer::Config config{m_settings.retransmitTimeout, m_settings.maxRetries};

    const auto report = [this](const Transfer& t, bool success, const std::string& reason) {
        if (m_onFinished)
            m_onFinished(Finished{t.fileName, peerText(t.peer), t.machine->bytesAcknowledged(),
                                  t.fileSize, success, reason});
    };
    const auto refuse = [&](std::uint32_t localIp, const sockaddr_in& peer, const std::string& name,
                            const Refusal& refusal) {
        UniqueFd fd = ephemeralSocket(localIp);
        if (fd.valid())
            sendTo(fd.get(), peer, tftp::MakeError(refusal.code, refusal.message));
        if (m_onFinished)
            m_onFinished(Finished{name, peerText(peer), 0, 0, false, refusal.message});
    };
    const auto apply = [](Transfer& t, tftp::TftpTransfer::Step step) {
        for (const auto& datagram : step.send)
            sendTo(t.socket.get(), t.peer, datagram);
        t.deadline = step.deadline;
    };

    const auto handleRequest = [&](tftp::ByteView datagram, const sockaddr_in& peer,
                                   std::uint32_t localIp) {
        tftp::Request request;
        const tftp::ParseStatus status = tftp::ParseRequest(datagram, request);
        if (status == tftp::ParseStatus::Malformed)
            return refuse(localIp, peer, {}, {ErrorCode::IllegalOperation, "Illegal operation"});
        if (status == tftp::ParseStatus::UnknownMode)
            return refuse(localIp, peer, request.fileName,
                          {ErrorCode::IllegalOperation, "Unknown transfer mode"});
        if (request.opcode == tftp::Opcode::Wrq)
            return refuse(localIp, peer, request.fileName,
                          {ErrorCode::AccessViolation, "Access violation: read-only server"});
        // A client that resends its request before our first answer reached it already has
        // its transfer; a second one would send every block twice.
        for (const Transfer& t : transfers) {
            if (samePeer(t.peer, peer))
                return;
        }
        if (int(transfers.size()) >= m_settings.maxTransfers)
            return refuse(localIp, peer, request.fileName,
                          {ErrorCode::NotDefined, "Server busy, too many transfers"});
        auto opened = openBeneath(m_folderFd, request.fileName);
        if (auto* refusal = std::get_if<Refusal>(&opened))
            return refuse(localIp, peer, request.fileName, *refusal);
        UniqueFd file = std::move(std::get<UniqueFd>(opened));
        struct stat info {};
        ::fstat(file.get(), &info);
        UniqueFd sock = ephemeralSocket(localIp);
        if (!sock.valid())
            return refuse(localIp, peer, request.fileName,
                          {ErrorCode::NotDefined, std::strerror(errno)});
        std::unique_ptr<tftp::ByteSource> source = std::make_unique<FileSource>(std::move(file));
        if (request.mode == tftp::Mode::Netascii)
            source = std::make_unique<tftp::NetasciiSource>(std::move(source));
        Transfer& t = transfers.emplace_back();
        t.socket = std::move(sock);
        t.peer = peer;
        t.fileName = request.fileName;
        t.fileSize = std::uint64_t(info.st_size);
        t.machine = std::make_unique<tftp::TftpTransfer>(
            tftp::Negotiate(request, t.fileSize, m_settings.limits), std::move(source), config);
        t.lastReport = Clock::now();
        apply(t, t.machine->start(t.lastReport));
    };

    std::vector<pollfd> polls;
    while (!m_stop) {
        polls.assign({{m_wakeFd, POLLIN, 0}, {m_socket, POLLIN, 0}});
        std::optional<Clock::time_point> soonest;
        for (const Transfer& t : transfers) {
            polls.push_back({t.socket.get(), POLLIN, 0});
            if (t.deadline && (!soonest || *t.deadline < *soonest))
                soonest = t.deadline;
        }
        int waitMs = -1;
        if (soonest) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*soonest - Clock::now());
            waitMs = int(std::clamp<std::int64_t>(left.count(), 0, INT_MAX));
        }
        if (::poll(polls.data(), polls.size(), waitMs) < 0 && errno != EINTR)
            break;
        if (m_stop)
            break;

        if (polls[1].revents & POLLIN) {
            for (;;) {
                sockaddr_in peer{};
                char control[CMSG_SPACE(sizeof(in_pktinfo))];
                iovec io{buffer.data(), buffer.size()};
                msghdr message{};
                message.msg_name = &peer;
                message.msg_namelen = sizeof peer;
                message.msg_iov = &io;
                message.msg_iovlen = 1;
                message.msg_control = control;
                message.msg_controllen = sizeof control;
                const ssize_t got = ::recvmsg(m_socket, &message, 0);
                if (got < 0)
                    break;
                std::uint32_t localIp = m_bindIp;
                for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
                    if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO)
                        localIp = reinterpret_cast<in_pktinfo*>(CMSG_DATA(c))->ipi_spec_dst.s_addr;
                }
                handleRequest({buffer.data(), std::size_t(got)}, peer, localIp);
            }
        }

        const Clock::time_point now = Clock::now();
        std::size_t index = 2;
        for (auto it = transfers.begin(); it != transfers.end(); ++index) {
            Transfer& t = *it;
            // Transfers added by requests above have no poll entry yet.
            const bool readable = index < polls.size() && (polls[index].revents & POLLIN);
            // One datagram per round: a client has one packet in flight, and draining the
            // socket would mostly meet EAGAIN at the cost of a system call per block.
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t got = readable
                                    ? ::recvfrom(t.socket.get(), buffer.data(), buffer.size(), 0,
                                                 reinterpret_cast<sockaddr*>(&from), &fromLength)
                                    : -1;
            if (got >= 0 && !samePeer(from, t.peer))
                sendTo(t.socket.get(), from,
                       tftp::MakeError(ErrorCode::UnknownTransferId, "Unknown transfer ID"));
            else if (got >= 0)
                apply(t, t.machine->feed({buffer.data(), std::size_t(got)}, now));
            if (t.machine->state() == tftp::TftpTransfer::State::Running && t.deadline &&
                *t.deadline <= now)
                apply(t, t.machine->onTimeout(now));

            const auto state = t.machine->state();
            const std::uint64_t acked = t.machine->bytesAcknowledged();
            if (m_onProgress && acked != t.lastReported &&
                (state == tftp::TftpTransfer::State::Done ||
                 now - t.lastReport >= m_settings.progressInterval)) {
                m_onProgress(Progress{t.fileName, peerText(t.peer), acked, t.fileSize});
                t.lastReported = acked;
                t.lastReport = now;
            }
            if (state == tftp::TftpTransfer::State::Running) {
                ++it;
                continue;
            }
            report(t, state == tftp::TftpTransfer::State::Done, t.machine->failure());
            it = transfers.erase(it);
        }
        m_activeTransfers = int(transfers.size());
    }
    for (const Transfer& t : transfers)
        report(t, false, "the server was stopped");
    transfers.clear();
    m_activeTransfers = 0;
}
