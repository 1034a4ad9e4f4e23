#include "net/ping.h"

#include "core/posix_io.h"
#include "net/socket_util.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/errqueue.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::atomic<std::uint16_t> g_sequence{0};

using Clock = std::chrono::steady_clock;

struct Outcome {
    bool probed = false; // false: this way is not available here, try the next
    std::int32_t result = -2;
    std::int32_t status = 0;
};

std::int32_t statusFromIcmp(int type, int code) {
    switch (type) {
    case ICMP_ECHOREPLY:
        return IcmpSuccess;
    case ICMP_DEST_UNREACH:
        switch (code) {
        case ICMP_NET_UNREACH:
        case ICMP_NET_UNKNOWN:
        case ICMP_NET_ANO:
        case ICMP_NET_UNR_TOS:
            return IcmpDestNetUnreachable;
        case ICMP_PROT_UNREACH:
            return IcmpDestProtUnreachable;
        case ICMP_PORT_UNREACH:
            return IcmpDestPortUnreachable;
        case ICMP_FRAG_NEEDED:
            return IcmpPacketTooBig;
        default:
            return IcmpDestHostUnreachable;
        }
    case ICMP_TIME_EXCEEDED:
        return IcmpTtlExpiredTransit;
    case ICMP_PARAMETERPROB:
        return IcmpParamProblem;
    case ICMP_SOURCE_QUENCH:
        return IcmpSourceQuench;
    default:
        return IcmpGeneralFailure;
    }
}

std::uint16_t checksum(const unsigned char* data, std::size_t size) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        sum += static_cast<std::uint32_t>(data[i] << 8 | data[i + 1]);
    if (size % 2)
        sum += static_cast<std::uint32_t>(data[size - 1] << 8);
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

int remainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

std::int32_t elapsedMs(Clock::time_point since) {
    return static_cast<std::int32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

// A send that the kernel refuses for lack of a route is the same answer a router would give.
Outcome sendFailure(int error) {
    if (error == ENETUNREACH)
        return {true, -1, IcmpDestNetUnreachable};
    if (error == EHOSTUNREACH)
        return {true, -1, IcmpDestHostUnreachable};
    return {true, -2, IcmpGeneralFailure};
}

// Echo request without payload: type 8, code 0, checksum, identifier, sequence.
QByteArray echoRequest(std::uint16_t id, std::uint16_t sequence) {
    unsigned char packet[8] = {ICMP_ECHO,
                               0,
                               0,
                               0,
                               static_cast<unsigned char>(id >> 8),
                               static_cast<unsigned char>(id & 0xff),
                               static_cast<unsigned char>(sequence >> 8),
                               static_cast<unsigned char>(sequence & 0xff)};
    const std::uint16_t sum = checksum(packet, sizeof packet);
    packet[2] = static_cast<unsigned char>(sum >> 8);
    packet[3] = static_cast<unsigned char>(sum & 0xff);
    return QByteArray(reinterpret_cast<const char*>(packet), sizeof packet);
}

sockaddr_in target(std::uint32_t address) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = address;
    return to;
}

Outcome pingSocket(std::uint32_t address, std::uint16_t timeoutMs) {
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP));
    if (!fd.valid())
        return {};
    const int on = 1;
    ::setsockopt(fd.get(), IPPROTO_IP, IP_RECVERR, &on, sizeof on);
    const std::uint16_t sequence = ++g_sequence;
    // The kernel puts in its own identifier and checksum for this kind of socket.
    const QByteArray request = echoRequest(0, sequence);
    const sockaddr_in to = target(address);
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::milliseconds(timeoutMs);
    if (::sendto(fd.get(), request.constData(), request.size(), 0,
                 reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0)
        return sendFailure(errno);
    for (;;) {
        pollfd entry{fd.get(), POLLIN, 0};
        const int ready = pollRetrying(&entry, 1, remainingMs(deadline));
        if (ready <= 0)
            return {true, -1, IcmpRequestTimedOut};
        if (entry.revents & POLLERR) {
            char control[512];
            unsigned char data[64];
            iovec io{data, sizeof data};
            msghdr message{};
            message.msg_iov = &io;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            if (::recvmsg(fd.get(), &message, MSG_ERRQUEUE) >= 0) {
                for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
                    if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_RECVERR)
                        continue;
                    sock_extended_err error;
                    std::memcpy(&error, CMSG_DATA(c), sizeof error);
                    if (error.ee_origin == SO_EE_ORIGIN_ICMP)
                        return {true, -1, statusFromIcmp(error.ee_type, error.ee_code)};
                }
            }
            continue;
        }
        unsigned char reply[128];
        const ssize_t got = ::recv(fd.get(), reply, sizeof reply, 0);
        if (got >= 8 && reply[0] == ICMP_ECHOREPLY && (reply[6] << 8 | reply[7]) == sequence)
            return {true, elapsedMs(start), IcmpSuccess};
    }
}

// One run of the ping program: its standard output and how it ended.
struct ProgramRun {
    bool started = false;
    bool inTime = false; // ended before the deadline; else it was killed
    int status = 0;      // waitpid's status
    std::string output;
};

