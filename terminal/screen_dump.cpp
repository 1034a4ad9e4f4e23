#include "terminal/screen_dump.h"

#include "terminal/vt100_maps.h"

#include <cstdio>

namespace terminal {

namespace {

constexpr std::uint32_t kPalette[8] = {0x000000, 0x800000, 0x008000, 0x808000,
                                       0x000080, 0x800080, 0x008080, 0xC0C0C0};

std::string colourName(std::uint32_t colour) {
    for (int i = 0; i < 8; ++i)
        if (kPalette[i] == colour)
            return std::to_string(i);
    char text[16];
    std::snprintf(text, sizeof text, "#%06X", static_cast<unsigned>(colour & 0xFFFFFF));
    return text;
}

bool sameRendition(const Cell& a, const Cell& b) {
    return a.attr == b.attr && a.fg == b.fg && a.bg == b.bg;
}

bool isDefaultRendition(const Cell& c) {
    return c.attr == 0 && c.fg == kColourSilver && c.bg == kColourBlack;
}

std::string renditionText(const Cell& c) {
    std::string out;
    if (c.attr & AttrBold)
        out += " bold";
    if (c.attr & AttrUnderline)
        out += " underline";
    if (c.attr & AttrBlink)
        out += " blink";
    if (c.attr & AttrReverse)
        out += " reverse";
    if (c.attr & AttrInvisible)
        out += " invisible";
    if (c.fg != kColourSilver)
        out += " fg=" + colourName(c.fg);
    if (c.bg != kColourBlack)
        out += " bg=" + colourName(c.bg);
    return out;
}

} // namespace

std::string escapeReply(std::string_view bytes) {
    std::string out;
    for (unsigned char b : bytes) {
        if (b == 27) {
            out += "\\e";
        } else if (b == '\\') {
            out += "\\\\";
        } else if (b < 32 || b >= 127) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            out += hex;
        } else {
            out += static_cast<char>(b);
        }
    }
    return out;
}

std::string dumpHeader(std::string_view stream, std::uint64_t bytes, int rows, int cols,
                       std::size_t chunk, std::size_t checkpoints) {
    std::string out = "# vtdump 1 stream=";
    out += stream;
    out += " bytes=" + std::to_string(bytes) + " rows=" + std::to_string(rows) +
           " cols=" + std::to_string(cols) + " chunk=" + std::to_string(chunk) +
           " checkpoints=" + std::to_string(checkpoints) + "\n";
    return out;
}

std::string dumpBlock(const TTerminalBuffer& buffer, std::uint64_t offset, std::string_view label,
                      std::string_view replies, const DumpOptions& options) {
    const CharsetMap& map = CharsetMap::standard();
    std::string out = "@" + std::to_string(offset) + " ";
    out += label;
    out += "\ncursor " + std::to_string(buffer.cursorRow()) + " " +
           std::to_string(buffer.cursorColumn()) + "\n";
    const int cols = buffer.columns();
    for (int r = 0; r < buffer.rows(); ++r) {
        const Row& row = buffer.screenRow(r);
        std::string line;
        std::size_t keep = 0;
        for (int c = 0; c < cols; ++c) {
            const Cell& cell = row.cells[static_cast<std::size_t>(c)];
            const std::string& glyph = map.toUtf8(cell.charset, cell.ch);
            line += glyph.empty() ? std::string(" ") : glyph;
            if (!(glyph.empty() || glyph == " "))
                keep = line.size();
        }
        line.resize(keep);
        out += line;
        out += '\n';
    }
    if (options.attributes) {
        for (int r = 0; r < buffer.rows(); ++r) {
            const Row& row = buffer.screenRow(r);
            int c = 0;
            while (c < cols) {
                const Cell& first = row.cells[static_cast<std::size_t>(c)];
                int end = c + 1;
                while (end < cols && sameRendition(row.cells[static_cast<std::size_t>(end)], first))
                    ++end;
                if (!isDefaultRendition(first))
                    out += "attr " + std::to_string(r) + " " + std::to_string(c) + "-" +
                           std::to_string(end - 1) + renditionText(first) + "\n";
                c = end;
            }
        }
    }
    if (!replies.empty())
        out += "reply " + escapeReply(replies) + "\n";
    return out;
}

} // namespace terminal
