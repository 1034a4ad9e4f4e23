#include "terminal/paste_text.h"

#include "terminal/paste_pacer.h"

namespace terminal {

namespace {

bool isControl(unsigned char c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

void appendLatin1(std::string& out, unsigned char c) {
    if (c < 0x80) {
        out += char(c);
        return;
    }
    out += char(0xC0 | (c >> 6));
    out += char(0x80 | (c & 0x3F));
}

void appendVisible(std::string& out, unsigned char c) {
    static const char hex[] = "0123456789ABCDEF";
    if (c == '\r') {
        out += "\u21B5\n"; // a return arrow, then the next line on a line of its own
    } else if (c < 0x20) {
        out += '^';
        out += char(c + 0x40);
    } else if (c == 0x7F) {
        out += "^?";
    } else {
        out += '<';
        out += hex[c >> 4];
        out += hex[c & 0xF];
        out += '>';
    }
}

} // namespace

PasteText preparePaste(std::string_view text) {
    PasteText out;
    const std::string normalised = PastePacer::normalise(text);
    out.bytes.reserve(normalised.size());
    for (const char ch : normalised) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\t' || !isControl(c)) {
            out.bytes += ch;
            appendLatin1(out.shown, c);
            continue;
        }
        out.ask = true;
        appendVisible(out.shown, c);
        if (c == '\r')
            out.bytes += ch;
        else
            out.dropped = true;
    }
    return out;
}

} // namespace terminal
