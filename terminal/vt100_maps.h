#pragma once
// The two lookup tables of the emulator, kept as readable tables in vt100_maps.cpp:
//  - the key map: key code "\xHH" -> key name, (modifiers+)key name -> terminal key,
//    terminal key + mode digit -> text to send (escapes \e, \xHH, \c);
//  - the character-set map: (set, character) -> font and glyph.
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace terminal {

// ---- key map --------------------------------------------------------------------------

class KeyMap {
public:
    // The program's map (all three levels in one table, as they never share a name).
    static const KeyMap& standard();

    explicit KeyMap(std::vector<std::pair<std::string, std::string>> records);

    // Value for key, or nullptr when there is no entry.
    const std::string* find(std::string_view key) const;
    std::size_t size() const { return m_records.size(); }
    const std::vector<std::pair<std::string, std::string>>& records() const { return m_records; }

    // Turns a value text into bytes: "\e" ESC, "\xHH" that byte, "\" + c the two characters
    // backslash and c, anything else itself. A malformed "\x" is taken literally.
    static std::string decode(std::string_view text);

private:
    std::vector<std::pair<std::string, std::string>> m_records;
    std::unordered_map<std::string, std::string> m_index;
};

// ---- character-set map ------------------------------------------------------------------

enum class GlyphFont : std::uint8_t { Default, Oem };

struct CharsetRecord {
    std::string
        setName; // "VT100-USASCII", "VT100-UK", "VT100-linedraw", "VT100-ROM1", "VT100-ROM2"
    GlyphFont font;
    std::uint8_t character;
    std::uint8_t glyph; // in the font: itself for Default, a code page 437 position for Oem
};

class CharsetMap {
public:
    static const CharsetMap& standard();

    const std::vector<CharsetRecord>& records() const { return m_records; }
    // Unicode code point that draws ch in set (0..4); 0 when the set has no such character.
    char32_t toUnicode(std::uint8_t set, std::uint8_t ch) const {
        return set < 5 ? m_unicode[set][ch] : 0;
    }
    // The same as UTF-8 (empty when no glyph), for dumps.
    const std::string& toUtf8(std::uint8_t set, std::uint8_t ch) const {
        static const std::string empty;
        return set < 5 ? m_utf8[set][ch] : empty;
    }

private:
    CharsetMap();
    std::vector<CharsetRecord> m_records;
    char32_t m_unicode[5][256] = {};
    std::string m_utf8[5][256];
};

// Code page 437 glyph position -> Unicode: the receiver draws its boxes and umlauts in that
// character set.
char32_t cp437ToUnicode(std::uint8_t glyph);
std::string utf8Encode(char32_t cp);

} // namespace terminal
