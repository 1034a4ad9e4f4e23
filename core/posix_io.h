#pragma once
// The few POSIX pieces every folder needs: an owner for a file descriptor and the calls that a
// signal may interrupt, retried. Plain POSIX and the standard library, so the smallest helper
// programs can use them too.
#include <cerrno>
#include <cstddef>
#include <utility>

#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
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

// An eventfd for waking a thread or an event loop that polls it: signal() from any thread,
// drain() on the woken side. Closed with its owner. Not valid when the system had no
// descriptor left; signal() and drain() then do nothing.
class WakeFd {
public:
    WakeFd();
    bool valid() const { return m_fd.valid(); }
    int get() const { return m_fd.get(); }
    void signal() const;
    void drain() const;

private:
    UniqueFd m_fd;
};

// A fresh inotify instance, non-blocking and closed on exec; not valid when the system has
// none left (errno says why). Watches are added on its number with inotify_add_watch().
UniqueFd openInotify();

// Reads and drops every event queued on a non-blocking inotify descriptor. False only when
// none was queued; a failed read counts as news, so the caller looks again rather than trusts.
bool drainInotify(int fd);

// call() again for as long as a signal interrupts it (it fails with EINTR); any other result,
// failures included, is returned as it is. For the calls below and the ones used once.
template <typename Call> auto retryingEintr(Call call) {
    for (;;) {
        const auto result = call();
        if (!(result < 0 && errno == EINTR))
            return result;
    }
}

// Writes all size bytes, retrying after EINTR and short writes. false with errno set when a
// write fails.
bool writeAll(int fd, const void* data, std::size_t size);

// read(), retried after EINTR.
ssize_t readRetrying(int fd, void* buffer, std::size_t size);

// pread(), recv() and send(), retried after EINTR; one call each, so short counts and EAGAIN
// stay the caller's.
ssize_t preadRetrying(int fd, void* buffer, std::size_t size, off_t offset);
ssize_t recvRetrying(int fd, void* buffer, std::size_t size, int flags);
ssize_t sendRetrying(int fd, const void* data, std::size_t size, int flags);

// poll(), retried after EINTR with the time that is left; timeoutMs < 0 waits without limit.
int pollRetrying(pollfd* fds, nfds_t count, int timeoutMs);
