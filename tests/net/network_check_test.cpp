#include "net/net_errors.h"
#include "net/network_check.h"
#include "net/ping.h"
#include "net/telnet_client.h"
#include "tests/net/netns.h"
#include "tests/support/fake_console.h"
#include "tests/support/fake_dialogs.h"
#include "tests/support/fake_main_view.h"
#include "tests/support/fake_telnet.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

TEST(SubnetPrefix, TextBeforeTheLastDot) {
    EXPECT_EQ(SubnetPrefix(QStringLiteral("192.168.1.5")), QStringLiteral("192.168.1"));
    EXPECT_EQ(SubnetPrefix(QStringLiteral("192.168.01.7")), QStringLiteral("192.168.01"));
    EXPECT_EQ(SubnetPrefix(QStringLiteral("receiver")), QString());
    EXPECT_EQ(SubnetPrefix(QString()), QString());
    EXPECT_EQ(SubnetPrefix(QStringLiteral("box.local")), QStringLiteral("box"));
    EXPECT_EQ(SubnetPrefix(QStringLiteral("10.")), QStringLiteral("10"));
}

class NetworkCheckTest : public ::testing::Test {
protected:
    NetworkLinkParts parts() {
        NetworkLinkParts p{m_view, m_busy, m_dialogs, m_telnet};
        p.ping = [this](const QString& target, std::uint16_t timeout) {
            m_pinged << target;
            m_timeout = timeout;
            if (m_pingThrows)
                throw std::runtime_error("broken");
            return m_pingResult;
        };
        p.listAddresses = [this] { return m_addresses; };
        return p;
    }

    FakeMainView m_view;
    FakeBusyIndicator m_busy;
    FakeDialogs m_dialogs;
    FakeTelnet m_telnet;
    std::int32_t m_pingResult = 0;
    bool m_pingThrows = false;
    QStringList m_pinged;
    std::uint16_t m_timeout = 0;
    QStringList m_addresses{QStringLiteral("127.0.0.1"), QStringLiteral("192.168.0.5"),
                            QStringLiteral("10.0.0.3"), QStringLiteral("192.168.0.77")};
};

TEST_F(NetworkCheckTest, AnsweringReceiverWithTelnetIsGood) {
    m_view.setReceiverAddress(QStringLiteral("192.168.0.20"));
    NetworkLinkParts p = parts();
    m_view.setNetworkLight(CheckNetworkLink(p));
    EXPECT_TRUE(m_view.networkLight());
    EXPECT_EQ(m_pinged, QStringList{QStringLiteral("192.168.0.20")});
    EXPECT_EQ(m_timeout, 1000);
    EXPECT_EQ(m_telnet.calls,
              (QStringList{QStringLiteral("telnet reset"), QStringLiteral("host 192.168.0.20"),
                           QStringLiteral("connect"), QStringLiteral("disconnect")}));
    EXPECT_FALSE(m_telnet.open);
    EXPECT_EQ(m_busy.shownTexts, QStringList{QStringLiteral("Netzwerk Verbindung wird geprüft")});
    EXPECT_EQ(m_busy.hideCount, 1);
    EXPECT_FALSE(m_busy.visible);
    EXPECT_EQ(m_view.page(), 1);
    EXPECT_EQ(m_view.ownAddress(), QStringLiteral("192.168.0.77")) << "the later match wins";
    EXPECT_TRUE(m_dialogs.transcript().empty());
}

TEST_F(NetworkCheckTest, NoEchoOrNoTelnetIsBadWithoutAMessage) {
    m_view.setReceiverAddress(QStringLiteral("192.168.0.20"));
    for (const std::int32_t rc : {-1, -2}) {
        m_pingResult = rc;
        m_telnet.calls.clear();
        m_view.setNetworkLight(true);
        NetworkLinkParts p = parts();
        m_view.setNetworkLight(CheckNetworkLink(p));
        EXPECT_FALSE(m_view.networkLight()) << "a lit lamp goes red again";
        EXPECT_TRUE(m_telnet.calls.isEmpty()) << "no telnet step without an echo";
    }
    m_pingResult = 0; // 0 ms is an answer
    m_telnet.refuse = true;
    NetworkLinkParts p = parts();
    EXPECT_FALSE(CheckNetworkLink(p));
    EXPECT_TRUE(m_telnet.calls.contains(QStringLiteral("connect")));
    EXPECT_TRUE(m_dialogs.transcript().empty());
    EXPECT_EQ(m_view.ownAddress(), QStringLiteral("192.168.0.77")) << "the choice runs regardless";
}

