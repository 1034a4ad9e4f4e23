#include "terminal/history_text.h"

#include "terminal/vt100_maps.h"

#include <algorithm>

namespace terminal {

namespace {

char32_t folded(char32_t c) {
    // Latin-1 letters only: the receiver writes 8-bit text, nothing beyond needs folding.
    if ((c >= U'A' && c <= U'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))
        return c + 32;
    return c;
}

} // namespace

bool textMatchesAt(std::u32string_view text, std::u32string_view needle, std::size_t column) {
    if (column + needle.size() > text.size())
        return false;
    for (std::size_t i = 0; i < needle.size(); ++i) {
        if (folded(text[column + i]) != folded(needle[i]))
            return false;
    }
    return true;
}

namespace {

// Columns in text where needle starts, first or last as asked, within [from, to).
std::optional<int> matchIn(const std::u32string& text, std::u32string_view needle, int from, int to,
                           SearchDirection direction) {
    const int n = static_cast<int>(needle.size());
    const int last = std::min(to, static_cast<int>(text.size()) - n + 1);
    const auto at = [&](int c) { return textMatchesAt(text, needle, static_cast<std::size_t>(c)); };
    if (direction == SearchDirection::Forward) {
        for (int c = std::max(from, 0); c < last; ++c)
            if (at(c))
                return c;
    } else {
        for (int c = last - 1; c >= std::max(from, 0); --c)
            if (at(c))
                return c;
    }
    return std::nullopt;
}

} // namespace

std::u32string lineText(const TTerminalBuffer& buffer, int line) {
    const CharsetMap& map = CharsetMap::standard();
    const Row& row = buffer.line(line);
    std::u32string text;
    text.reserve(static_cast<std::size_t>(buffer.columns()));
    for (int c = 0; c < buffer.columns(); ++c) {
        const Cell& cell = row.cells[static_cast<std::size_t>(c)];
        const char32_t cp = map.toUnicode(cell.charset, cell.ch);
        text.push_back(cp == 0 ? U' ' : cp);
    }
    while (!text.empty() && text.back() == U' ')
        text.pop_back();
    return text;
}

std::string plainText(const TTerminalBuffer& buffer) {
    int end = buffer.rows() - 1; // the last screen line with text
    while (end >= 0 && lineText(buffer, end).empty())
        --end;
    std::string out;
    for (int line = -buffer.historyCount(); line <= end; ++line) {
        for (char32_t cp : lineText(buffer, line))
            out += utf8Encode(cp);
        out += '\n';
    }
    return out;
}

std::optional<TextMatch> findText(const TTerminalBuffer& buffer, std::u32string_view needle,
                                  int line, int column, SearchDirection direction) {
    if (needle.empty())
        return std::nullopt;
    const int first = -buffer.historyCount();
    const int count = buffer.historyCount() + buffer.rows();
    const bool forward = direction == SearchDirection::Forward;
    const int length = static_cast<int>(needle.size());
    // count + 1 steps: the starting line is searched again at the end, on its other side.
    for (int step = 0; step <= count; ++step) {
        const int offset = forward ? step : -step;
        const int l = first + (((line - first + offset) % count) + count) % count;
        const std::u32string text = lineText(buffer, l);
        int from = 0;
        int to = static_cast<int>(text.size());
        if (step == 0 && forward)
            from = column + 1;
        else if (step == 0)
            to = column;
        else if (step == count && forward)
            to = column + 1;
        else if (step == count)
            from = column;
        if (const auto c = matchIn(text, needle, from, to, direction))
            return TextMatch{l, *c, length};
    }
    return std::nullopt;
}

} // namespace terminal
