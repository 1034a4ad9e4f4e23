#pragma once
// UDP port 69 for the TFTP server while this program holds no privilege. The boot loader's
// request can only go to port 69, which Linux keeps for privileged programs; rather than
// carrying a capability itself (a capability on a Qt program is one for any plugin it can be
// made to load), the program asks the small helper stbmate-port69, the only file with
// cap_net_bind_service, to bind the port and pass the socket back.
//
// Standard C++ and POSIX only, so the TFTP server can use it without Qt.
#include "core/posix_io.h"

#include <cstdint>
#include <string>

struct PrivilegedUdpPort {
    UniqueFd fd;        // a UDP socket bound to the address and port; invalid on failure
    std::string reason; // empty on success; else one line for the log
    // For the user, where the failure has a cause they can mend: the address is not this PC's,
    // the port is taken, the helper is missing or not theirs to run, or lacks its capability
    // (with the one command that grants it). Empty otherwise.
    std::string advice;
};

// Binds a UDP socket to address (dotted IPv4; empty = all addresses) and port. Binds itself
// first: as root, or where the system allows low ports, no helper is needed. When that is
// refused for lack of privilege and port is 69, runs the helper at helperPath (an absolute
// path) and takes the socket it passes. The helper binds only a dotted address of this
// machine's interfaces. A helper without its capability gives a reason that names the one
// command that grants it, portHelperGrantCommand(helperPath). Blocks for the helper's run,
// at most a few seconds.
PrivilegedUdpPort openPrivilegedUdpPort(const std::string& address, std::uint16_t port,
                                        const std::string& helperPath);

// The helper beside the running program: <folder of /proc/self/exe>/../libexec/stbmate/
// stbmate-port69, resolved to its real path so the command names the file it must act on.
std::string portHelperPath();

// "sudo setcap cap_net_bind_service=+ep <helperPath>".
std::string portHelperGrantCommand(const std::string& helperPath);
