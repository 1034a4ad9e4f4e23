#include "serial/port_session.h"

#include "core/posix_io.h"
#include "serial/port_errors.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr qsizetype kOutSize = 4096;

QString lostMessage(const QString& path, int err) {
    const QString reason = err == 0 ? QStringLiteral("the line was hung up")
                                    : QString::fromLocal8Bit(std::strerror(err));
    return QStringLiteral("The serial device %1 stopped working (%2). The port has been closed; "
                          "it is opened again with the next command.")
        .arg(path, reason);
}

// A poll timeout that reaches `when`: rounded up, and at least 1 ms so it never spins.
int msUntil(std::chrono::steady_clock::time_point when, std::chrono::steady_clock::time_point now) {
    using std::chrono::ceil;
    using std::chrono::milliseconds;
    return int(std::max<qint64>(1, ceil<milliseconds>(when - now).count()));
}

} // namespace

void ConsumerRegistry::add(int id, Consumer consumer) {
    std::lock_guard lock(m_mutex);
    m_entries.push_back(std::make_shared<Entry>(Entry{id, std::move(consumer)}));
}

void ConsumerRegistry::remove(int id) {
    std::lock_guard lock(m_mutex);
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if ((*it)->id == id) {
            (*it)->removed = true;
            m_entries.erase(it);
            return;
        }
    }
}

PortSession::PortSession(OpenedDevice device, std::shared_ptr<ConsumerRegistry> registry,
                         int deliveryLimitMs, bool eventEnabled)
    : m_device(std::move(device)), m_registry(std::move(registry)),
      m_deliveryLimit(deliveryLimitMs), m_eventEnabled(eventEnabled) {
    {
        std::lock_guard reg(m_registry->mutex());
        for (const auto& e : m_registry->entries())
            m_buffer.addCursor(e->id);
    }
    if (m_eventEnabled)
        m_buffer.addCursor(kEventCursor);
}

PortSession::~PortSession() {
    stop();
}

void PortSession::start(Hooks hooks) {
    m_hooks = std::move(hooks);
    m_wakeFd.emplace();
    if (!m_wakeFd->valid()) {
        const int err = errno;
        throw EInOutError(err, QStringLiteral("Cannot start the serial port: %1")
                                   .arg(QString::fromLocal8Bit(std::strerror(err))));
    }
    try {
        m_io = std::thread([this] { ioLoop(); });
    } catch (const std::system_error& e) {
        stop();
        throw EInOutError(e.code().value(), QStringLiteral("Cannot start the serial port threads"));
    }
}

void PortSession::stop() {
    if (m_stopped)
        return;
    m_stopped = true;
    m_stopping = true;
    {
        std::lock_guard lock(m_rxMutex);
        m_stop = true;
    }
    wakeIo();
    if (m_io.joinable())
        m_io.join();
    closeSerialDevice(m_device);
    m_wakeFd.reset(); // only after the join: the I/O thread waits on it until then
    std::lock_guard lock(m_outMutex);
    m_out.clear();
}

void PortSession::wakeIo() {
    if (m_wakeFd)
        m_wakeFd->signal();
}

void PortSession::write(const QByteArray& bytes) {
    if (bytes.isEmpty() || m_stopping)
        return;
    {
        std::lock_guard lock(m_outMutex);
        if (bytes.size() > kOutSize - m_out.size())
            throw EOutputBufferTooSmall();
        m_out.append(bytes.constData(), bytes.size()); // a copy of our own, never shared
    }
    wakeIo();
}

qsizetype PortSession::readEventBytes(quint64 deliveryId, char* out, qsizetype maxBytes) {
    std::lock_guard lock(m_rxMutex);
    const qsizetype n = m_buffer.take(kEventCursor, out, maxBytes);
    if (n == 0)
        return 0;
    const auto it = m_deliveries.find(deliveryId);
    if (it != m_deliveries.end())
        it->second.read += n;
    resumeIoIfRoomLocked();
    return n;
}

void PortSession::resumeIoIfRoomLocked() {
    if (m_ioStalled && !m_buffer.full()) {
        m_ioStalled = false;
        wakeIo();
    }
}

void PortSession::finishDelivery(quint64 deliveryId) {
    bool wake = false;
    {
        std::lock_guard lock(m_rxMutex);
        m_deliveries.erase(deliveryId);
        // Usually the handler took every byte and nothing came meanwhile: then the I/O
        // thread has nothing to do, and waking it would be a wasted hand-off per burst.
        wake = m_buffer.unread() > 0 || (m_ioEnded && !m_lostReported);
    }
    if (wake)
        wakeIo();
}

