#pragma once
// A buffer + emulator pair that records replies, and helpers to read the screen as text.
#include "terminal/terminal_buffer.h"
#include "terminal/vt100_emulator.h"
#include "terminal/vt100_maps.h"

#include <string>
#include <string_view>

namespace termtest {

struct Term {
    terminal::TTerminalBuffer buffer;
    terminal::TVT100Emulator emulator{buffer};
    std::string replies;

    Term() {
        emulator.setWriter([this](std::string_view bytes) { replies.append(bytes); });
    }
    Term& operator<<(std::string_view bytes) {
        emulator.feed(bytes);
        return *this;
    }
    // Screen row r (negative: history) as UTF-8 through the character-set map, trailing
    // spaces removed.
    std::string row(int r) const {
        const auto& map = terminal::CharsetMap::standard();
        const terminal::Row& line = buffer.line(r);
        std::string out;
        for (int c = 0; c < buffer.columns(); ++c) {
            const terminal::Cell& cell = line.cells[static_cast<std::size_t>(c)];
            const std::string& glyph = map.toUtf8(cell.charset, cell.ch);
            out += glyph.empty() ? std::string(1, '?') : glyph;
        }
        while (!out.empty() && out.back() == ' ')
            out.pop_back();
        return out;
    }
    const terminal::Cell& cell(int r, int c) const {
        return buffer.line(r).cells[static_cast<std::size_t>(c)];
    }
    std::pair<int, int> cursor() const { return {buffer.cursorRow(), buffer.cursorColumn()}; }
};

} // namespace termtest
