#pragma once
// One TFTP read transfer as a state machine: the caller feeds it the datagrams that arrive from
// the client and tells it when its deadline has passed; it answers with the datagrams to send
// and its next deadline. No socket, no clock of its own, so every path (loss, duplicates,
// rollover, time-outs) can be driven step by step.
//
// Sorcerer's Apprentice (RFC 1129): only an ACK of a block sent and not yet acknowledged moves
// the transfer on; an ACK seen before (a duplicate, or one of a retransmitted block that crossed
// the original's ACK) changes nothing and sends nothing. Retransmission is driven by the timer
// alone, a bounded number of times.
//
// Window size (RFC 7440): up to windowSize blocks go out before an ACK is awaited. An ACK of block
// k inside the window means "all up to k arrived": the next window starts at k + 1, which resends
// whatever the client missed. So one datagram in never brings back more than one window, and
// nothing is ever sent more than one window beyond what the client has acknowledged; an ACK
// that does not move the window (a duplicate, an old one, one of a block never sent) sends
// nothing at all. An ERROR from the client ends the transfer and is never answered.
//
// Block numbers on the wire are 16 bits; inside they are counted in 64 bits and sent modulo
// 65536, so block 65536 goes out as 0, which is what clients expect of a large file.
#include "net/tftp_packet.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

namespace tftp {

// Where the transfer's bytes come from, read front to back. read() fills up to `size` bytes and
// returns how many; fewer than asked means the end; -1 a failure, which failure() then names
// for the log (a read error, a file that ended before its announced size).
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::int64_t read(std::uint8_t* buffer, std::size_t size) = 0;
    virtual std::string failure() const { return "the file could not be read"; }
};

// netascii on the wire (RFC 764): LF → CR LF, CR → CR NUL.
class NetasciiSource final : public ByteSource {
public:
    explicit NetasciiSource(std::unique_ptr<ByteSource> inner) : m_inner(std::move(inner)) {}
    std::int64_t read(std::uint8_t* buffer, std::size_t size) override;
    std::string failure() const override { return m_inner->failure(); }

private:
    std::unique_ptr<ByteSource> m_inner;
    std::optional<std::uint8_t> m_pending; // second byte of a pair that did not fit
    Bytes m_raw;                           // read from inner, not yet converted
    std::size_t m_rawAt = 0;
    bool m_end = false;
};

// Whether a read request from the running transfer's client address replaces that transfer.
// From the same port it is the client's own retry of its request: never. From another port
// only once the transfer has made no progress for its retransmit timeout, so the client has
// given up on it; a transfer that is moving on is never cancelled by one forged datagram.
inline bool replacesTransfer(bool samePort, std::chrono::steady_clock::duration sinceProgress,
                             std::chrono::milliseconds retransmitTimeout) {
    return !samePort && sinceProgress >= retransmitTimeout;
}

class TftpTransfer {
public:
    using Clock = std::chrono::steady_clock;

    enum class State { Running, Done, Failed };

    struct Config {
        std::chrono::milliseconds retransmitTimeout{1000}; // used unless the client asks
        int maxRetries = 5;                                // retransmissions of one step
    };

    // What to do after a step. The views point into the transfer and stay valid until its
    // next call.
    struct Step {
        std::vector<ByteView> send;
        std::optional<Clock::time_point> deadline; // call onTimeout() then; none once ended
    };

    TftpTransfer(const Negotiated& negotiated, std::unique_ptr<ByteSource> source,
                 const Config& config);

    // The first datagrams: the OACK when options were granted, else the first window.
    Step start(Clock::time_point now);
    // A datagram from the client's transfer id (the caller filters other senders).
    Step feed(ByteView datagram, Clock::time_point now);
    // The deadline passed: retransmit, or give up once the retries are spent.
    Step onTimeout(Clock::time_point now);
    // Reads the block after the window now, after the step's datagrams went out and while the
    // client is busy, so the next ACK is answered without waiting for a read. Optional; a
    // read failure here fails the transfer when that block is due.
    void readAhead();

    State state() const { return m_state; }
    // Why the transfer failed (client error text, time-out, the source's failure()); empty
    // otherwise.
    const std::string& failure() const { return m_failure; }
    // Payload bytes the client has acknowledged.
    std::uint64_t bytesAcknowledged() const { return m_bytesAcked; }
    // The wait for an ACK before a retransmission: the client's timeout option or the config's.
    std::chrono::milliseconds retransmitTimeout() const { return m_timeout; }

private:
    struct Block {
        std::uint64_t number;
        Bytes datagram; // the DATA packet, header included
    };

    Step sendWindow(Clock::time_point now);
    Step fail(std::string reason, std::optional<Bytes> notice = std::nullopt);
    bool fillWindow(std::size_t blocks);

    Negotiated m_negotiated;
    std::unique_ptr<ByteSource> m_source;
    std::chrono::milliseconds m_timeout;
    int m_maxRetries;

    State m_state = State::Running;
    std::string m_failure;
    bool m_awaitingOackAck = false;
    Bytes m_oack;
    Bytes m_notice;                  // the ERROR sent when the transfer fails
    std::deque<Block> m_window;      // sent or read ahead, not yet acknowledged
    Bytes m_spare;                   // an acknowledged block's storage, for the next one
    bool m_readFailed = false;       // by readAhead()
    std::uint64_t m_nextNumber = 1;  // number of the next block read from the source
    std::uint64_t m_sentThrough = 0; // highest block number sent so far
    bool m_sourceEnded = false;      // the short (last) block has been read
    int m_retries = 0;
    Clock::time_point m_deadline;
    std::uint64_t m_bytesAcked = 0;
};

} // namespace tftp
