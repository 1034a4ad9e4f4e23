#pragma once
// TTftpServer: serves the regular files of one folder, read-only, over TFTP, so a receiver's
// boot loader can fetch its image from this PC. Each transfer runs from an ephemeral port of
// its own (RFC 1350); blksize, tsize, timeout and windowsize are granted when the client asks.
//
// Refused: write requests (error 2), names that are absolute or contain a ".." component
// (error 2), anything that resolves outside the folder, symbolic links included (error 2;
// the kernel resolves the name beneath the folder, so a link swapped in mid-request cannot
// escape either), unknown names and anything that is not a regular file (error 1, so a folder
// is never listed), more than Settings::maxTransfers transfers at once (error 0).
//
// Threads: start() and stop() belong to the owner's thread (the UI thread). The server runs
// one thread of its own that owns every socket and file; the progress and finished handlers
// are called on that thread, never under a lock of the server. To reach a widget, post from
// the handler, e.g. QMetaObject::invokeMethod(window, [=] { ... }, Qt::QueuedConnection).
// A handler must not call start() or stop() (they wait for the very thread it runs on).
//
// Shutdown order (stop(), also run by the destructor): stop flag → wake the server thread
// through its eventfd → the thread reports every running transfer as finished ("stopped"),
// closes the transfers' sockets and files and ends → join → close the listening socket, so
// the port is free when stop() returns and a new start() on the same port binds at once.
#include "net/tftp_packet.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

class TTftpServer {
public:
    struct Settings {
        // Retransmission after this long without an ACK (unless the client asks for its own
        // timeout); after maxRetries retransmissions in a row the client counts as gone.
        std::chrono::milliseconds retransmitTimeout{1000};
        int maxRetries = 5;
        int maxTransfers = 16;
        tftp::Limits limits;
        // Progress is reported at most this often per transfer (and once at the end).
        std::chrono::milliseconds progressInterval{200};
    };

    struct Progress {
        std::string fileName;        // as the client asked for it
        std::string client;          // "address:port"
        std::uint64_t bytesSent = 0; // acknowledged by the client
        std::uint64_t fileSize = 0;
    };

    // One per request: transfers that ended (success or not) and requests that were refused
    // (success false, bytesSent 0, reason = the error sent to the client).
    struct Finished {
        std::string fileName;
        std::string client;
        std::uint64_t bytesSent = 0;
        std::uint64_t fileSize = 0;
        bool success = false;
        std::string reason; // empty on success
    };

    using ProgressHandler = std::function<void(const Progress&)>;
    using FinishedHandler = std::function<void(const Finished&)>;

    static constexpr std::uint16_t kDefaultPort = 69;

    TTftpServer() = default;
    explicit TTftpServer(const Settings& settings) : m_settings(settings) {}
    ~TTftpServer();
    TTftpServer(const TTftpServer&) = delete;
    TTftpServer& operator=(const TTftpServer&) = delete;

    // Handlers and settings are read by the server thread: change them only while stopped.
    void setProgressHandler(ProgressHandler handler) { m_onProgress = std::move(handler); }
    void setFinishedHandler(FinishedHandler handler) { m_onFinished = std::move(handler); }
    void setSettings(const Settings& settings) { m_settings = settings; }

    // Serves `folder` on bindAddress (dotted IPv4; empty = all addresses) and port (0 = any
    // free port; see boundPort()). Returns an empty text on success, else the reason for the
    // log, e.g. "bind 0.0.0.0:69: Permission denied (EACCES)". Already running on the same
    // folder, address and port: keeps running (transfers go on) and returns empty; running
    // with anything else: stops, then starts anew.
    std::string start(const std::string& folder, const std::string& bindAddress,
                      std::uint16_t port = kDefaultPort);
    // Ends every transfer and frees the port; see the shutdown order above. Idempotent.
    void stop();

    bool running() const { return m_thread.joinable(); }
    // The port actually bound; 0 while stopped.
    std::uint16_t boundPort() const { return running() ? m_boundPort : 0; }
    // Transfers running right now.
    int activeTransfers() const { return m_activeTransfers.load(); }

private:
    void run();

    Settings m_settings;
    ProgressHandler m_onProgress;
    FinishedHandler m_onFinished;

    // Set by start() before the thread exists, read-only while it runs.
    std::string m_folder;      // as given to start()
    std::string m_bindAddress; // as given to start()
    std::uint16_t m_askedPort = 0;
    std::uint16_t m_boundPort = 0;
    std::uint32_t m_bindIp = 0; // network order
    int m_folderFd = -1;
    int m_socket = -1;
    int m_wakeFd = -1;

    std::atomic<bool> m_stop{false};
    std::atomic<int> m_activeTransfers{0};
    std::thread m_thread;
};
