#pragma once
// Small POSIX socket helpers shared by the telnet client and the HTTP server.
#include <cerrno>
#include <cstddef>
#include <utility>

#include <unistd.h>

// Owns one file descriptor; closes it once, when destroyed or reset.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other)
            reset(std::exchange(other.m_fd, -1));
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release() { return std::exchange(m_fd, -1); }
    void reset(int fd = -1) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd = -1;
};

// Writes all bytes (MSG_NOSIGNAL, so a closed peer is EPIPE and not a signal), retrying after
// EINTR and short writes. Returns 0, or the errno of the failing send.
int SendAll(int fd, const char* data, std::size_t size, int flags = 0);

// Waits up to timeoutMs (negative: without limit) for fd to become readable or hung up.
// Returns 1 readable, 0 timed out, -1 on a poll failure (errno set).
int WaitReadable(int fd, int timeoutMs);
