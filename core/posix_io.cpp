#include "core/posix_io.h"

#include <cerrno>
#include <chrono>

bool writeAll(int fd, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += std::size_t(n);
    }
    return true;
}

ssize_t readRetrying(int fd, void* buffer, std::size_t size) {
    ssize_t n;
    do {
        n = ::read(fd, buffer, size);
    } while (n < 0 && errno == EINTR);
    return n;
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
