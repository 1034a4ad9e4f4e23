#include "net/privileged_port.h"

#include "helper/port69_protocol.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>

namespace {

// The helper answers within milliseconds; this only bounds a helper that hangs.
constexpr int kHelperWaitMs = 5000;
// Helper fds are moved at least this high, so placing them on 2 and 3 cannot overwrite one
// another.
constexpr int kSpawnFdFloor = 10;

std::string errnoText(int error) {
    const char* name = strerrorname_np(error);
    return std::string(std::strerror(error)) + " (" + (name ? name : std::to_string(error)) + ")";
}

std::string endpoint(const std::string& address, std::uint16_t port) {
    return (address.empty() ? std::string("0.0.0.0") : address) + ":" + std::to_string(port);
}

UniqueFd lifted(int fd) {
    UniqueFd original(fd);
    return UniqueFd(original.valid() ? ::fcntl(fd, F_DUPFD_CLOEXEC, kSpawnFdFloor) : -1);
}

bool boundTo(int fd, in_addr address, std::uint16_t port) {
    sockaddr_in local{};
    socklen_t size = sizeof local;
    int type = 0;
    socklen_t typeSize = sizeof type;
    return ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) == 0 &&
           local.sin_family == AF_INET && ntohs(local.sin_port) == port &&
           local.sin_addr.s_addr == address.s_addr &&
           ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &typeSize) == 0 && type == SOCK_DGRAM;
}

// The socket from the helper's message, or an invalid fd when it sent none.
UniqueFd receiveSocket(int channel) {
    pollfd entry{channel, POLLIN, 0};
    const int ready = pollRetrying(&entry, 1, kHelperWaitMs);
    if (ready != 1)
        return {};
    port69::FdMessage in;
    msghdr& message = in.message;
    const ssize_t got =
        retryingEintr([&] { return ::recvmsg(channel, &message, MSG_CMSG_CLOEXEC); });
    const cmsghdr* header = got == 1 ? CMSG_FIRSTHDR(&message) : nullptr;
    if (!header || header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS ||
        header->cmsg_len != CMSG_LEN(sizeof(int)))
        return {};
    int fd = -1;
    std::memcpy(&fd, CMSG_DATA(header), sizeof fd);
    return UniqueFd(fd);
}

std::string readAll(int fd) {
    std::string text;
    char chunk[512];
    for (;;) {
        const ssize_t got = readRetrying(fd, chunk, sizeof chunk);
        if (got <= 0)
            return text;
        text.append(chunk, static_cast<std::size_t>(got));
    }
}

struct HelperRun {
    UniqueFd fd;
    int status = -1; // as waitpid reports it
    std::string message;
    std::string failure; // the helper could not be run at all
};

std::string portTakenAdvice(const std::string& address) {
    return "Port 69 auf " + address + " ist belegt: ein anderer TFTP-Server läuft auf diesem PC.";
}

HelperRun runHelper(const std::string& address, const std::string& helperPath) {
    HelperRun run;
    int pair[2];
    int pipeFds[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
        run.failure = "socketpair: " + errnoText(errno);
        return run;
    }
    UniqueFd channel(pair[0]);
    UniqueFd helperChannel = lifted(pair[1]);
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        run.failure = "pipe: " + errnoText(errno);
        return run;
    }
    UniqueFd errors(pipeFds[0]);
    UniqueFd helperErrors = lifted(pipeFds[1]);

    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_adddup2(&actions, helperErrors.get(), 2);
    ::posix_spawn_file_actions_adddup2(&actions, helperChannel.get(), port69::kChannelFd);
    std::string portText = port69::kPortText;
    std::string addressText = address;
    std::string program = helperPath;
    char* argv[] = {program.data(), addressText.data(), portText.data(), nullptr};
    char* envp[] = {nullptr};
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp);
    ::posix_spawn_file_actions_destroy(&actions);
    helperChannel.reset();
    helperErrors.reset();
    if (spawned != 0) {
        run.failure = "cannot start " + helperPath + ": " + errnoText(spawned);
        return run;
    }
    run.fd = receiveSocket(channel.get());
    if (!run.fd.valid())
        ::kill(pid, SIGKILL); // harmless when it has ended; ends one that hangs
    retryingEintr([&] { return ::waitpid(pid, &run.status, 0); });
    run.message = readAll(errors.get());
    while (!run.message.empty() && run.message.back() == '\n')
        run.message.pop_back();
    return run;
}

PrivilegedUdpPort fromHelper(const std::string& address, const std::string& helperPath,
                             const std::string& ownFailure) {
    const std::string prefix = ownFailure + "; port helper " + helperPath + ": ";
    const std::string notRunnable = "Das Hilfsprogramm für Port 69 (" + helperPath +
                                    ") fehlt oder darf von diesem Benutzer nicht gestartet "
                                    "werden (Mitglied der Gruppe dialout?).";
    if (helperPath.empty() || helperPath.front() != '/')
        return {{}, prefix + "not an absolute path", notRunnable};
    HelperRun run = runHelper(address, helperPath);
    if (!run.failure.empty())
        return {{}, prefix + run.failure, notRunnable};
    const bool exited = WIFEXITED(run.status);
    const int code = exited ? WEXITSTATUS(run.status) : -1;
    in_addr ip{};
    ::inet_pton(AF_INET, address.c_str(), &ip);
    if (code == port69::kExitPassed && run.fd.valid() && boundTo(run.fd.get(), ip, port69::kPort))
        return {std::move(run.fd), {}, {}};
    std::string why = run.message.empty() ? (exited ? "ended with status " + std::to_string(code)
                                                    : std::string("did not end in time"))
                                          : run.message;
    std::string advice;
    if (code == port69::kExitNotPermitted) {
        why += "; grant it once with: " + portHelperGrantCommand(helperPath);
        advice = "Dem Hilfsprogramm für Port 69 fehlt seine Berechtigung. Einmal ausführen: " +
                 portHelperGrantCommand(helperPath);
    } else if (code == port69::kExitAddressInUse) {
        advice = portTakenAdvice(address);
    }
    return {{}, prefix + why, advice};
}

} // namespace

PrivilegedUdpPort openPrivilegedUdpPort(const std::string& address, std::uint16_t port,
                                        const std::string& helperPath) {
    in_addr ip{};
    if (!address.empty() && ::inet_pton(AF_INET, address.c_str(), &ip) != 1)
        return {{}, "bind address " + address + " is not an IPv4 address", {}};
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd.valid())
        return {{}, "socket: " + errnoText(errno), {}};
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr = ip;
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0)
        return {std::move(fd), {}, {}};
    const int error = errno;
    const std::string ownFailure = "bind " + endpoint(address, port) + ": " + errnoText(error);
    if (error == EADDRNOTAVAIL)
        return {{},
                ownFailure,
                "Die Adresse " + address + " gehört zu keiner Netzwerkkarte dieses PCs."};
    if (error == EADDRINUSE)
        return {{}, ownFailure, portTakenAdvice(address)};
    if (error != EACCES || port != port69::kPort)
        return {{}, ownFailure, {}};
    return fromHelper(address, helperPath, ownFailure);
}

std::string portHelperPath() {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path program = fs::read_symlink("/proc/self/exe", error);
    const fs::path helper =
        program.parent_path() / port69::kFolderFromProgram / port69::kProgramName;
    const fs::path real = fs::weakly_canonical(helper, error);
    return (error ? helper.lexically_normal() : real).string();
}

std::string portHelperGrantCommand(const std::string& helperPath) {
    return "sudo setcap cap_net_bind_service=+ep " + helperPath;
}
