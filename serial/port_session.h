#pragma once
// One open period of the serial port: the device, the receive buffer with its cursors, the
// output ring and the thread that moves bytes (see com_port.h for the model).
//
// One I/O thread poll()s the device and an eventfd, reads, writes and runs the notification
// passes. It never blocks on the UI thread: a posted data-available event is a state with a
// deadline (the delivery limit) that bounds the poll, and the handler's return wakes the
// thread only when there is something for it to do. So a burst from the device costs one
// wake-up of this thread and one of the UI thread. Everything shared with the owning (UI)
// thread lives under m_rxMutex (receive buffer, deliveries, flags) or m_outMutex (output
// ring). Lock order: consumer registry → m_rxMutex; m_outMutex is never held with another.
//
// Shutdown order (stop()): set m_stop under m_rxMutex → wake the I/O thread through the
// eventfd → join it → close the device (flush, restore termios, release exclusivity) →
// close the eventfd. The object itself may outlive stop() while a data-available handler
// still holds it.
#include "core/posix_io.h"
#include "serial/port_device.h"
#include "serial/receive_buffer.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// The consumers registered with the port; shared by the port and each of its sessions so
// registrations survive a reopen. call() runs under the registry's (recursive) lock, so
// remove() from another thread waits for a running call to end.
class ConsumerRegistry {
public:
    using Consumer = std::function<qsizetype(const QByteArray&)>;
    struct Entry {
        int id;
        Consumer call;
        bool removed = false;
    };
    void add(int id, Consumer consumer);
    void remove(int id);
    std::recursive_mutex& mutex() { return m_mutex; }
    // Only with mutex() held.
    std::vector<std::shared_ptr<Entry>> entries() const { return m_entries; }

private:
    std::recursive_mutex m_mutex;
    std::vector<std::shared_ptr<Entry>> m_entries;
};

class PortSession : public std::enable_shared_from_this<PortSession> {
public:
    static constexpr int kEventCursor = 0; // consumer ids are > 0
    static constexpr std::chrono::milliseconds kReofferInterval{50};
    // While a stream arrives (kStreamBytes or more within kReadPacing), the device is left
    // alone for kReadPacing after each read, so the stream is taken in slices rather than a
    // wake-up of both threads for every few bytes the driver passes on: at 115200 baud a
    // slice is about 460 bytes, far inside the kernel's buffer and ours. Bytes that come now
    // and then (an echo, a prompt, a reply) are read the moment they arrive. A read that
    // found kPaceBelow bytes or more means they come faster than a pause would gather them
    // (the kernel's buffer fills first): no pause for kBurstHold then, so a burst through a
    // pseudo-terminal is taken at full speed. Nor is there one when our ring was full.
    static constexpr std::chrono::milliseconds kReadPacing{40};
    static constexpr std::chrono::milliseconds kBurstHold{250};
    static constexpr qsizetype kStreamBytes = 256;
    static constexpr qsizetype kPaceBelow = 2048;

    struct Hooks {
        // Both are called on the I/O thread and must return at once (queued calls).
        std::function<void(std::shared_ptr<PortSession>, quint64 deliveryId, quint16 count)>
            postTrigger;
        std::function<void(std::shared_ptr<PortSession>, QString message)> postLost;
    };

    PortSession(OpenedDevice device, std::shared_ptr<ConsumerRegistry> registry,
                int deliveryLimitMs, bool eventEnabled);
    ~PortSession(); // stops if still running
    PortSession(const PortSession&) = delete;
    PortSession& operator=(const PortSession&) = delete;

    // Starts the I/O thread. Throws EInOutError when the eventfd or the thread cannot be made.
    void start(Hooks hooks);
    // See the shutdown order above. Idempotent; never throws.
    void stop();
    bool stopping() const { return m_stopping.load(); }
    const QString& path() const { return m_device.path; }

    // Owning thread: queues bytes for the device. Throws EOutputBufferTooSmall when they do
    // not fit in the free room of the output ring; an empty text does nothing.
    void write(const QByteArray& bytes);
    // Owning thread: up to maxBytes for the data-available handler; returns how many (0 =
    // nothing unread). deliveryId != 0 counts them against that delivery's Count.
    qsizetype readEventBytes(quint64 deliveryId, char* out, qsizetype maxBytes);
    // Owning thread: the handler of that delivery has returned (or was skipped).
    void finishDelivery(quint64 deliveryId);
    void setEventEnabled(bool enabled);
    // Registers the cursor of a consumer added while the session runs (at the write position).
    void addConsumerCursor(int id);
    void removeConsumerCursor(int id);
    qsizetype unreadCount() const;

private:
    struct Delivery {
        quint16 count = 0;
        qsizetype read = 0;
        bool done = false;
    };
    using Clock = std::chrono::steady_clock;

    void ioLoop();
    // One notification pass when one is due; returns the poll timeout in ms (-1 = none).
    int dispatchLocked(std::unique_lock<std::mutex>& lock);
    void runConsumers(std::unique_lock<std::mutex>& lock);
    // I/O thread. Each returns -1 when the device is fine, 0 on a hang-up, else an errno.
    int readIntoBuffer();
    int writeQueued();
    void paceAfterRead(qsizetype got, bool drained); // I/O thread, after a read
    bool runEvent(std::unique_lock<std::mutex>& lock);
    qsizetype promisedLocked() const;
    void wakeIo();
    void resumeIoIfRoomLocked(); // with m_rxMutex held
    void endIo(int err);         // with m_rxMutex held

    OpenedDevice m_device;
    std::shared_ptr<ConsumerRegistry> m_registry;
    const std::chrono::milliseconds m_deliveryLimit;
    Hooks m_hooks;
    std::optional<WakeFd> m_wakeFd; // from start() until stop() closes it
    std::thread m_io;
    std::atomic<bool> m_stopping{false};
    bool m_stopped = false; // owning thread only

    mutable std::mutex m_rxMutex;
    bool m_stop = false;
    ReceiveBuffer m_buffer;
    bool m_eventEnabled = false;
    std::map<quint64, Delivery> m_deliveries; // posted, handler not yet returned
    quint64 m_waitingFor = 0; // the delivery passes wait for (until it returns or expires)
    Clock::time_point m_waitDeadline{};
    QByteArray m_offer; // the bytes offered to a consumer; reused, so a pass allocates nothing
    quint64 m_nextDeliveryId = 1;
    quint64 m_notifyPos = 0;
    Clock::time_point m_lastPost{};
    std::map<int, std::pair<quint64, Clock::time_point>> m_lastOffer; // consumer → write, when
    bool m_ioStalled = false; // the I/O thread stopped reading because the buffer was full
    bool m_ioEnded = false;
    int m_ioError = 0;
    Clock::time_point m_ioEndedAt{};
    // I/O thread only: the pause after the last read, the bytes read since windowStart, and
    // the end of the no-pause time after a burst.
    Clock::time_point m_pauseUntil{};
    Clock::time_point m_burstUntil{};
    Clock::time_point m_windowStart{};
    qsizetype m_windowBytes = 0;
    bool m_lostReported = false;

    std::mutex m_outMutex;
    QByteArray m_out; // at most kOutSize bytes
};
