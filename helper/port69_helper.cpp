// stbmate-port69: opens UDP port 69 on one of this machine's IPv4 addresses, hands the socket
// to the program that started it and ends. A receiver's boot loader asks for its image on
// port 69 only, and Linux keeps ports below 1024 for privileged programs; this helper is the
// only file that carries cap_net_bind_service, so stbmate itself needs no privilege at all.
//
// Anyone who can run it can make it do exactly this and nothing more: every other port, every
// address that is not on an interface of this machine (the wildcard and names included) and
// every other argument is refused before a socket exists. It clears its environment first,
// loads no locale, runs no program and opens no file (only /dev/null for a missing standard
// fd), so nothing the caller controls reaches it beyond its two arguments and fd 3. Started
// with the capability, the loader runs it in secure mode and ignores LD_PRELOAD and the like.
//
// The protocol (fd number, exit statuses) is in port69_protocol.h.
#include "core/posix_io.h"
#include "helper/port69_protocol.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace port69;

// A caller's text echoed in a message: printable ASCII only, so it cannot drive the terminal.
std::string printable(std::string_view text) {
    std::string out;
    for (const char c : text.substr(0, 64))
        out += (c >= 0x20 && c < 0x7f) ? c : '?';
    return out;
}

int say(int status, const std::string& why) {
    const std::string line = std::string(kProgramName) + ": " + why + "\n";
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
    return status;
}

// With a standard fd closed by the caller our own socket would take its number, and a
// message meant for stderr would go into it.
void fillStandardFds() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF)
            ::open("/dev/null", O_RDWR);
    }
}

bool isOwnAddress(in_addr address) {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return false;
    bool found = false;
    for (const ifaddrs* entry = list; entry && !found; entry = entry->ifa_next) {
        if (entry->ifa_addr && entry->ifa_addr->sa_family == AF_INET)
            found = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr ==
                    address.s_addr;
    }
    ::freeifaddrs(list);
    return found;
}

bool isUnixSocket(int fd) {
    int domain = 0;
    socklen_t size = sizeof domain;
    return ::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &size) == 0 && domain == AF_UNIX;
}

bool passSocket(int channel, int socket) {
    FdMessage out;
    msghdr& message = out.message;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &socket, sizeof socket);
    return retryingEintr([&] { return ::sendmsg(channel, &message, MSG_NOSIGNAL); }) == 1;
}

int bindFailure(int error, const std::string& where) {
    const std::string why = "bind " + where + ": " + std::strerror(error);
    if (error == EACCES || error == EPERM)
        return say(kExitNotPermitted, why + " (this file lacks cap_net_bind_service)");
    return say(error == EADDRINUSE ? kExitAddressInUse : kExitFailed, why);
}

} // namespace

int main(int argc, char** argv) {
    ::clearenv();
    fillStandardFds();
    if (argc != 3)
        return say(kExitRefused, "usage: stbmate-port69 ADDRESS 69, with fd 3 the Unix socket "
                                 "the bound UDP socket is passed over");
    const std::string_view port = argv[2];
    if (port != kPortText)
        return say(kExitRefused,
                   "port " + printable(port) + " refused: only UDP port 69 is opened");
    in_addr address{};
    if (::inet_pton(AF_INET, argv[1], &address) != 1)
        return say(kExitRefused,
                   "address " + printable(argv[1]) + " refused: not a dotted IPv4 address");
    if (!isOwnAddress(address))
        return say(kExitRefused, "address " + printable(argv[1]) +
                                     " refused: not an address of this machine's interfaces");
    if (!isUnixSocket(kChannelFd))
        return say(kExitRefused, "fd 3 is not a Unix socket to pass the port over");

    const int socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket < 0)
        return say(kExitFailed, std::string("socket: ") + std::strerror(errno));
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(kPort);
    local.sin_addr = address;
    const std::string where = std::string(argv[1]) + ":" + kPortText;
    if (::bind(socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        return bindFailure(errno, where);
    if (!passSocket(kChannelFd, socket))
        return say(kExitFailed, std::string("passing the socket: ") + std::strerror(errno));
    return kExitPassed;
}
