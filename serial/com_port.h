#pragma once
// TComPort: the one serial port through which the program talks to the receiver's console.
//
// Line settings are fixed: 115200 baud, 8 data bits, no parity, 1 stop bit, XON/XOFF both
// ways, DTR and RTS raised where the device has modem lines. The kernel obeys XOFF from the
// peer (IXON, IXANY off) and throttles the peer when its own input queue fills (IXOFF). The
// driver fill levels for XOFF/XON (3072/1024 of 4096) cannot be set on Linux, and a second
// throttle above the kernel would race with the kernel's own XON; since this port stops
// reading when its buffer is full, the kernel queue fills and the kernel throttles the peer. The
// port number is the only setting: "COM1".."COM4" (and on up to COM50) name /dev/ttyS0.. ; a port
// text that is a device path (/dev/ttyUSB0, /dev/pts/7) opens that device.
//
// Receiving. Every received byte is offered to every consumer:
//  - direct consumers (the terminal view), called on the port's I/O thread;
//  - the data-available event OnTriggerAvail, run on the thread that owns this object (the
//    UI thread) by a queued call, with Count = every byte unread at the moment it is posted
//    (one event per burst, not per read); no pass starts until the handler returns or
//    deliveryLimitMs() (3000 ms) has passed, so no second event starts inside a running
//    handler within that time.
// Each consumer has its own read cursor in the 8192-byte receive buffer. A pass offers a
// consumer the bytes past its cursor; its cursor advances by what it took. The buffer's read
// position is the slowest cursor, so when every consumer takes everything (the normal case)
// a pass of Count bytes advances the read position by Count, not by Count per consumer. A
// consumer that took less is offered the rest again (after new data, or 50 ms later), so no
// consumer misses a byte or sees one twice, even when the UI thread is blocked for longer
// than the delivery limit. When the buffer is full the port stops reading the device: the
// kernel holds further input and, with IXOFF, sends XOFF to the peer when its queue fills.
//
// Threads (one per open port): the I/O thread poll()s the device for input, output room and
// hang-up at once, so reading, writing and noticing a lost device need no thread each, and
// runs the notification passes too. It never blocks on the UI thread: waiting for a handler
// is a deadline bounding its poll, so input keeps flowing into the buffer and output keeps
// draining meanwhile, and a burst costs one wake-up here and one on the UI thread.
//
// A device that fails while open (USB adapter pulled, far end of a pseudo-terminal closed):
// the I/O thread stops touching it, the bytes already received are still delivered, then the
// port closes itself on the UI thread and emits portFailure() once with a clear message. The
// next WriteText/ReadChar tries to open again.
//
// Shutdown order (Close, and the destructor): mark shutting down → emit closing() → set the
// stop flag → wake the I/O thread (eventfd) → join it → discard the kernel's queues (tcflush),
// restore the device's original termios, drop exclusivity, close the fd (releases the flock) → emit
// closed(). A handler still running on the UI thread keeps the closed session's memory alive until
// it returns; its ReadChar calls return 0.
#include "core/port_name.h"
#include "core/posix_io.h"
#include "serial/device_identity.h"
#include "serial/port_errors.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class ConsumerRegistry;
class QSocketNotifier;
class PortChooser;
class PortSession;

class TComPort : public QObject {
    Q_OBJECT
public:
    // Called on the port's I/O thread with the bytes past this consumer's cursor (at least
    // one). Returns how many of them it took (clamped to 0..unread.size()); the rest are
    // offered again later. A consumer must only queue the bytes and return: it must not
    // block on the UI thread, call into this port, or throw (an exception counts as 0 taken).
    using Consumer = std::function<qsizetype(const QByteArray& unread)>;
    // The data-available event: Count unread bytes; the handler is expected to call
    // ReadChar() exactly Count times. Runs on the owning (UI) thread.
    using TriggerAvail = std::function<void(TComPort& sender, quint16 count)>;

    static constexpr qsizetype kReceiveBufferSize = 8192;
    static constexpr qsizetype kOutSize = 4096;
    static constexpr int kDefaultDeliveryLimitMs = 3000;
    static constexpr int kMaxComNumber = PortName::kMaxComNumber;

    explicit TComPort(QObject* parent = nullptr);
    ~TComPort() override; // closes the port (see shutdown order) without emitting signals

