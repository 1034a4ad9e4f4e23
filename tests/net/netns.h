#pragma once
// Tests that need fixed ports (23, 80) or a namespace-wide setting run their body again in a
// child process inside a fresh network namespace with only loopback up, so nothing they do is
// seen by the rest of the machine or by the other tests running next to them.
#include <QString>
#include <QStringList>

#include <string>

#include <sys/types.h>

namespace nettest {

// True in the child started by RunCurrentTestInPrivateNetns.
bool InsidePrivateNetns();

// Runs the current test in a child `unshare -n` process (lo up, then setupCommands, each a
// shell command run as root inside the namespace) and records a failure unless exactly that
// one test ran and passed there.
void RunCurrentTestInPrivateNetns(const QStringList& setupCommands = {});

// Inside the namespaced child: runs the current test again as the normal user nobody, started
// as that user (no supplementary group, no capability) with marker=value added to its
// environment, and records a failure unless exactly that test ran and passed there. The test
// body tells the two runs apart by the marker.
void RunCurrentTestAsNormalUser(const char* marker, const QString& value);

// Hands path (a folder, a pty) to the user RunCurrentTestAsNormalUser runs as.
bool GiveToNormalUser(const QString& path);

// A field of /proc/self/status without its name, e.g. "0000000000000000" for "CapEff".
std::string OwnStatusField(const char* field);

// A copy of the port helper at builtHelper in folder (made if missing), with
// cap_net_bind_service when granted, as the package installs it; empty (and a recorded failure)
// when it could not be made.
QString CopyPortHelper(const QString& builtHelper, const QString& folder, bool granted);

// Path of a program the test needs; records a failure (the peer is missing) when not found.
QString RequireProgram(const QString& name);

// A peer server (telnetd and the like) that runs for the length of a test and is killed with
// it. Started with posix_spawn rather than QProcess: QProcess starts its child with
// clone(CLONE_VM | CLONE_VFORK), the child runs the thread sanitizer's hooks on the calling
// thread's state, and from then on the sanitizer misses that thread's locks and reports races on
// data every thread only touches under a lock.
class PeerProcess {
public:
    PeerProcess() = default;
    ~PeerProcess() { stop(); }
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    // Starts program with arguments; false (and a recorded failure) when it could not start.
    bool start(const QString& program, const QStringList& arguments);
    // Kills the peer and waits for it; harmless when it is not running.
    void stop();

private:
    pid_t m_pid = -1;
};

} // namespace nettest

// The test body runs only in the namespaced child; the parent checks the child's outcome.
#define NET_TEST_IN_PRIVATE_NETNS(...)                                                             \
    do {                                                                                           \
        if (!::nettest::InsidePrivateNetns()) {                                                    \
            ::nettest::RunCurrentTestInPrivateNetns(__VA_ARGS__);                                  \
            return;                                                                                \
        }                                                                                          \
    } while (false)
