#include "net/ping.h"
#include "tests/net/netns.h"

#include <QFile>

#include <gtest/gtest.h>

#include <chrono>

#include <arpa/inet.h>

namespace {

using namespace std::chrono_literals;

// Echo requests this network namespace has sent so far.
long echoRequestsSent() {
    QFile snmp(QStringLiteral("/proc/net/snmp"));
    if (!snmp.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = snmp.readAll().split('\n');
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        if (!lines[i].startsWith("IcmpMsg:") || !lines[i + 1].startsWith("IcmpMsg:"))
            continue;
        const QList<QByteArray> names = lines[i].simplified().split(' ');
        const QList<QByteArray> values = lines[i + 1].simplified().split(' ');
        const qsizetype at = names.indexOf("OutType8");
        return at < 0 ? 0 : values.value(at).toLong();
    }
    return 0;
}

struct MethodCase {
    const char* name;
    PingMethod method;
};
const MethodCase kMethods[] = {{"ping socket", PingMethod::PingSocket},
                               {"ping program", PingMethod::PingProgram}};

class PingTest : public ::testing::Test {
protected:
    // One probe with the ways set so far; keeps its error code for the checks.
    std::int32_t ping(const QString& target, std::uint16_t timeoutMs) {
        const PingOutcome outcome = probeHost(target, timeoutMs, ways);
        lastError = outcome.error;
        return outcome.result;
    }
    PingWays ways;
    std::int32_t lastError = -3;
};

TEST(TagIcmpStatus, TagsOnlyTheCodesSharedWithLookupErrors) {
    EXPECT_EQ(TagIcmpStatus(0), 0);
    EXPECT_EQ(TagIcmpStatus(11000), 11000);
    EXPECT_EQ(TagIcmpStatus(11001), 0x20000000 + 11001);
    EXPECT_EQ(TagIcmpStatus(11003), 0x20000000 + 11003);
    EXPECT_EQ(TagIcmpStatus(11004), 0x20000000 + 11004);
    EXPECT_EQ(TagIcmpStatus(11005), 11005);
    EXPECT_EQ(TagIcmpStatus(11010), 11010);
}

TEST_F(PingTest, LoopbackAnswersWithTheDefaultWays) {
    const std::int32_t rtt = ping(QStringLiteral("127.0.0.1"), 1000);
    EXPECT_GE(rtt, 0);
    EXPECT_EQ(lastError, 0);
    EXPECT_GE(ping(QStringLiteral("localhost"), 1000), 0);
    // An empty target is this computer's own name.
    EXPECT_GE(ping(QString(), 1000), 0);
}

TEST_F(PingTest, ResolveTakesDottedTextAsItIs) {
    std::uint32_t address = 0;
    ASSERT_EQ(ResolveHostAddress(QStringLiteral("192.168.0.10"), address), 0);
    EXPECT_EQ(address, inet_addr("192.168.0.10"));
    EXPECT_NE(ResolveHostAddress(QStringLiteral("no-such-host.invalid"), address), 0);
    EXPECT_EQ(address, 0xffffffffu);
}

TEST_F(PingTest, EveryWayGetsAnAnswerFromLoopback) {
    NET_TEST_IN_PRIVATE_NETNS(
        {QStringLiteral("echo '0 2147483647' > /proc/sys/net/ipv4/ping_group_range")});
    for (const auto& m : kMethods) {
        SCOPED_TRACE(m.name);
        ways.methods = {m.method};
        EXPECT_GE(ping(QStringLiteral("127.0.0.1"), 2000), 0);
        EXPECT_EQ(lastError, 0);
    }
}

TEST_F(PingTest, DroppedEchoGivesMinusOneAfterTheTimeOut) {
    NET_TEST_IN_PRIVATE_NETNS(
        {QStringLiteral("echo '0 2147483647' > /proc/sys/net/ipv4/ping_group_range"),
         QStringLiteral("echo 1 > /proc/sys/net/ipv4/icmp_echo_ignore_all")});
    for (const auto& m : kMethods) {
        SCOPED_TRACE(m.name);
        ways.methods = {m.method};
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(ping(QStringLiteral("127.0.0.1"), 300), -1);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_GE(took, 290ms);
        EXPECT_LT(took, 5s);
        EXPECT_EQ(lastError, IcmpRequestTimedOut);
    }
}

TEST_F(PingTest, UnknownNameGivesMinusOneWithoutAnEcho) {
    NET_TEST_IN_PRIVATE_NETNS();
    const long before = echoRequestsSent();
    ASSERT_GE(before, 0);
    EXPECT_EQ(ping(QStringLiteral("no-such-host.invalid"), 1000), -1);
    const std::int32_t error = lastError;
    EXPECT_TRUE(error == LookupHostNotFound || error == LookupTryAgain) << error;
    EXPECT_EQ(echoRequestsSent(), before);
    // The counter does count our echoes, so the check above could have failed.
    EXPECT_GE(ping(QStringLiteral("127.0.0.1"), 1000), 0);
    EXPECT_GT(echoRequestsSent(), before);
}

TEST_F(PingTest, NoWayLeftMeansNoProbe) {
    // In a fresh namespace ping sockets are closed to everyone, even root.
    NET_TEST_IN_PRIVATE_NETNS();
    ways.methods = {PingMethod::PingSocket};
    EXPECT_EQ(ping(QStringLiteral("127.0.0.1"), 300), -2);
    EXPECT_EQ(lastError, PingErrNoHandle);
    ways.program = QStringLiteral("/nonexistent/ping");
    ways.methods = {PingMethod::PingSocket, PingMethod::PingProgram};
    EXPECT_EQ(ping(QStringLiteral("127.0.0.1"), 300), -2);
    ways.methods = {};
    EXPECT_EQ(ping(QStringLiteral("127.0.0.1"), 300), -2);
    EXPECT_EQ(lastError, PingErrNoLibrary);
    // With the system's ping behind it, the refused ping socket is simply skipped.
    ways = PingWays();
    EXPECT_GE(ping(QStringLiteral("127.0.0.1"), 1000), 0);
}

TEST_F(PingTest, NoRouteIsNoAnswer) {
    NET_TEST_IN_PRIVATE_NETNS(
        {QStringLiteral("echo '0 2147483647' > /proc/sys/net/ipv4/ping_group_range")});
    ways.methods = {PingMethod::PingSocket};
    EXPECT_EQ(ping(QStringLiteral("10.20.30.40"), 300), -1);
    EXPECT_EQ(lastError, TagIcmpStatus(IcmpDestNetUnreachable));
}

} // namespace