void PortSession::setEventEnabled(bool enabled) {
    {
        std::lock_guard lock(m_rxMutex);
        if (enabled == m_eventEnabled)
            return;
        m_eventEnabled = enabled;
        if (enabled)
            m_buffer.addCursor(kEventCursor);
        else
            m_buffer.removeCursor(kEventCursor);
        resumeIoIfRoomLocked();
    }
    wakeIo();
}

void PortSession::addConsumerCursor(int id) {
    {
        std::lock_guard lock(m_rxMutex);
        if (!m_buffer.hasCursor(id))
            m_buffer.addCursor(id);
    }
    wakeIo();
}

void PortSession::removeConsumerCursor(int id) {
    {
        std::lock_guard lock(m_rxMutex);
        m_buffer.removeCursor(id);
        m_lastOffer.erase(id);
        resumeIoIfRoomLocked();
    }
}

qsizetype PortSession::unreadCount() const {
    std::lock_guard lock(m_rxMutex);
    return m_buffer.unread();
}

qsizetype PortSession::promisedLocked() const {
    qsizetype promised = 0;
    for (const auto& [id, d] : m_deliveries)
        promised += std::max<qsizetype>(0, qsizetype(d.count) - d.read);
    return promised;
}

void PortSession::endIo(int err) {
    if (m_ioEnded)
        return;
    m_ioEnded = true;
    m_ioError = err;
    m_ioEndedAt = Clock::now();
}

void PortSession::ioLoop() {
    for (;;) {
        bool wantIn = false;
        bool ended = false;
        int timeoutMs = -1;
        {
            std::unique_lock lock(m_rxMutex);
            if (m_stop)
                return;
            timeoutMs = dispatchLocked(lock);
            if (m_stop)
                return;
            ended = m_ioEnded;
            wantIn = !m_buffer.full();
            // Whoever frees room next must wake us, or input would stay in the kernel.
            m_ioStalled = !wantIn;
        }
        bool wantOut = false;
        {
            std::lock_guard lock(m_outMutex);
            wantOut = !m_out.isEmpty();
        }
        const auto now = Clock::now();
        bool paced = false;
        if (wantIn && now < m_pauseUntil) {
            wantIn = false;
            paced = true;
            const int left = msUntil(m_pauseUntil, now);
            timeoutMs = timeoutMs < 0 ? left : std::min(timeoutMs, left);
        }
        pollfd fds[2] = {{m_wakeFd->get(), POLLIN, 0}, {ended ? -1 : m_device.fd.get(), 0, 0}};
        fds[1].events = short((wantIn ? POLLIN : 0) | (wantOut ? POLLOUT : 0));
        if (pollRetrying(fds, 2, timeoutMs) < 0) {
            const int err = errno;
            std::lock_guard lock(m_rxMutex);
            endIo(err);
            continue;
        }
        if (fds[0].revents & POLLIN)
            m_wakeFd->drain();
        const short rev = fds[1].revents;
        if (ended || rev == 0)
            continue;

        int failure = -1; // -1 = none, 0 = hang-up, >0 = errno
        if (rev & POLLNVAL) {
            failure = EBADF;
        } else if ((wantIn || paced) && (rev & (POLLIN | POLLHUP | POLLERR))) {
            // A hang-up during the pause still leaves its last bytes to read first.
            failure = readIntoBuffer();
        } else if (rev & (POLLHUP | POLLERR)) {
            failure = 0;
        }
        if (failure < 0 && (rev & POLLOUT))
            failure = writeQueued();
        if (failure >= 0) {
            std::lock_guard lock(m_rxMutex);
            endIo(failure);
        }
    }
}

