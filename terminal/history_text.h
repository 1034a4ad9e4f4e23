#pragma once
// The history and screen as text: what the find bar searches and what "save to file" writes.
// Pure, so a search over 100,000 lines can be tested without a window.
//
// Lines are addressed as the buffer addresses them: -historyCount() .. rows()-1, 0 the top
// visible row. A line's text has one character per cell (through the character-set map, so
// column c of the text is column c of the screen), its trailing blanks cut.
#include "terminal/terminal_buffer.h"

#include <optional>
#include <string>
#include <string_view>

namespace terminal {

std::u32string lineText(const TTerminalBuffer& buffer, int line);

// Every line from the oldest history line to the last screen line that holds text, as UTF-8,
// each ended by '\n'. Empty when nothing has been written.
std::string plainText(const TTerminalBuffer& buffer);

struct TextMatch {
    int line = 0;
    int column = 0;
    int length = 0;
    bool operator==(const TextMatch&) const = default;
};

// needle at column of text, case-insensitive for Latin letters; false past the text's end.
bool textMatchesAt(std::u32string_view text, std::u32string_view needle, std::size_t column);

enum class SearchDirection { Forward, Backward };

// The next match of needle (case-insensitive for Latin letters) strictly after (forward) or
// strictly before (backward) the position (line, column), wrapping around the whole text
// once. A match never spans two lines. nullopt when needle is empty or found nowhere.
std::optional<TextMatch> findText(const TTerminalBuffer& buffer, std::u32string_view needle,
                                  int line, int column, SearchDirection direction);

} // namespace terminal