    // --- port number ---------------------------------------------------------------------
    // 0 = none (the next open asks the PortChooser); n >= 1 = /dev/ttyS<n-1>.
    quint16 ComNumber() const { return m_comNumber; }
    // Same number (and no device path in use): nothing. Closed: only recorded. Open: closes,
    // records, opens again (consumers and the event handler stay registered); a failed
    // reopen throws and leaves the port closed with the new number recorded.
    void setComNumber(quint16 number);
    // A device path that replaces the number (ComNumber() becomes 0). Same change rules.
    void setDevicePath(const QString& path);
    // A parsed port setting: "COMn" → setComNumber(n); a device path → setDevicePath(path);
    // none → setComNumber(0).
    void setPort(const PortName& port);
    // The device the next open uses; empty when none is configured.
    QString devicePath() const;
    static QString deviceForComNumber(quint16 number); // empty for 0 or > 50

    // Asked when opening with no port configured; nullptr (the default) = treated as cancel.
    void setPortChooser(PortChooser* chooser) { m_chooser = chooser; }

    // --- open / close ----------------------------------------------------------------------
    // Opens if closed (no-op when open). Throws EPortException (see port_errors.h):
    // ENoPortSelected, EBadId (no such device), EAlreadyOpen (flock/TIOCEXCL held by another
    // open), EInOutError (permission — the message names group dialout —, not a tty, others).
    // On failure the port stays closed.
    void Open();
    // No-op when closed. Never throws.
    void Close();
    bool isOpen() const { return m_session != nullptr; }
    // The device the last successful open reached (kept after it closed or vanished).
    const DeviceIdentity& openedIdentity() const { return m_openedIdentity; }

    // --- data ------------------------------------------------------------------------------
    // Queues the bytes unchanged and returns before they reach the wire. Opens a closed port
    // first (also for an empty text, which then sends nothing). Throws what Open() throws, or
    // EOutputBufferTooSmall when the text exceeds the free room in the 4096-byte output ring.
    // Does nothing while the port is shutting down.
    void WriteText(const QByteArray& bytes);
    // The next byte for the data-available handler (its cursor). Opens a closed port first.
    // Throws EBufferIsEmpty when no unread byte is left; returns 0 while shutting down and in
    // a handler whose port has been closed meanwhile.
    char ReadChar();
    // Up to maxBytes of the same bytes at once (a handler's Count in one call rather than
    // Count calls); returns how many. 0 while shutting down and in a handler whose port has
    // been closed meanwhile; throws EBufferIsEmpty when no unread byte is left.
    qsizetype ReadChars(char* out, qsizetype maxBytes);

    void setOnTriggerAvail(TriggerAvail handler);
    // Registrations live in this object and survive Close/Open. A consumer registered while
    // the port is open starts with the bytes that arrive after registration.
    int addConsumer(Consumer consumer); // returns an id > 0
    // After this returns (on any thread but the port's I/O thread) the consumer is never called
    // again; from inside the consumer itself it takes effect after the call returns.
    void removeConsumer(int id);

    // Bytes between the read position (slowest cursor) and the write position; 0 when closed.
    qsizetype unreadCount() const;
    int deliveryLimitMs() const { return m_deliveryLimitMs; }
    void setDeliveryLimitMs(int ms) { m_deliveryLimitMs = ms; } // takes effect at next open

signals:
    // The device is open and nothing has been read yet: a consumer registered from here
    // sees every byte of this open period.
    void opened();
    void closing();
    void closed();
    // A failure the user must see that no caller can catch: the device failed while open
    // (the port has already closed; emitted once per failure), or the data-available handler
    // let an exception out. The main window shows it in the standard error box.
    void portFailure(const QString& message);
    // The device of the open port failed (unplugged); emitted after the port closed itself
    // and before portFailure(), with the path it was opened by.
    void deviceLost(const QString& path);

private:
    struct Invocation; // a data-available handler running on this thread

    // Runs call on the owning thread (from any thread), in posting order.
    void postToOwner(std::function<void()> call);
    void runOnePosted();
    void runTriggerAvail(const std::shared_ptr<PortSession>& session, quint64 deliveryId,
                         quint16 count);
    void onDeviceLost(const std::shared_ptr<PortSession>& session, const QString& message);

    quint16 m_comNumber = 0;
    QString m_devicePath;
    DeviceIdentity m_openedIdentity;
    PortChooser* m_chooser = nullptr;
    int m_deliveryLimitMs = kDefaultDeliveryLimitMs;
    std::shared_ptr<PortSession> m_session;
    std::shared_ptr<TriggerAvail> m_trigger;
    std::shared_ptr<ConsumerRegistry> m_registry;
    int m_nextConsumerId = 1;
    std::vector<Invocation*> m_invocations;    // innermost last
    WakeFd m_wake;                             // "a posted call is waiting"
    QSocketNotifier* m_wakeNotifier = nullptr; // child of this object
    std::mutex m_postedMutex;
    std::deque<std::function<void()>> m_posted; // guarded by m_postedMutex
};
