#pragma once
// What stbmate and its port helper agree on: where the helper lives, how the socket comes
// back and what its exit status means. Standard C++ only, so the helper needs nothing else.
//
// The call: `stbmate-port69 ADDRESS 69`, with fd 3 an AF_UNIX socket (one end of a
// socketpair). On success the bound UDP socket comes back over fd 3 as SCM_RIGHTS with a
// one-byte message and the helper ends with kExitPassed; otherwise one line on stderr says
// why and the status says which kind of failure it was.
#include <sys/socket.h>
#include <sys/uio.h>

namespace port69 {

inline constexpr const char* kProgramName = "stbmate-port69";
// The helper's folder, relative to the folder of the stbmate program: the same in the build
// tree (app/ and libexec/stbmate/ side by side) and installed (/usr/bin, /usr/libexec/stbmate).
inline constexpr const char* kFolderFromProgram = "../libexec/stbmate";

inline constexpr int kChannelFd = 3;
inline constexpr unsigned short kPort = 69;
inline constexpr const char* kPortText = "69";

inline constexpr int kExitPassed = 0;
inline constexpr int kExitFailed = 1;       // a socket call failed for another reason
inline constexpr int kExitRefused = 2;      // wrong port, address, arguments or fd 3
inline constexpr int kExitNotPermitted = 3; // the helper file lacks its capability
inline constexpr int kExitAddressInUse = 4; // another server holds the port

// The one-byte message with room for one descriptor, as both ends build it.
struct FdMessage {
    char byte = 'P';
    iovec io{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};

    FdMessage() {
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
    }
    FdMessage(const FdMessage&) = delete;
    FdMessage& operator=(const FdMessage&) = delete;
};

} // namespace port69
