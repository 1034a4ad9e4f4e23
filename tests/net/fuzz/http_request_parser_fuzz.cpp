// Feeds arbitrary bytes to the HTTP request parser in pieces whose sizes come from the input
// itself, and checks what must hold for any client: the buffer stays under its cap, a final
// status never changes, and a complete request has one of the three commands.
#include "net/http_request_parser.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    HttpRequestParser parser;
    std::size_t at = 0;
    std::size_t step = size > 0 ? data[0] % 17 + 1 : 1;
    while (at < size) {
        const std::size_t take = std::min(step, size - at);
        const auto before = parser.status();
        const auto now = parser.feed(reinterpret_cast<const char*>(data + at), take);
        if (before != HttpRequestParser::Status::Incomplete && now != before)
            std::abort();
        if (parser.bufferedBytes() > HttpRequestParser::kMaxHeaderBlock)
            std::abort();
        at += take;
        step = step * 3 % 29 + 1;
    }
    const auto last = parser.finish();
    if (last == HttpRequestParser::Status::Incomplete)
        std::abort(); // after the close every request is decided
    if (last == HttpRequestParser::Status::Complete) {
        const QByteArray& command = parser.request().command;
        if (command != "GET" && command != "POST" && command != "HEAD")
            std::abort();
        if (parser.fault() != HttpRequestParser::Fault::None)
            std::abort();
    } else if (parser.fault() == HttpRequestParser::Fault::None) {
        std::abort();
    }
    return 0;
}
