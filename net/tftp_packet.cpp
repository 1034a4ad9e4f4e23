#include "net/tftp_packet.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace tftp {
namespace {

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

void putU16(Bytes& out, std::uint16_t value) {
    out.push_back(std::uint8_t(value >> 8));
    out.push_back(std::uint8_t(value & 0xff));
}

std::uint16_t getU16(ByteView data, std::size_t at) {
    return std::uint16_t((data[at] << 8) | data[at + 1]);
}

void putString(Bytes& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

// Reads a NUL-terminated string at `at`; false when no terminator follows.
bool takeString(ByteView data, std::size_t& at, std::string& out) {
    const auto begin = data.begin() + std::ptrdiff_t(at);
    const auto end = std::find(begin, data.end(), std::uint8_t(0));
    if (end == data.end())
        return false;
    out.assign(begin, end);
    at = std::size_t(end - data.begin()) + 1;
    return true;
}

// A whole decimal number within [low, high]; nothing else (no sign, no blanks, no suffix).
std::optional<std::uint64_t> number(const std::string& text, std::uint64_t low,
                                    std::uint64_t high) {
    std::uint64_t value = 0;
    const char* first = text.data();
    const char* last = first + text.size();
    const auto [end, error] = std::from_chars(first, last, value);
    if (text.empty() || error != std::errc() || end != last || value < low || value > high)
        return std::nullopt;
    return value;
}

} // namespace

std::optional<Opcode> peekOpcode(ByteView datagram) {
    if (datagram.size() < 2)
        return std::nullopt;
    const std::uint16_t code = getU16(datagram, 0);
    if (code < 1 || code > 6)
        return std::nullopt;
    return Opcode(code);
}

ParseStatus parseRequest(ByteView datagram, Request& out) {
    const auto opcode = peekOpcode(datagram);
    if (!opcode || (*opcode != Opcode::Rrq && *opcode != Opcode::Wrq))
        return ParseStatus::Malformed;
    std::size_t at = 2;
    Request request;
    request.opcode = *opcode;
    std::string mode;
    if (!takeString(datagram, at, request.fileName) || !takeString(datagram, at, mode))
        return ParseStatus::Malformed;
    // Options come in name/value pairs; a trailing half pair is what some old clients leave
    // as padding, and ignoring it costs nothing.
    while (at < datagram.size()) {
        std::string name, value;
        if (!takeString(datagram, at, name) || !takeString(datagram, at, value))
            break;
        request.options.emplace_back(std::move(name), std::move(value));
    }
    mode = lower(mode);
    if (mode == "octet")
        request.mode = Mode::Octet;
    else if (mode == "netascii")
        request.mode = Mode::Netascii;
    else
        return ParseStatus::UnknownMode;
    out = std::move(request);
    return ParseStatus::Ok;
}

std::optional<std::uint16_t> parseAck(ByteView datagram) {
    if (datagram.size() < 4 || peekOpcode(datagram) != Opcode::Ack)
        return std::nullopt;
    return getU16(datagram, 2);
}

std::optional<std::pair<std::uint16_t, std::string>> parseError(ByteView datagram) {
    if (datagram.size() < 4 || peekOpcode(datagram) != Opcode::Error)
        return std::nullopt;
    std::size_t at = 4;
    std::string message;
    if (!takeString(datagram, at, message))
        message.assign(datagram.begin() + 4, datagram.end());
    return std::make_pair(getU16(datagram, 2), message);
}

Bytes makeData(std::uint16_t block, ByteView payload) {
    Bytes out;
    out.reserve(4 + payload.size());
    putU16(out, std::uint16_t(Opcode::Data));
    putU16(out, block);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

Bytes makeAck(std::uint16_t block) {
    Bytes out;
    putU16(out, std::uint16_t(Opcode::Ack));
    putU16(out, block);
    return out;
}

Bytes makeError(ErrorCode code, const std::string& message) {
    Bytes out;
    putU16(out, std::uint16_t(Opcode::Error));
    putU16(out, std::uint16_t(code));
    putString(out, message);
    return out;
}

Bytes makeOack(const std::vector<std::pair<std::string, std::string>>& options) {
    Bytes out;
    putU16(out, std::uint16_t(Opcode::Oack));
    for (const auto& [name, value] : options) {
        putString(out, name);
        putString(out, value);
    }
    return out;
}

Bytes makeRequest(const Request& request) {
    Bytes out;
    putU16(out, std::uint16_t(request.opcode));
    putString(out, request.fileName);
    putString(out, request.mode == Mode::Octet ? "octet" : "netascii");
    for (const auto& [name, value] : request.options) {
        putString(out, name);
        putString(out, value);
    }
    return out;
}

Negotiated negotiate(const Request& request, std::uint64_t fileSize, const Limits& limits) {
    Negotiated result;
    bool seenBlock = false, seenSize = false, seenTimeout = false, seenWindow = false;
    for (const auto& [rawName, value] : request.options) {
        const std::string name = lower(rawName);
        // The client's own spelling goes back in the OACK: some clients compare it as sent.
        if (name == "blksize" && !seenBlock) {
            seenBlock = true;
            if (const auto asked = number(value, 8, 65464)) {
                result.blockSize = std::min<std::size_t>(*asked, limits.maxBlockSize);
                result.oack.emplace_back(rawName, std::to_string(result.blockSize));
            }
        } else if (name == "tsize" && !seenSize) {
            seenSize = true;
            if (request.mode == Mode::Octet && number(value, 0, UINT64_MAX))
                result.oack.emplace_back(rawName, std::to_string(fileSize));
        } else if (name == "timeout" && !seenTimeout) {
            seenTimeout = true;
            // RFC 2349: the server accepts the value as asked or leaves the option out.
            const auto asked = number(value, 1, 255);
            if (asked && *asked <= std::uint64_t(std::max(limits.maxTimeoutSeconds, 0))) {
                result.timeoutSeconds = int(*asked);
                result.oack.emplace_back(rawName, std::to_string(*asked));
            }
        } else if (name == "windowsize" && !seenWindow) {
            seenWindow = true;
            if (const auto asked = number(value, 1, 65535)) {
                result.windowSize = std::uint16_t(std::min<std::uint64_t>(
                    *asked, std::max<std::uint16_t>(limits.maxWindowSize, 1)));
                result.oack.emplace_back(rawName, std::to_string(result.windowSize));
            }
        }
    }
    return result;
}

} // namespace tftp
