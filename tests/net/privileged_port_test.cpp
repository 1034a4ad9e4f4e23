// The port helper and the program side that runs it: what the helper refuses, and port 69
// reaching a normal user's process through the helper's capability while the process itself
// holds none.
#include "net/privileged_port.h"
#include "tests/net/netns.h"
#include "tests/support/test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <string>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace {

const char kAsUserMarker[] = "STBMATE_PORT_HELPER_AS_USER";

struct HelperResult {
    int exitCode = -1;
    std::string message;
    bool passedSomething = false;
};

// Runs the built helper with args; fd 3 is a socketpair end, or /dev/null without a channel.
HelperResult runHelper(const QStringList& args, bool withChannel) {
    int pair[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair), 0);
    UniqueFd channel(pair[0]), theirs(::fcntl(pair[1], F_DUPFD_CLOEXEC, 10));
    ::close(pair[1]);
    const int fd3 = withChannel ? theirs.get() : ::open("/dev/null", O_RDWR | O_CLOEXEC);
    QProcess helper;
    helper.setProcessEnvironment(QProcessEnvironment());
    helper.setChildProcessModifier([fd3] { ::dup2(fd3, 3); });
    helper.start(QStringLiteral(STBMATE_PORT_HELPER), args);
    EXPECT_TRUE(helper.waitForFinished(10000));
    if (!withChannel)
        ::close(fd3);
    theirs.reset();
    char byte;
    return {helper.exitStatus() == QProcess::NormalExit ? helper.exitCode() : -1,
            helper.readAllStandardError().toStdString(),
            ::recv(channel.get(), &byte, 1, MSG_DONTWAIT) > 0};
}

TEST(PortHelper, RefusesEveryOtherPortAddressAndArgument) {
    struct Case {
        const char* name;
        QStringList args;
        bool withChannel;
        const char* message;
    };
    const Case cases[] = {
        {"another port", {"127.0.0.1", "80"}, true, "port 80 refused"},
        {"port 69 written otherwise", {"127.0.0.1", "069"}, true, "port 069 refused"},
        {"control characters", {"127.0.0.1", "6\x1b[2J"}, true, "port 6?[2J refused"},
        {"no interface's address", {"192.0.2.1", "69"}, true, "192.0.2.1 refused: not an"},
        {"the wildcard", {"0.0.0.0", "69"}, true, "0.0.0.0 refused: not an"},
        {"a name", {"localhost", "69"}, true, "not a dotted IPv4 address"},
        {"an extra argument", {"127.0.0.1", "69", "-v"}, true, "usage:"},
        {"no arguments", {}, true, "usage:"},
        {"fd 3 not a socket", {"127.0.0.1", "69"}, false, "fd 3 is not a Unix socket"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const HelperResult result = runHelper(c.args, c.withChannel);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_EQ(result.message.rfind("stbmate-port69: ", 0), 0u) << result.message;
        EXPECT_NE(result.message.find(c.message), std::string::npos) << result.message;
        EXPECT_FALSE(result.passedSomething);
    }
}

sockaddr_in loopback69() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(69);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// The unprivileged side, run as nobody by the test below: no capability in the process, port
// 69 refused to it, refused through a helper without the capability with the command that
// grants it, and passed through the helper that has it.
void checkAsNormalUser(const std::string& dir) {
    EXPECT_NE(::getuid(), 0u);
    EXPECT_EQ(nettest::OwnStatusField("CapEff"), "0000000000000000");
    EXPECT_EQ(nettest::OwnStatusField("CapPrm"), "0000000000000000");
    const sockaddr_in port69 = loopback69();
    UniqueFd own(::socket(AF_INET, SOCK_DGRAM, 0));
    const int bound = ::bind(own.get(), reinterpret_cast<const sockaddr*>(&port69), sizeof port69);
    const int error = errno;
    EXPECT_NE(bound, 0);
    EXPECT_EQ(error, EACCES);

    const std::string plain = dir + "/plain/stbmate-port69";
    const PrivilegedUdpPort refused = openPrivilegedUdpPort("127.0.0.1", 69, plain);
    EXPECT_FALSE(refused.fd.valid());
    EXPECT_NE(refused.reason.find("sudo setcap cap_net_bind_service=+ep " + plain),
              std::string::npos)
        << refused.reason;

    const PrivilegedUdpPort port =
        openPrivilegedUdpPort("127.0.0.1", 69, dir + "/granted/stbmate-port69");
    ASSERT_TRUE(port.fd.valid()) << port.reason;
    EXPECT_EQ(port.reason, "");
    UniqueFd sender(::socket(AF_INET, SOCK_DGRAM, 0));
    const char request[] = "\0\1image.bin\0octet";
    ASSERT_EQ(::sendto(sender.get(), request, sizeof request, 0,
                       reinterpret_cast<const sockaddr*>(&port69), sizeof port69),
              static_cast<ssize_t>(sizeof request));
    pollfd entry{port.fd.get(), POLLIN, 0};
    ASSERT_EQ(::poll(&entry, 1, 5000), 1);
    char got[64];
    EXPECT_EQ(::recv(port.fd.get(), got, sizeof got, 0), static_cast<ssize_t>(sizeof request));
    EXPECT_EQ(std::string(got, sizeof request), std::string(request, sizeof request));
    EXPECT_EQ(nettest::OwnStatusField("CapEff"), "0000000000000000");
}

TEST(PortHelper, NormalUserGetsPort69ThroughTheHelperOnly) {
    if (const char* dir = std::getenv(kAsUserMarker)) {
        checkAsNormalUser(dir);
        return;
    }
    NET_TEST_IN_PRIVATE_NETNS();
    // Root binds the port itself and never reaches for the helper.
    PrivilegedUdpPort asRoot = openPrivilegedUdpPort("127.0.0.1", 69, "/nonexistent");
    EXPECT_TRUE(asRoot.fd.valid()) << asRoot.reason;
    EXPECT_EQ(asRoot.reason, "");
    asRoot.fd.reset();

    stbtest::ScratchDir scratch;
    QFile::setPermissions(scratch.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                              QFile::ReadOther | QFile::ExeOther);
    const QString built = QStringLiteral(STBMATE_PORT_HELPER);
    ASSERT_FALSE(
        nettest::CopyPortHelper(built, scratch.file(QStringLiteral("plain")), false).isEmpty());
    ASSERT_FALSE(
        nettest::CopyPortHelper(built, scratch.file(QStringLiteral("granted")), true).isEmpty());
    nettest::RunCurrentTestAsNormalUser(kAsUserMarker, scratch.path());
}

} // namespace
