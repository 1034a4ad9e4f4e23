#pragma once
// THTTPServer: hands one file to whoever asks, on a free TCP port the system chooses (or one
// set), so the receiver can fetch it with its own download tool; the FTP job puts the port
// into the download command, so no privileged port is needed. One request per connection, no
// keep-alive; every acceptable request (GET, POST, HEAD, any target) gets the same file.
//
// Anyone on the network can reach the port, so while the file is served the server answers
// only the receiver's address (others are closed at accept), at most 8 connections per peer,
// a request must be complete 10 s after its connection and an answer that makes no progress
// for 30 s is dropped. That bounds what a stray or hostile host can hold: nothing from any
// other address, 8 threads from the receiver's.
//
// Threads: a listener thread and one thread per accepted connection, none of them the UI
// thread. The request handler runs on the connection thread.
//
// The process must ignore SIGPIPE (the program's entry does, once for all): sendfile() has no
// MSG_NOSIGNAL, and a client hanging up in the middle of a download would otherwise end the
// whole program instead of failing that connection's write with EPIPE.
//
// Shutdown order (StopAndRelease, also run by the destructor): stop flag → wake the listener and
// close the listening socket → shut down every open connection (which wakes its thread out of
// any read or sendfile) → wait up to 5 s for the connection threads → join them → join the
// listener. A connection thread that has not ended by then is detached; it owns a share of the
// server state, so it can finish safely after the server object is gone.
#include "core/file_server_link.h"
#include "net/http_request_parser.h"
#include "net/http_response.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

// The connection as the request handler sees it.
class HttpConnection {
public:
    // fd: a non-blocking socket. stallMs: how long a send may make no progress.
    HttpConnection(int fd, bool headOnly, int stallMs)
        : m_fd(fd), m_headOnly(headOnly), m_stallMs(stallMs) {}

    // Sends the header of response (once). Throws EHTTPHeaderAlreadyWritten-style ENetError
    // "Der Header wurde bereits geschrieben." on a second call, EConnectionLost when the peer
    // is gone. moreFollows lets the kernel put the first body bytes into the header's segment.
    void writeHeader(HttpResponseInfo& response, bool moreFollows);
    // Sends size bytes of the open file fd from its start with sendfile; nothing for a HEAD
    // request. Returns the bytes sent. Throws EConnectionLost when the peer is gone or stalls
    // longer than the send time-out; a file that shrinks while it is sent ends the body early.
    std::int64_t sendFileBody(int fileFd, std::int64_t size);
    // Sends raw bytes (the content text); nothing for a HEAD request.
    void sendContent(const QByteArray& bytes);

    bool headOnly() const { return m_headOnly; }
    int fd() const { return m_fd; }

private:
    void sendBytes(const char* data, std::size_t size, int flags); // throws EConnectionLost
    void waitWritable();                                           // throws EConnectionLost

    int m_fd;
    bool m_headOnly;
    int m_stallMs;
};

// The client went away (reset, broken pipe, stalled): the connection is closed without a word.
class EConnectionLost : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Opens path, writes a 200 header with Content-Length = the file size (the content type stays
// "text/html") and sends the file. Returns the file bytes sent. When the file cannot be opened
// (missing, unreadable, a folder) throws ENetError "Datei <path> kann nicht geöffnet werden"
// before anything is written, so the caller can still answer 500.
std::int64_t SendFileResponse(HttpConnection& connection, HttpResponseInfo& response,
                              const QString& path);

class THTTPServer final : public FileServerLink {
public:
    using CommandHandler =
        std::function<void(const HttpRequestInfo&, HttpResponseInfo&, HttpConnection&)>;

    // 0: the system picks a free, unprivileged port at activation (see boundPort()).
    static constexpr std::uint16_t kDefaultPort = 0;
    // A queue of 5 made clients arriving together wait seconds for their handshake to be
    // retried; the queue is cheap, so it holds a burst.
    static constexpr int kListenBacklog = 128;
    static constexpr int kTerminateWaitMs = 5000;
    static constexpr int kDefaultRequestTimeoutMs = 10000;
    static constexpr int kDefaultSendStallMs = 30000;
    static constexpr int kDefaultMaxPerPeer = 8;
    // Beyond this many open connections new ones are closed at once: each costs a thread.
    static constexpr int kMaxConnections = 1024;

    THTTPServer();
    ~THTTPServer() override;
    THTTPServer(const THTTPServer&) = delete;
    THTTPServer& operator=(const THTTPServer&) = delete;

    // Initial settings: a free port on all addresses, every peer answered, the limits above, the
    // handler that serves this server's serve location. Stops the server first if it is
    // active.
    void ResetToInitialSettings() override;
    void setDefaultPort(std::uint16_t port) { m_port = port; }
    // Dotted IPv4 address to bind; empty = all local addresses.
    void setBindAddress(const QString& address) override { m_bindAddress = address; }
    // How long after its connection a request must be complete, however slowly it trickles.
    void setRequestTimeoutMs(int ms) { m_requestTimeoutMs = ms; }
    // How long a send may make no progress before the connection is dropped.
    void setSendStallMs(int ms) { m_sendStallMs = ms; }
    void setMaxConnectionsPerPeer(int count) { m_maxPerPeer = count; }
    void setOnCommandGet(CommandHandler handler) { m_handler = std::move(handler); }

    // Binds, listens and starts the listener thread. Throws ECouldNotBindSocket "Socket konnte
    // nicht gebunden werden. Adresse und Port werden bereits benutzt." when the port is taken,
    // EBindNotPermitted when a port set below the unprivileged range is refused, ESocketError for
    // any other socket failure. Does nothing when already active.
    void Activate() override;
    bool active() const;
    // The port actually bound (useful with port 0); 0 while inactive.
    std::uint16_t boundPort() const override;
    // Connection threads still running.
    int connectionCount() const;

    // Stops listening, closes every connection and waits for them (at most 5 s). Safe to call
    // when inactive and more than once.
    void StopAndRelease() override;

    // Only connections from this dotted IPv4 address (or "localhost") are answered, from the
    // next activation on; empty = everyone. Anything else answers nobody.
    void setReceiverAddress(const QString& address) override { m_receiverAddress = address; }
    // The addresses refused because they were not the receiver, each once per activation, in
    // the order they came, since the last call.
    QStringList takeRefusedPeers() override;

    // The file the default handler sends; guarded, so connection threads never see a torn
    // value.
    void setServeLocation(const QString& drive, const QString& path) override;
    QString servePath() const override;

private:
    struct ServeLocation {
        mutable std::mutex mutex;
        QString drive; // guarded by mutex
        QString path;  // guarded by mutex
        QString file() const;
    };

    struct Shared;
    std::shared_ptr<Shared> m_shared;
    std::uint16_t m_port = kDefaultPort;
    QString m_bindAddress;
    int m_requestTimeoutMs = kDefaultRequestTimeoutMs;
    int m_sendStallMs = kDefaultSendStallMs;
    int m_maxPerPeer = kDefaultMaxPerPeer;
    QString m_receiverAddress;
    QStringList m_refusedBeforeStop; // taken from the last activation when it stopped
    std::shared_ptr<ServeLocation> m_location = std::make_shared<ServeLocation>();
    CommandHandler m_handler;
};