// posix_spawn, a pipe and poll rather than QProcess: the probe runs on a worker thread with no
// event loop, and the plain calls need none of Qt's machinery there.
ProgramRun runProgram(std::vector<std::string> argv, int deadlineMs) {
    ProgramRun run;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return run;
    UniqueFd output(fds[0]), theirs(fds[1]);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_adddup2(&actions, theirs.get(), 1);
    ::posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (std::string& arg : argv)
        args.push_back(arg.data());
    args.push_back(nullptr);
    // The reply line is parsed, so it must not come in the user's language.
    char locale[] = "LC_ALL=C";
    char* envp[] = {locale, nullptr};
    pid_t pid = -1;
    run.started = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp) == 0;
    ::posix_spawn_file_actions_destroy(&actions);
    theirs.reset();
    if (!run.started)
        return run;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
    for (char block[512];;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd entry{output.get(), POLLIN, 0};
        if (left.count() <= 0 || pollRetrying(&entry, 1, int(left.count())) <= 0)
            break;
        const ssize_t got = readRetrying(output.get(), block, sizeof block);
        if (got <= 0) {
            run.inTime = true; // end of output: the program has ended or is about to
            break;
        }
        run.output.append(block, size_t(got));
    }
    if (!run.inTime)
        ::kill(pid, SIGKILL);
    retryingEintr([&] { return ::waitpid(pid, &run.status, 0); });
    return run;
}

Outcome pingProgram(std::uint32_t address, std::uint16_t timeoutMs, const QString& program) {
    if (program.isEmpty() || !QFileInfo(program).isExecutable())
        return {};
    in_addr in{address};
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &in, text, sizeof text);
    const double seconds = std::max(0.001, timeoutMs / 1000.0);
    const ProgramRun run = runProgram({QFile::encodeName(program).toStdString(), "-n", "-c1", "-W",
                                       QString::number(seconds, 'f', 3).toStdString(), text},
                                      timeoutMs + 5000);
    if (!run.started)
        return {};
    if (!run.inTime)
        return {true, -1, IcmpRequestTimedOut};
    if (!WIFEXITED(run.status))
        return {true, -2, IcmpGeneralFailure};
    switch (WEXITSTATUS(run.status)) {
    case 0: {
        static const QRegularExpression time(QStringLiteral("time[=<]([0-9.]+) ms"));
        const auto match = time.match(QString::fromStdString(run.output));
        return {true,
                match.hasMatch() ? static_cast<std::int32_t>(match.captured(1).toDouble()) : 0,
                IcmpSuccess};
    }
    case 1:
        return {true, -1, IcmpRequestTimedOut};
    default:
        return {true, -2, IcmpGeneralFailure};
    }
}

} // namespace

std::vector<PingMethod> defaultPingMethods() {
    return {PingMethod::PingSocket, PingMethod::PingProgram};
}

std::int32_t TagIcmpStatus(std::int32_t code) {
    if (code >= 11001 && code <= 11004)
        return code + IcmpStatusTag;
    return code;
}

std::int32_t ResolveHostAddress(const QString& target, std::uint32_t& address) {
    address = 0xffffffffu;
    QByteArray name = target.toUtf8();
    if (name.isEmpty()) {
        char host[256] = {};
        if (::gethostname(host, sizeof host - 1) != 0)
            return PingErrNoSockets;
        name = host;
    }
    in_addr dotted{};
    if (::inet_pton(AF_INET, name.constData(), &dotted) == 1) {
        address = dotted.s_addr;
        return 0;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(name.constData(), nullptr, &hints, &found);
    if (rc == 0 && found) {
        address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
        ::freeaddrinfo(found);
        return 0;
    }
    switch (rc) {
    case EAI_NONAME:
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
#endif
        return LookupHostNotFound;
    case EAI_AGAIN:
        return LookupTryAgain;
    case EAI_FAIL:
        return LookupNoRecovery;
    default:
        return PingErrNoSockets;
    }
}

PingOutcome PingAddress(std::uint32_t address, std::uint16_t timeoutMs, const PingWays& ways) {
    PingOutcome outcome{-2, ways.methods.empty() ? PingErrNoLibrary : PingErrNoHandle};
    for (const PingMethod method : ways.methods) {
        Outcome probe;
        switch (method) {
        case PingMethod::PingSocket:
            probe = pingSocket(address, timeoutMs);
            break;
        case PingMethod::PingProgram:
            probe = pingProgram(address, timeoutMs, ways.program);
            break;
        }
        if (!probe.probed)
            continue;
        return {probe.result, TagIcmpStatus(probe.status)};
    }
    return outcome;
}

PingOutcome probeHost(const QString& target, std::uint16_t timeoutMs, const PingWays& ways) {
    std::uint32_t address = 0;
    const std::int32_t lookup = ResolveHostAddress(target, address);
    if (lookup == 0)
        return PingAddress(address, timeoutMs, ways);
    return {lookup == LookupHostNotFound || lookup == LookupTryAgain ? -1 : -2, lookup};
}

std::int32_t PingHost(const QString& target, std::uint16_t timeoutMs) {
    return probeHost(target, timeoutMs).result;
}
