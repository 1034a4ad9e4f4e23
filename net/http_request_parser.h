#pragma once
// The HTTP request as the receiver's download tool sends it, taken apart by a push parser that
// owns no socket: the connection thread feeds whatever bytes arrived and asks whether the request
// is complete yet. Every limit is checked while bytes arrive, so a client that never ends its
// request line or header block costs at most the caps below in memory.
#include <QByteArray>
#include <QList>
#include <QPair>

#include <cstddef>
#include <cstdint>

struct HttpRequestInfo {
    QByteArray command;  // upper-cased: "GET", "POST" or "HEAD"
    QByteArray target;   // everything between the command and the version, may be empty
    QByteArray version;  // text after the last blank of the request line
    QByteArray document; // target before the first "?"
    QByteArray params;   // target after the first "?"
    QList<QPair<QByteArray, QByteArray>> headers; // in arrival order, values trimmed
    QByteArray host;
    QByteArray cookie;
    QByteArray authUser; // decoded Basic credentials, empty without Authorization
    QByteArray authPassword;

    // The value of the first header with this name (compared without regard to case), or a
    // null QByteArray when there is none.
    QByteArray header(const QByteArray& name) const;
};

class HttpRequestParser {
public:
    enum class Status { Incomplete, Complete, Bad };
    // Why a request was refused; None while Incomplete or Complete.
    enum class Fault {
        None,
        RequestLineTooLong,
        HeaderBlockTooLarge,
        TooManyHeaderLines,
        NoVersion,      // request line without a blank
        UnknownCommand, // anything but GET, POST, HEAD
        UnsupportedAuthorisation,
        ClosedEarly, // the client closed before its request was complete
    };

    static constexpr std::size_t kMaxRequestLine = 8 * 1024; // without the line end
    static constexpr std::size_t kMaxHeaderBlock = 64 * 1024;
    static constexpr int kMaxHeaderLines = 100; // the empty line ending the block not counted

    // Takes the next bytes of the connection. Returns Complete once the request line, the header
    // block and any body have all arrived; bytes after that are ignored (one request per
    // connection). Once Bad or Complete, further calls change nothing and return the same status.
    // A body is counted but never stored: this server answers every request the same way.
    Status feed(const char* data, std::size_t size);
    Status feed(const QByteArray& bytes) { return feed(bytes.constData(), bytes.size()); }
    // The client closed its side. Completes a POST that carries no Content-Length (its body runs
    // until the close); anything else still Incomplete becomes Bad (ClosedEarly).
    Status finish();

    Status status() const { return m_status; }
    Fault fault() const { return m_fault; }
    // Filled as far as parsed; complete once status() is Complete.
    const HttpRequestInfo& request() const { return m_request; }
    // Bytes held in the line buffer right now (for the memory bound tests and the fuzzer).
    std::size_t bufferedBytes() const { return static_cast<std::size_t>(m_line.size()); }

private:
    enum class Stage { RequestLine, Headers, Body, BodyToClose, Done };

    Status fail(Fault fault);
    Status takeRequestLine();
    Status takeHeaderLine();
    Status headersDone();

    Stage m_stage = Stage::RequestLine;
    Status m_status = Status::Incomplete;
    Fault m_fault = Fault::None;
    QByteArray m_line;
    std::size_t m_headerBytes = 0;
    int m_headerLines = 0;
    std::uint64_t m_bodyLeft = 0;
    HttpRequestInfo m_request;
};
