#pragma once
// Text form of the screen, for the vtfeed tool and for tests that compare whole screens.
//
// One block:
//   @OFFSET LABEL
//   cursor ROW COL                      (0-based; with a pending wrap the last column)
//   <one line per screen row, UTF-8 through the character-set map, trailing spaces cut>
//   attr ROW C0-C1 [bold] [underline] [blink] [reverse] [invisible] [fg=N] [bg=N]
//                                       (only with attributes on; runs of equal rendition
//                                        that differ from the default; N a palette index
//                                        0..7, or #RRGGBB for a colour outside it)
//   reply BYTES                         (only when replies were sent; ESC as \e, backslash
//                                        doubled, other control and upper-half bytes \xHH)
#include "terminal/terminal_buffer.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace terminal {

struct DumpOptions {
    bool attributes = false;
};

// "# vtdump 1 stream=NAME bytes=N rows=R cols=C chunk=4096 checkpoints=K"
std::string dumpHeader(std::string_view stream, std::uint64_t bytes, int rows, int cols,
                       std::size_t chunk, std::size_t checkpoints);

std::string dumpBlock(const TTerminalBuffer& buffer, std::uint64_t offset, std::string_view label,
                      std::string_view replies, const DumpOptions& options);

// The reply escaping used in "reply" lines.
std::string escapeReply(std::string_view bytes);

} // namespace terminal
