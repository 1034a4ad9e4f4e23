#pragma once
// TFTP wire format (RFC 1350) and option negotiation (RFC 2347 blksize/tsize/timeout, RFC 2348,
// RFC 2349, RFC 7440 windowsize) for a read-only server. Pure: no sockets, no files, no clock.
// Depends on the standard library only, so the server can be lifted out of the program whole.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace tftp {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

enum class Opcode : std::uint16_t { Rrq = 1, Wrq = 2, Data = 3, Ack = 4, Error = 5, Oack = 6 };

enum class ErrorCode : std::uint16_t {
    NotDefined = 0,
    FileNotFound = 1,
    AccessViolation = 2,
    DiskFull = 3,
    IllegalOperation = 4,
    UnknownTransferId = 5,
    FileExists = 6,
    NoSuchUser = 7,
    OptionRefused = 8,
};

enum class Mode { Octet, Netascii };

// A read or write request as the client sent it; option names are kept as sent.
struct Request {
    Opcode opcode = Opcode::Rrq;
    std::string fileName;
    Mode mode = Mode::Octet;
    std::vector<std::pair<std::string, std::string>> options;
};

enum class ParseStatus {
    Ok,
    Malformed,   // too short, missing terminators, not a request
    UnknownMode, // a mode other than octet/netascii ("mail" included)
};

// Parses an RRQ or WRQ. Mode and option names compare case-insensitively (RFC 1350, 2347).
ParseStatus parseRequest(ByteView datagram, Request& out);

// The opcode of any datagram of at least two bytes.
std::optional<Opcode> peekOpcode(ByteView datagram);
// The block number of an ACK; nullopt for anything that is not a well-formed ACK.
std::optional<std::uint16_t> parseAck(ByteView datagram);
// The error code and message of an ERROR packet; nullopt when malformed.
std::optional<std::pair<std::uint16_t, std::string>> parseError(ByteView datagram);

Bytes makeData(std::uint16_t block, ByteView payload);
Bytes makeAck(std::uint16_t block);
Bytes makeError(ErrorCode code, const std::string& message);
Bytes makeOack(const std::vector<std::pair<std::string, std::string>>& options);
Bytes makeRequest(const Request& request);

// What the server is willing to grant. The defaults bound what one datagram from a client can
// bring back: one window of at most 4 × 1468 bytes, where RFC 2348 and 7440 would allow 64 ×
// 65464. 1468 is one Ethernet frame and what boot loaders ask for; a window of 4 already keeps
// a LAN link busy between two ACKs.
struct Limits {
    std::size_t maxBlockSize = 1468;
    std::uint16_t maxWindowSize = 4;
    // A longer timeout asked for is left out of the OACK (the client keeps its default), so a
    // silent client cannot hold its transfer for retries × 255 s.
    int maxTimeoutSeconds = 5;
};

// The parameters of one transfer after negotiation. oack is empty when the client asked for no
// option we know (or none at all): the transfer then starts with DATA 1 as in RFC 1350.
struct Negotiated {
    std::size_t blockSize = 512;
    std::uint16_t windowSize = 1;
    std::optional<int> timeoutSeconds; // only when the client asked for one
    std::vector<std::pair<std::string, std::string>> oack;
};

// Grants what the client asked within limits: blksize and windowsize are lowered to the limit,
// a timeout above the limit is dropped; invalid values drop that option (the client then
// uses the default), unknown options are ignored. tsize is answered with fileSize, except in
// netascii mode where the size on the wire is not the file's size.
Negotiated negotiate(const Request& request, std::uint64_t fileSize, const Limits& limits);

} // namespace tftp
