// Feeds arbitrary bytes to the telnet option parser in blocks whose sizes come from the input
// and checks every reply's shape and that text never grows beyond what arrived.
#include "net/telnet_option_parser.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TelnetOptionParser parser;
    const auto reply = [](const QByteArray& bytes) {
        const auto at = [&](int i) { return static_cast<unsigned char>(bytes.at(i)); };
        if (bytes.size() == 3) {
            if (at(0) != 255 || at(1) < 251)
                std::abort();
        } else if (bytes != QByteArray("\xff\xfa\x18\x00"
                                       "dumb\xff\xf0",
                                       10)) {
            std::abort();
        }
    };
    std::size_t at = 0;
    std::size_t step = size > 0 ? data[0] % 13 + 1 : 1;
    std::size_t textBytes = 0;
    while (at < size) {
        const std::size_t take = std::min(step, size - at);
        const QByteArray block(reinterpret_cast<const char*>(data + at),
                               static_cast<qsizetype>(take));
        textBytes += static_cast<std::size_t>(parser.feedBlock(block, reply).size());
        at += take;
        step = step * 5 % 31 + 1;
    }
    if (textBytes > size)
        std::abort();
    if (parser.terminal() != "dumb")
        std::abort();
    return 0;
}
