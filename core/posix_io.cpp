#include "core/posix_io.h"

#include <cerrno>
#include <chrono>
#include <cstdint>

#include <sys/eventfd.h>
#include <sys/inotify.h>

bool writeAll(int fd, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = retryingEintr([&] { return ::write(fd, bytes + done, size - done); });
        if (n < 0)
            return false;
        done += std::size_t(n);
    }
    return true;
}

ssize_t readRetrying(int fd, void* buffer, std::size_t size) {
    return retryingEintr([&] { return ::read(fd, buffer, size); });
}

ssize_t preadRetrying(int fd, void* buffer, std::size_t size, off_t offset) {
    return retryingEintr([&] { return ::pread(fd, buffer, size, offset); });
}

ssize_t recvRetrying(int fd, void* buffer, std::size_t size, int flags) {
    return retryingEintr([&] { return ::recv(fd, buffer, size, flags); });
}

ssize_t sendRetrying(int fd, const void* data, std::size_t size, int flags) {
    return retryingEintr([&] { return ::send(fd, data, size, flags); });
}

int pollRetrying(pollfd* fds, nfds_t count, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int left = timeoutMs;
    for (;;) {
        const int n = ::poll(fds, count, left);
        if (n >= 0 || errno != EINTR)
            return n;
        if (timeoutMs >= 0) {
            const auto rest =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            left = rest > 0 ? int(rest) : 0;
        }
    }
}

WakeFd::WakeFd() : m_fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

void WakeFd::signal() const {
    const std::uint64_t one = 1;
    if (valid()) {
        [[maybe_unused]] const ssize_t n = ::write(m_fd.get(), &one, sizeof one);
    }
}

void WakeFd::drain() const {
    std::uint64_t count = 0;
    if (valid()) {
        [[maybe_unused]] const ssize_t n = ::read(m_fd.get(), &count, sizeof count);
    }
}

UniqueFd openInotify() {
    return UniqueFd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
}

bool drainInotify(int fd) {
    // Room for several events; one alone takes at most sizeof(inotify_event) + NAME_MAX + 1.
    char events[4096];
    ssize_t n = readRetrying(fd, events, sizeof events);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return false;
    while (n > 0)
        n = readRetrying(fd, events, sizeof events);
    return true;
}
