#include "net/socket_util.h"

#include "net/net_errors.h"

#include <cstring>

#include <poll.h>
#include <sys/socket.h>

ESocketError::ESocketError(int error)
    : ENetError(QStringLiteral("Socket-Fehler # %1\n%2")
                    .arg(error)
                    .arg(QString::fromLocal8Bit(std::strerror(error)))),
      m_error(error) {}

int sendAll(int fd, const char* data, std::size_t size, int flags) {
    while (size > 0) {
        const ssize_t sent = sendRetrying(fd, data, size, flags | MSG_NOSIGNAL);
        if (sent < 0)
            return errno;
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return 0;
}

int waitReadable(int fd, int timeoutMs) {
    pollfd entry{fd, POLLIN, 0};
    const int ready = pollRetrying(&entry, 1, timeoutMs);
    return ready < 0 ? -1 : (ready == 0 ? 0 : 1);
}
