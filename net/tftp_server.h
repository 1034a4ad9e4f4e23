#pragma once
// TTftpServer: serves one file, read-only, over TFTP to one client address, so a receiver's
// boot loader can fetch its image from this PC and nobody else on the network can fetch
// anything. Each transfer runs from an ephemeral port of its own (RFC 1350); blksize, tsize,
// timeout and windowsize are granted within Settings::limits when the client asks.
//
// What is served is fixed at start(): the file is opened once and its size decided then. Every
// transfer reads that open file from offset 0 (pread), so renaming or replacing the path later
// changes nothing. A file that has shrunk below the fixed size when a block is read fails the
// transfer (ERROR 0 to the client, the reason in Finished); one that grew serves the fixed size
// only, which is also what tsize announces.
//
// Who is served: only requests from Serve::peer for Serve::name, compared byte for byte as boot
// loaders send it, with or without one leading "/" ("emergency.ub" or "/emergency.ub"; PXE-style
// loaders add the slash). Anything else on the listening port gets no socket, no reply and no
// per-datagram report:
// - a read request from another address, or from the peer for another name: the refused
//   handler hears of it once per address per start() (at most kMaxRefusedReports addresses);
// - a write request from the peer: one ERROR 2 ("read-only server"), within the error rate
//   below, and a refused report as above;
// - anything malformed or unexpected (ERROR, ACK, DATA, OACK, unknown opcodes, unknown modes):
//   silence.
// On a transfer's port, a datagram from the peer's address but another port gets ERROR 5
// (unknown transfer ID), except an ERROR, which is never answered; the error replies to the
// peer (ERROR 2 and 5) together go out at most once per Settings::errorInterval. Datagrams
// from other addresses are dropped.
//
// One transfer at a time per client address, so with one peer at most one transfer at all. A
// request repeated from the same port is the client's own retry and is ignored (its transfer
// is already answering it). A request from a new port replaces the running transfer only when
// that transfer has had no ACK progress for its retransmit timeout (tftp::replacesTransfer):
// then the client gave up on it, and a boot loader restarting its fetch is served at once, not
// after the old transfer times out. A healthy transfer is never cancelled by such a request,
// which anyone on the LAN can forge, and a flood of them costs at most one socket and one
// report per retransmit timeout. A transfer whose client falls
// silent ends after maxRetries retransmissions: retries × timeout, the timeout at most
// limits.maxTimeoutSeconds.
//
// Threads: start() and stop() belong to the owner's thread (the UI thread). The server runs
// one thread of its own that owns every transfer socket; the progress, finished and refused
// handlers are called on that thread, never under a lock of the server. To reach a widget,
// post from the handler, e.g. QMetaObject::invokeMethod(window, [=] { ... },
// Qt::QueuedConnection). A handler must not call start() or stop() (they wait for the very
// thread it runs on).
//
// Shutdown order (stop(), also run by the destructor): stop flag → wake the server thread
// through its eventfd → the thread reports a running transfer as finished ("stopped"), closes
// the transfer's socket and ends → join → close the listening socket and the served file, so
// the port is free when stop() returns (for an adopted socket: provided the caller kept no
// copy of the descriptor) and a new start() on the same port binds at once.
#include "core/posix_io.h"
#include "net/tftp_packet.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>

class TTftpServer {
public:
    // What is served, and to whom.
    struct Serve {
        std::string path;       // the file; opened once by start(), must be a regular file
        std::string name;       // the one name a client may ask for, e.g. "emergency.ub"
        std::int64_t size = -1; // bytes to serve; -1 = the file's size at start()
        std::string peer;       // dotted IPv4: the only client served
        bool operator==(const Serve&) const = default;
    };

    struct Settings {
        // Retransmission after this long without an ACK (unless the client asks for its own
        // timeout); after maxRetries retransmissions in a row the client counts as gone.
        std::chrono::milliseconds retransmitTimeout{1000};
        int maxRetries = 5;
        tftp::Limits limits;
        // Progress is reported at most this often per transfer (and once at the end).
        std::chrono::milliseconds progressInterval{200};
        // ERROR 2 and 5 replies to the peer go out at most this often.
        std::chrono::milliseconds errorInterval{1000};
    };

