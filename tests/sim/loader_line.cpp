#include "tests/sim/loader_line.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

namespace stbsim {

bool LoaderLine::open(QString* error) {
    char name[256] = {};
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        *error = QStringLiteral("openpty failed: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    termios raw{};
    ::tcgetattr(m_slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(m_slave, TCSANOW, &raw);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    m_path = QString::fromLocal8Bit(name);
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    return true;
}

void LoaderLine::close() {
    for (int* fd : {&m_master, &m_slave, &m_wakeFd}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

void LoaderLine::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_wakeFd, &one, sizeof one);
}

void LoaderLine::send(const QByteArray& bytes, const std::atomic<bool>& stop) {
    {
        std::lock_guard lock(m_mutex);
        m_sent += bytes;
    }
    qsizetype done = 0;
    while (done < bytes.size() && !stop) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return;
        pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {m_master, POLLOUT, 0}};
        ::poll(fds, 2, 20);
    }
}

QByteArray LoaderLine::sent() const {
    std::lock_guard lock(m_mutex);
    return m_sent;
}

bool LoaderLine::waitForSent(const QByteArray& text, int timeoutMs, qsizetype from) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (sent().indexOf(text, from) < 0) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

} // namespace stbsim