TEST_F(NetworkCheckTest, UnexpectedFailureShowsTheMessageAfterTheWaitDialog) {
    m_view.setReceiverAddress(QStringLiteral("192.168.0.20"));
    m_pingThrows = true;
    NetworkLinkParts p = parts();
    EXPECT_FALSE(CheckNetworkLink(p));
    EXPECT_EQ(m_dialogs.transcriptLines(),
              QStringList{QStringLiteral("message: Netzwerkstatus konnte nicht ermittelt werden")});
    EXPECT_FALSE(m_busy.visible);
    EXPECT_EQ(m_view.ownAddress(), QStringLiteral("192.168.0.77"));
}

TEST_F(NetworkCheckTest, OwnAddressKeptWhenNothingMatches) {
    const struct {
        const char* receiver;
    } cases[] = {{"192.168.1.20"}, {"192.168.00.20"}, {"receiver"}, {""}};
    for (const auto& c : cases) {
        m_view.setReceiverAddress(QString::fromLatin1(c.receiver));
        m_view.setOwnAddress(QStringLiteral("172.16.0.9"));
        NetworkLinkParts p = parts();
        CheckNetworkLink(p);
        EXPECT_EQ(m_view.ownAddress(), QStringLiteral("172.16.0.9")) << c.receiver;
    }
}

TEST(ListLocalAddresses, EveryIpv4AddressInInterfaceOrder) {
    NET_TEST_IN_PRIVATE_NETNS({QStringLiteral("ip addr add 192.168.7.9/24 dev lo"),
                               QStringLiteral("ip addr add 10.1.1.1/8 dev lo"),
                               QStringLiteral("ip addr add 192.168.7.5/24 dev lo")});
    EXPECT_EQ(ListLocalAddresses(),
              (QStringList{QStringLiteral("127.0.0.1"), QStringLiteral("192.168.7.9"),
                           QStringLiteral("10.1.1.1"), QStringLiteral("192.168.7.5")}));
}

// The whole check against a receiver stand-in on an address of the namespace's own: the real
// echo, the real telnet client, a real telnet server.
TEST(NetworkCheckEndToEnd, ReceiverWithAndWithoutTelnet) {
    NET_TEST_IN_PRIVATE_NETNS({QStringLiteral("ip addr add 192.168.7.20/24 dev lo"),
                               QStringLiteral("ip addr add 192.168.7.21/24 dev lo")});
    nettest::PeerProcess telnetd;
    ASSERT_TRUE(telnetd.start(nettest::RequireProgram(QStringLiteral("busybox")),
                              {QStringLiteral("telnetd"), QStringLiteral("-F"),
                               QStringLiteral("-b"), QStringLiteral("192.168.7.20:23"),
                               QStringLiteral("-l"), QStringLiteral("/bin/sh")}));
    QDeadlineTimer deadline(5000);
    for (bool up = false; !up && !deadline.hasExpired();) {
        const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(23);
        a.sin_addr.s_addr = inet_addr("192.168.7.20");
        up = ::connect(probe, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(probe);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }

    FakeTicker ticker;
    TTelnetClient telnet(ticker);
    telnet.setOnDataAvailable([](const QString&) {});
    FakeMainView view;
    FakeBusyIndicator busy;
    FakeDialogs dialogs;
    NetworkLinkParts parts{view, busy, dialogs, telnet};

    view.setReceiverAddress(QStringLiteral("192.168.7.20"));
    EXPECT_TRUE(CheckNetworkLink(parts));
    EXPECT_FALSE(telnet.Connected());
    EXPECT_EQ(view.ownAddress(), QStringLiteral("192.168.7.21"));

    view.setReceiverAddress(QStringLiteral("192.168.7.21")); // answers the echo, no telnet service
    view.setOwnAddress(QString());
    EXPECT_FALSE(CheckNetworkLink(parts));
    EXPECT_EQ(view.ownAddress(), QStringLiteral("192.168.7.21"));
    EXPECT_TRUE(dialogs.transcript().empty());
    telnetd.stop();
}

TEST(NetworkCheckEndToEnd, SilentReceiverKeepsEventsFlowingForTheEchoTimeOut) {
    NET_TEST_IN_PRIVATE_NETNS({QStringLiteral("echo 1 > /proc/sys/net/ipv4/icmp_echo_ignore_all")});
    FakeTicker ticker;
    TTelnetClient telnet(ticker);
    FakeMainView view;
    view.setReceiverAddress(QStringLiteral("127.0.0.1"));
    FakeBusyIndicator busy;
    FakeDialogs dialogs;
    NetworkLinkParts parts{view, busy, dialogs, telnet};
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(50);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(CheckNetworkLink(parts));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(950)) << "the echo waits its full second";
    EXPECT_GE(ticks, 10) << "timers ran while the echo was out";
    EXPECT_TRUE(dialogs.transcript().empty());
}

} // namespace