int PortSession::readIntoBuffer() {
    // Read until the kernel has nothing more or our buffer is full. Filling the region outside
    // the lock is safe: no reader looks past the write position.
    qsizetype got = 0;
    bool drained = false; // the kernel had nothing more, as opposed to our ring full
    int failure = -1;
    for (;;) {
        std::span<char> region;
        {
            std::lock_guard lock(m_rxMutex);
            region = m_buffer.writableRegion();
        }
        if (region.empty())
            break;
        const ssize_t n = readRetrying(m_device.fd.get(), region.data(), region.size());
        if (n > 0) {
            got += n;
            std::lock_guard lock(m_rxMutex);
            m_buffer.commit(n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            drained = true;
            break;
        }
        failure = n == 0 ? 0 : errno;
        break;
    }
    paceAfterRead(got, drained);
    return failure;
}

int PortSession::writeQueued() {
    std::lock_guard lock(m_outMutex);
    while (!m_out.isEmpty()) {
        const ssize_t n = retryingEintr(
            [&] { return ::write(m_device.fd.get(), m_out.constData(), size_t(m_out.size())); });
        if (n > 0) {
            m_out.remove(0, n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return -1;
        return n < 0 ? errno : EIO;
    }
    return -1;
}

void PortSession::paceAfterRead(qsizetype got, bool drained) {
    const auto now = Clock::now();
    if (now - m_windowStart >= kReadPacing) {
        m_windowStart = now;
        m_windowBytes = 0;
    }
    m_windowBytes += got;
    if (got >= kPaceBelow)
        m_burstUntil = now + kBurstHold;
    const bool stream = drained && m_windowBytes >= kStreamBytes && now >= m_burstUntil;
    m_pauseUntil = stream ? now + kReadPacing : Clock::time_point{};
}

void PortSession::runConsumers(std::unique_lock<std::mutex>& lock) {
    // The registry lock comes first in the lock order, so drop ours while taking it.
    lock.unlock();
    std::unique_lock reg(m_registry->mutex());
    const auto entries = m_registry->entries();
    lock.lock();
    const auto now = Clock::now();
    for (const auto& entry : entries) {
        if (m_stop)
            break;
        if (entry->removed)
            continue;
        if (!m_buffer.hasCursor(entry->id))
            m_buffer.addCursor(entry->id);
        const qsizetype unread = m_buffer.unreadFor(entry->id);
        if (unread == 0)
            continue;
        auto& last = m_lastOffer[entry->id];
        if (last.first == m_buffer.writePos() && now - last.second < kReofferInterval)
            continue; // offered these already and nothing new came; retry a bit later
        m_buffer.peekInto(entry->id, unread, m_offer);
        last = {m_buffer.writePos(), now};
        lock.unlock();
        qsizetype taken = 0;
        try {
            taken = entry->call(m_offer);
        } catch (...) {
            taken = 0;
        }
        lock.lock();
        if (!entry->removed)
            m_buffer.advance(entry->id, std::clamp<qsizetype>(taken, 0, m_offer.size()));
    }
    lock.unlock();
    reg.unlock();
    lock.lock();
}

bool PortSession::runEvent(std::unique_lock<std::mutex>& lock) {
    if (!m_eventEnabled || m_stop)
        return false;
    const qsizetype unpromised = m_buffer.unreadFor(kEventCursor) - promisedLocked();
    if (unpromised < 1)
        return false;
    const auto now = Clock::now();
    if (m_notifyPos == m_buffer.writePos() && now - m_lastPost < kReofferInterval)
        return false;
    const quint64 id = m_nextDeliveryId++;
    const auto count = quint16(std::min<qsizetype>(unpromised, 0xFFFF));
    m_deliveries[id] = Delivery{count, 0, false};
    m_notifyPos = m_buffer.writePos();
    m_lastPost = now;
    // Passes wait for the handler on the UI thread, but never longer than the limit, so a
    // blocked UI thread cannot stall the terminal view. Its bytes stay reserved for it.
    m_waitingFor = id;
    m_waitDeadline = now + m_deliveryLimit;
    lock.unlock();
    m_hooks.postTrigger(shared_from_this(), id, count);
    lock.lock();
    return true;
}

int PortSession::dispatchLocked(std::unique_lock<std::mutex>& lock) {
    Clock::time_point now = Clock::now();
    if (m_waitingFor != 0) {
        // While a handler runs within the limit no pass starts; input still fills the buffer.
        if (m_deliveries.count(m_waitingFor) != 0 && now < m_waitDeadline)
            return msUntil(m_waitDeadline, now);
        m_waitingFor = 0;
    }
    runConsumers(lock);
    if (m_stop)
        return -1;
    if (runEvent(lock))
        return msUntil(m_waitDeadline, Clock::now());

    now = Clock::now();
    int timeoutMs = -1;
    if (m_ioEnded && !m_lostReported) {
        if (m_deliveries.empty() || now - m_ioEndedAt >= m_deliveryLimit) {
            m_lostReported = true;
            const QString message = lostMessage(m_device.path, m_ioError);
            lock.unlock();
            m_hooks.postLost(shared_from_this(), message);
            lock.lock();
        } else {
            timeoutMs = msUntil(m_ioEndedAt + m_deliveryLimit, now);
        }
    }
    // Some consumer still has bytes it did not take: offer them again a little later.
    if (m_buffer.unread() > 0) {
        const int reoffer = int(kReofferInterval.count());
        timeoutMs = timeoutMs < 0 ? reoffer : std::min(timeoutMs, reoffer);
    }
    return timeoutMs;
}