    struct Progress {
        std::string fileName;        // as the client asked for it
        std::string client;          // "address:port"
        std::uint64_t bytesSent = 0; // acknowledged by the client
        std::uint64_t fileSize = 0;  // the size fixed at start()
    };

    // One per transfer that ended, success or not.
    struct Finished {
        std::string fileName;
        std::string client;
        std::uint64_t bytesSent = 0;
        std::uint64_t fileSize = 0;
        bool success = false;
        std::string reason; // empty on success
    };

    // A client address whose request was refused; once per address per start().
    struct Refused {
        std::string client; // dotted IPv4 address
        std::string reason; // e.g. "not the receiver's address"
    };

    using ProgressHandler = std::function<void(const Progress&)>;
    using FinishedHandler = std::function<void(const Finished&)>;
    using RefusedHandler = std::function<void(const Refused&)>;

    static constexpr std::uint16_t kDefaultPort = 69;
    // Refused reports per start() at most: a flood from forged addresses must not become a
    // flood of log lines.
    static constexpr int kMaxRefusedReports = 32;

    TTftpServer() = default;
    explicit TTftpServer(const Settings& settings) : m_settings(settings) {}
    ~TTftpServer();
    TTftpServer(const TTftpServer&) = delete;
    TTftpServer& operator=(const TTftpServer&) = delete;

    // Handlers and settings are read by the server thread: change them only while stopped.
    void setProgressHandler(ProgressHandler handler) { m_onProgress = std::move(handler); }
    void setFinishedHandler(FinishedHandler handler) { m_onFinished = std::move(handler); }
    void setRefusedHandler(RefusedHandler handler) { m_onRefused = std::move(handler); }
    void setSettings(const Settings& settings) { m_settings = settings; }

    // Serves `serve` on bindAddress (dotted IPv4, this PC's address facing the peer) and port
    // (0 = any free port; see boundPort()). Returns an empty text on success, else the reason
    // for the log, e.g. "bind 192.168.1.2:69: Permission denied (EACCES)" or "file
    // /home/u/emergency.ub holds 1000 bytes, 2000 were to be served". Already running with the
    // same serve, address and port: keeps running (transfers go on) and returns empty; running
    // with anything else: stops, then starts anew.
    std::string start(const Serve& serve, const std::string& bindAddress,
                      std::uint16_t port = kDefaultPort);
    // The same on a UDP socket bound elsewhere (port 69 from the privileged helper), which
    // the server adopts: it closes it in stop(), or at once when start fails. Always starts
    // anew when running.
    std::string start(const Serve& serve, UniqueFd boundSocket);
    // Ends the transfer and frees the port; see the shutdown order above. Idempotent.
    void stop();

    bool running() const { return m_thread.joinable(); }
    // The port actually bound; 0 while stopped.
    std::uint16_t boundPort() const { return running() ? m_boundPort : 0; }
    // Transfers running right now (0 or 1).
    int activeTransfers() const { return m_activeTransfers.load(); }

private:
    class Loop; // the server thread's state and steps (tftp_server.cpp)

    std::string begin(const Serve& serve, UniqueFd socket);

    Settings m_settings;
    ProgressHandler m_onProgress;
    FinishedHandler m_onFinished;
    RefusedHandler m_onRefused;

    // Set by start() before the thread exists, read-only while it runs.
    Serve m_serve;
    std::string m_bindAddress; // as given to start(); empty for an adopted socket
    std::uint16_t m_askedPort = 0;
    bool m_adopted = false;
    std::uint16_t m_boundPort = 0;
    std::uint32_t m_bindIp = 0; // network order
    std::uint32_t m_peerIp = 0; // network order
    std::uint64_t m_size = 0;   // fixed at start()
    UniqueFd m_file;
    UniqueFd m_socket;
    std::optional<WakeFd> m_wake; // exists while the server thread runs

    std::atomic<bool> m_stop{false};
    std::atomic<int> m_activeTransfers{0};
    std::thread m_thread;
};
