// Feeds a request, then a conversation of datagrams and time-outs, to the request parser, the
// option negotiation and one transfer, and checks what must hold for any client: a request
// parses back to itself, nothing is granted beyond the limits, one step never sends more than
// one window, an ERROR is never answered, an ended transfer stays silent, and a finished one
// has had every byte acknowledged.
// Input: two bytes of file size, a flags byte (bit 0: the file shrinks, bit 1: the server reads
// ahead after each step, as ours does), then records of one length byte and that many bytes;
// the first record is the request, a record of length 0 is the deadline passing.
#include "net/tftp_packet.h"
#include "net/tftp_transfer.h"
#include "tests/support/memory_source.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

using namespace tftp;

namespace {

void require(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4)
        return 0;
    const std::size_t fileSize = ((std::size_t(data[0]) << 8) | data[1]) % 20000;
    const bool shrinks = data[2] & 1;
    const bool readsAhead = data[2] & 2;
    std::size_t at = 3;
    const auto record = [&]() -> ByteView {
        const std::size_t length = std::min<std::size_t>(data[at], size - at - 1);
        const ByteView out(data + at + 1, length);
        at += 1 + length;
        return out;
    };

    Request request;
    if (parseRequest(record(), request) != ParseStatus::Ok)
        return 0;
    Request again;
    require(parseRequest(makeRequest(request), again) == ParseStatus::Ok);
    require(again.fileName == request.fileName && again.mode == request.mode &&
            again.options == request.options);

    const Limits limits;
    const Negotiated n = negotiate(request, fileSize, limits);
    require(n.blockSize >= 8 && n.blockSize <= limits.maxBlockSize);
    require(n.windowSize >= 1 && n.windowSize <= limits.maxWindowSize);
    require(!n.timeoutSeconds ||
            (*n.timeoutSeconds >= 1 && *n.timeoutSeconds <= limits.maxTimeoutSeconds));
    for (const auto& granted : n.oack)
        require(std::any_of(request.options.begin(), request.options.end(),
                            [&](const auto& asked) { return asked.first == granted.first; }));

    // A file that shrinks ends at half its size although the whole was announced.
    TftpTransfer t(n,
                   std::make_unique<MemorySource>(std::string(fileSize, 'x'),
                                                  shrinks ? fileSize / 2 : std::string::npos),
                   {std::chrono::milliseconds(100), 3});
    TftpTransfer::Clock::time_point now{};
    const auto check = [&](const TftpTransfer::Step& step, bool wasRunning, bool fromError) {
        const bool running = t.state() == TftpTransfer::State::Running;
        require(running == step.deadline.has_value());
        require(wasRunning || step.send.empty());
        require(!fromError || step.send.empty());
        require(step.send.size() <= n.windowSize);
        for (const ByteView d : step.send)
            require(peekOpcode(d) != Opcode::Data || d.size() <= 4 + n.blockSize);
        const std::uint64_t wireSize = request.mode == Mode::Octet ? fileSize : 2 * fileSize;
        require(t.bytesAcknowledged() <= wireSize);
        if (t.state() == TftpTransfer::State::Done && request.mode == Mode::Octet)
            require(t.bytesAcknowledged() == fileSize && !(shrinks && fileSize > 0));
        if (readsAhead)
            t.readAhead();
    };
    check(t.start(now), true, false);
    while (at < size) {
        const bool wasRunning = t.state() == TftpTransfer::State::Running;
        const ByteView datagram = record();
        if (datagram.empty()) {
            now += std::chrono::milliseconds(100);
            check(t.onTimeout(now), wasRunning, false);
        } else {
            parseAck(datagram);
            parseError(datagram);
            check(t.feed(datagram, now), wasRunning, peekOpcode(datagram) == Opcode::Error);
        }
    }
    return 0;
}
