// Fuzz target: arbitrary bytes through the parser, emulator and buffer, fed in slices whose
// sizes come from the input itself, with key presses mixed in. Any crash, sanitizer report
// or broken invariant (cursor off the grid, region inverted, history over its size) is a
// finding.
#include "terminal/screen_dump.h"
#include "terminal/terminal_buffer.h"
#include "terminal/vt100_emulator.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void check(bool ok) {
    if (!ok)
        std::abort();
}

void checkInvariants(const terminal::TTerminalBuffer& b) {
    check(b.cursorRow() >= 0 && b.cursorRow() < b.rows());
    check(b.cursorColumn() >= 0 && b.cursorColumn() < b.columns());
    check(b.columns() == terminal::kNarrowColumns || b.columns() == terminal::kWideColumns);
    check(b.scrollTop() >= 0 && b.scrollTop() < b.scrollBottom() && b.scrollBottom() < b.rows());
    check(b.historyCount() >= 0 && b.historyCount() <= terminal::kHistoryLines);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    terminal::TTerminalBuffer buffer;
    terminal::TVT100Emulator emulator(buffer);
    std::size_t replies = 0;
    emulator.setWriter([&replies](std::string_view bytes) { replies += bytes.size(); });
    std::size_t pos = 0;
    while (pos < size) {
        // A slice header byte: low bits pick the slice length, 0xFF-prefixed pairs press a key.
        const std::uint8_t header = data[pos++];
        if (header == 0xFF && pos + 1 < size) {
            emulator.keyDown(data[pos], data[pos + 1] & 1, data[pos + 1] & 2, data[pos + 1] & 4,
                             data[pos + 1] & 8);
            emulator.typeCharacter(data[pos]);
            pos += 2;
            continue;
        }
        const std::size_t want = static_cast<std::size_t>(header % 64) + 1;
        const std::size_t n = want < size - pos ? want : size - pos;
        emulator.feed(data + pos, n);
        pos += n;
        checkInvariants(buffer);
    }
    // Replies are bounded by what came in: no request can make the terminal talk forever.
    check(replies <= 64 * (size + 1));
    const std::string dump = terminal::dumpBlock(buffer, size, "END", {}, {true});
    check(!dump.empty());
    return 0;
}
