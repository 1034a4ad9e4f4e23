#pragma once
// Small POSIX socket helpers shared by the telnet client and the HTTP server.
#include "core/posix_io.h"

#include <cstddef>

// Writes all bytes (MSG_NOSIGNAL, so a closed peer is EPIPE and not a signal), retrying after
// EINTR and short writes. Returns 0, or the errno of the failing send.
int sendAll(int fd, const char* data, std::size_t size, int flags = 0);

// Waits up to timeoutMs (negative: without limit) for fd to become readable or hung up.
// Returns 1 readable, 0 timed out, -1 on a poll failure (errno set).
int waitReadable(int fd, int timeoutMs);
