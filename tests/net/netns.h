#pragma once
// Tests that need fixed ports (23, 80) or a namespace-wide setting run their body again in a
// child process inside a fresh network namespace with only loopback up, so nothing they do is
// seen by the rest of the machine or by the other tests running next to them.
#include <QString>
#include <QStringList>

namespace nettest {

// True in the child started by RunCurrentTestInPrivateNetns.
bool InsidePrivateNetns();

// Runs the current test in a child `unshare -n` process (lo up, then setupCommands, each a
// shell command run as root inside the namespace) and records a failure unless exactly that
// one test ran and passed there.
void RunCurrentTestInPrivateNetns(const QStringList& setupCommands = {});

// Path of a program the test needs; records a failure (the peer is missing) when not found.
QString RequireProgram(const QString& name);

} // namespace nettest

// The test body runs only in the namespaced child; the parent checks the child's outcome.
#define NET_TEST_IN_PRIVATE_NETNS(...)                                                             \
    do {                                                                                           \
        if (!::nettest::InsidePrivateNetns()) {                                                    \
            ::nettest::RunCurrentTestInPrivateNetns(__VA_ARGS__);                                  \
            return;                                                                                \
        }                                                                                          \
    } while (false)
