#pragma once
// One ICMP echo with a time-out: does the receiver answer, and how fast. Blocks the caller for
// up to the time-out plus the name lookup; the UI runs it through runWithoutUserInput.
//
// Linux has no system echo call, so two ways are tried in order: an unprivileged ICMP "ping"
// socket (allowed only for the groups in the sysctl net.ipv4.ping_group_range, which Debian
// leaves empty), then the system's own ping program at its absolute path (/usr/bin/ping, which
// the system equips for this itself). Never a raw socket: that would need a capability on
// this program, and a raw socket sees every packet of the machine.
#include <QString>

#include <cstdint>
#include <vector>

constexpr std::int32_t PingErrNoLibrary = 0x20000002; // no way to send an echo at all
constexpr std::int32_t PingErrNoHandle = 0x20000003;  // the chosen way failed to open
constexpr std::int32_t PingErrNoSockets = 0x20000004; // name lookup could not be started
constexpr std::int32_t IcmpStatusTag = 0x20000000;

// Echo status codes as the rest of the program knows them.
constexpr std::int32_t IcmpSuccess = 0;
constexpr std::int32_t IcmpDestNetUnreachable = 11002;
constexpr std::int32_t IcmpDestHostUnreachable = 11003;
constexpr std::int32_t IcmpDestProtUnreachable = 11004;
constexpr std::int32_t IcmpDestPortUnreachable = 11005;
constexpr std::int32_t IcmpPacketTooBig = 11009;
constexpr std::int32_t IcmpRequestTimedOut = 11010;
constexpr std::int32_t IcmpTtlExpiredTransit = 11013;
constexpr std::int32_t IcmpParamProblem = 11015;
constexpr std::int32_t IcmpSourceQuench = 11016;
constexpr std::int32_t IcmpGeneralFailure = 11050;
// Name lookup codes (untagged).
constexpr std::int32_t LookupHostNotFound = 11001;
constexpr std::int32_t LookupTryAgain = 11002;
constexpr std::int32_t LookupNoRecovery = 11003;
constexpr std::int32_t LookupNoData = 11004;

// Which ways an echo is sent, in order (the default is both), and where the ping program is.
enum class PingMethod { PingSocket, PingProgram };
std::vector<PingMethod> defaultPingMethods();
struct PingWays {
    std::vector<PingMethod> methods = defaultPingMethods();
    QString program = QStringLiteral("/usr/bin/ping");
};

// One probe's outcome. result: round-trip milliseconds (0 or more) of the first successful
// reply; -1 when the target did not answer (unknown name, time-out, only error replies); -2
// when no probe was made. error: 0 after a success, a tagged ICMP status, a name lookup code,
// or one of the PingErr codes above.
struct PingOutcome {
    std::int32_t result = -2;
    std::int32_t error = 0;
};

// Looks target up and sends one echo; see PingOutcome.
PingOutcome probeHost(const QString& target, std::uint16_t timeoutMs, const PingWays& ways = {});
// probeHost(...).result with the default ways.
std::int32_t PingHost(const QString& target, std::uint16_t timeoutMs);

// Looks target up (a dotted IPv4 text is taken as it is; an empty one means this computer's own
// name). address gets the first IPv4 address in network byte order, or all bits set on
// failure. Returns 0 or the lookup code (11001 unknown, 11002 try again, ...), PingErrNoSockets
// when the lookup could not be made.
std::int32_t ResolveHostAddress(const QString& target, std::uint32_t& address);

// The echo to an address already looked up (network byte order).
PingOutcome PingAddress(std::uint32_t address, std::uint16_t timeoutMs, const PingWays& ways = {});

// The four codes 11001 to 11004 plus IcmpStatusTag, so echo statuses never look like the
// lookup codes that share their numbers; every other code unchanged.
std::int32_t TagIcmpStatus(std::int32_t code);
