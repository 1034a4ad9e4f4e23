#pragma once
// UDP peers on loopback for the TFTP server tests: a raw client that sends whatever a test hands
// it from an address of its choice, and a relay that loses datagrams.
#include "net/tftp_packet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tftptest {

// A raw client on a loopback address of its choice (127.0.0.2 is "another host"): sends what a
// test hands it and counts what comes back.
struct Probe {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in from{}; // sender of the last datagram received

    explicit Probe(const char* address = "127.0.0.1") {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, address, &local.sin_addr);
        EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    }
    ~Probe() { ::close(fd); }
    void send(int port, const tftp::Bytes& datagram) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(std::uint16_t(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to),
                 sizeof to);
    }
    void request(int port, const std::string& name, tftp::Opcode opcode = tftp::Opcode::Rrq,
                 std::vector<std::pair<std::string, std::string>> options = {}) {
        send(port, tftp::makeRequest({opcode, name, tftp::Mode::Octet, std::move(options)}));
    }
    // Datagrams arriving until ms pass without one; the last one is kept.
    std::vector<tftp::Bytes> receive(int ms) {
        std::vector<tftp::Bytes> got;
        tftp::Bytes buffer(2048);
        pollfd entry{fd, POLLIN, 0};
        socklen_t length = sizeof from;
        while (::poll(&entry, 1, ms) > 0) {
            const ssize_t n = ::recvfrom(fd, buffer.data(), buffer.size(), 0,
                                         reinterpret_cast<sockaddr*>(&from), &length);
            got.emplace_back(buffer.begin(), buffer.begin() + std::max<ssize_t>(n, 0));
        }
        return got;
    }
};

// A UDP relay between one client and the server that drops a share of the datagrams both ways.
// The client talks to the relay's port only; the relay follows the server to its transfer port.
class LossyRelay {
public:
    LossyRelay(int serverPort, double dropShare) : m_serverPort(serverPort), m_drop(dropShare) {
        for (int* fd : {&m_clientSide, &m_serverSide}) {
            *fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            sockaddr_in any{};
            any.sin_family = AF_INET;
            any.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            ::bind(*fd, reinterpret_cast<sockaddr*>(&any), sizeof any);
        }
        m_thread = std::thread([this] { loop(); });
    }
    ~LossyRelay() {
        m_stop = true;
        m_thread.join();
        ::close(m_clientSide);
        ::close(m_serverSide);
    }
    int port() const {
        sockaddr_in local{};
        socklen_t length = sizeof local;
        ::getsockname(m_clientSide, reinterpret_cast<sockaddr*>(&local), &length);
        return ntohs(local.sin_port);
    }
    int dropped() const { return m_dropped; }

private:
    void loop() {
        std::mt19937 random(12);
        std::bernoulli_distribution drop(m_drop);
        sockaddr_in client{}, server{};
        server.sin_family = AF_INET;
        server.sin_port = htons(std::uint16_t(m_serverPort));
        server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        char buffer[70000];
        while (!m_stop) {
            pollfd fds[2] = {{m_clientSide, POLLIN, 0}, {m_serverSide, POLLIN, 0}};
            if (::poll(fds, 2, 50) <= 0)
                continue;
            for (int side = 0; side < 2; ++side) {
                if (!(fds[side].revents & POLLIN))
                    continue;
                sockaddr_in from{};
                socklen_t length = sizeof from;
                const ssize_t n = ::recvfrom(fds[side].fd, buffer, sizeof buffer, 0,
                                             reinterpret_cast<sockaddr*>(&from), &length);
                if (n < 0)
                    continue;
                (side == 0 ? client : server) = from;
                if (drop(random)) {
                    ++m_dropped;
                    continue;
                }
                // A resent request goes where the client sends it: the server's main port.
                sockaddr_in to = side == 0 ? server : client;
                if (side == 0 && n > 1 && buffer[1] == char(tftp::Opcode::Rrq))
                    to.sin_port = htons(std::uint16_t(m_serverPort));
                ::sendto(side == 0 ? m_serverSide : m_clientSide, buffer, size_t(n), 0,
                         reinterpret_cast<const sockaddr*>(&to), sizeof to);
            }
        }
    }

    int m_serverPort;
    double m_drop;
    int m_clientSide = -1, m_serverSide = -1;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_dropped{0};
    std::thread m_thread;
};

} // namespace tftptest
