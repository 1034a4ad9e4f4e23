#pragma once
// TTelnetClient: the program's one telnet client for sessions with the receiver's telnet
// service. All public methods are for the UI thread. Each open session has one I/O thread that
// reads what arrives, answers the option negotiation itself, and hands each block of text
// to the UI thread, waiting until the data handler has run there: the block goes into a queue
// under a lock, a wake-up byte on an eventfd makes the UI thread's event loop (any loop, also
// the nested ones of the tick wait) run the handler, and the thread's wait also ends when the
// session is being closed, so a closing UI thread never deadlocks on it.
//
// Everything written to the socket, the UI thread's lines and the negotiation replies alike,
// goes through one bounded outgoing queue that only the I/O thread writes out, without
// blocking. No lock is ever held across a socket call, so a receiver that stops reading can
// never hold up the UI thread: a queue that stays full (kMaxOutgoing bytes, or no progress for
// kSendStallMs) ends the session, and the next send reports it closed.
//
// Shutdown order (Disconnect, also run by ResetTelnetClient, Connect and the destructor): stop
// flag → wake the I/O thread and any hand-off wait → join the I/O thread → one last write of
// what is still queued, without waiting → close the socket. A handed-off block that has not
// run yet still runs later on the UI thread, as long as the client exists.
#include "core/posix_io.h"
#include "core/telnet_link.h"
#include "core/ticker.h"
#include "net/telnet_option_parser.h"

#include <QObject>
#include <QSocketNotifier>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class TTelnetClient : public QObject, public TelnetLink {
    Q_OBJECT
public:
    using DataHandler = std::function<void(const QString& text)>;

    static constexpr std::uint16_t kDefaultPort = 23;
    static constexpr int kReadSize = 32768;
    // The system's own connect time-out is about two minutes; a receiver on the home network
    // answers in milliseconds or not at all.
    static constexpr int kDefaultConnectTimeoutMs = 5000;
    static constexpr int kSendTicks = 15;
    // A receiver that takes none of this much queued output, or none of it for this long, is
    // gone as far as the session is concerned.
    static constexpr int kMaxOutgoing = 64 * 1024;
    static constexpr int kSendStallMs = 5000;

    // ticker: the tick wait SendTelnet uses (it must outlive the client).
    explicit TTelnetClient(Ticker& ticker, QObject* parent = nullptr);
    ~TTelnetClient() override;

    // Called on the UI thread with each received block's text (possibly empty). Without one, the
    // receive thread ends at its first block.
    void setOnDataAvailable(DataHandler handler) { m_handler = std::move(handler); }
    void setHost(const QString& host) override { m_host = host; }
    void setPort(std::uint16_t port) { m_port = port; }
    std::uint16_t port() const { return m_port; }
    // SettleDelay, added to every wait: a fixed number, or read at each send (the settings
    // are read after the client is made).
    void setSettleDelay(int ticks) {
        m_settleDelay = [ticks] { return ticks; };
    }
    void setSettleDelay(std::function<int()> source) { m_settleDelay = std::move(source); }
    void setConnectTimeoutMs(int ms) { m_connectTimeoutMs = ms; }
    QByteArray terminal() const { return m_parser.terminal(); }
    bool serverSpeaksTelnet() const { return m_parser.serverSpeaksTelnet(); }

    void ResetTelnetClient() override;
    // Blocks the caller for the connect (at most the connect time-out) while the window keeps
    // painting, without taking the user's input meanwhile.
    void Connect() override;
    bool Connected() const override { return m_open.load(); }
    void Disconnect() override;
    void SendTelnet(const QString& line) override;
    void SendTelnetChar(char c) override;

private:
    void receiveLoop();
    bool handOver(const QString& text);
    void runHandOffs();                       // UI thread: runs the handler for every block waiting
    void writeBytes(const QByteArray& bytes); // throws EConnClosedGracefully
    bool enqueue(const QByteArray& bytes);    // false: the queue is full
    int flushOutgoing();                      // I/O thread: bytes sent, -1 on a broken socket

    Ticker& m_ticker;
    DataHandler m_handler;
    QString m_host;
    std::uint16_t m_port = kDefaultPort;
    std::function<int()> m_settleDelay = [] { return 0; };
    int m_connectTimeoutMs = kDefaultConnectTimeoutMs;

    TelnetOptionParser m_parser; // used by the receive thread while a session is open
    UniqueFd m_fd;               // owned by the UI thread; closed only after the join
    std::thread m_receiver;
    std::atomic<bool> m_open{false};
    std::atomic<bool> m_stop{false};
    std::mutex m_outMutex;
    QByteArray m_outgoing; // guarded by m_outMutex; only the I/O thread takes from its front
    WakeFd m_ioWakeFd;     // eventfd: UI thread → I/O thread (output queued, stop)

    std::mutex m_handOffMutex;
    std::condition_variable m_handOffDone;
    std::deque<QString> m_handOffs;     // guarded by m_handOffMutex
    std::uint64_t m_handOffsQueued = 0; // guarded by m_handOffMutex
    std::uint64_t m_handOffsRun = 0;    // guarded by m_handOffMutex
    WakeFd m_wakeFd;                    // eventfd: receive thread → UI thread
    QSocketNotifier* m_wakeNotifier = nullptr;
};
