#include "terminal/vt100_maps.h"

#include "terminal/terminal_buffer.h"

#include <cstdio>

namespace terminal {

// ======================================================================================
// Key map
// ======================================================================================

namespace {

using Records = std::vector<std::pair<std::string, std::string>>;

// Level 1: system key codes that the terminal looks at, with their system names.
struct KeyCodeName {
    int code;
    const char* name;
};
constexpr KeyCodeName kNamedKeys[] = {
    {8, "VK_BACK"},        {9, "VK_TAB"},        {12, "VK_CLEAR"},     {13, "VK_RETURN"},
    {19, "VK_PAUSE"},      {20, "VK_CAPITAL"},   {27, "VK_ESCAPE"},    {32, "VK_SPACE"},
    {33, "VK_PRIOR"},      {34, "VK_NEXT"},      {35, "VK_END"},       {36, "VK_HOME"},
    {37, "VK_LEFT"},       {38, "VK_UP"},        {39, "VK_RIGHT"},     {40, "VK_DOWN"},
    {41, "VK_SELECT"},     {43, "VK_EXECUTE"},   {44, "VK_SNAPSHOT"},  {45, "VK_INSERT"},
    {46, "VK_DELETE"},     {47, "VK_HELP"},      {106, "VK_MULTIPLY"}, {107, "VK_ADD"},
    {108, "VK_SEPARATOR"}, {109, "VK_SUBTRACT"}, {110, "VK_DECIMAL"},  {111, "VK_DIVIDE"},
    {144, "VK_NUMLOCK"},   {145, "VK_SCROLL"},
};
// Plus generated ranges: 48..57 "VK_0".."VK_9", 65..90 "VK_A".."VK_Z",
// 96..105 "VK_NUMPAD0".."VK_NUMPAD9", 112..135 "VK_F1".."VK_F24".

// Level 2: key name (with modifier prefixes) -> terminal key. A trailing "c" marks a cursor
// key, a trailing "k" a keypad key; both get a mode digit in place of that letter.
constexpr const char* kTerminalKeys[][2] = {
    {"VK_UP", "DEC_UPc"},
    {"VK_DOWN", "DEC_DOWNc"},
    {"VK_RIGHT", "DEC_RIGHTc"},
    {"VK_LEFT", "DEC_LEFTc"},
    {"VK_F1", "DEC_PF1k"},
    {"VK_F2", "DEC_PF2k"},
    {"VK_F3", "DEC_PF3k"},
    {"VK_F4", "DEC_PF4k"},
    {"VK_NUMLOCK", "DEC_PF1k"},
    {"VK_DIVIDE", "DEC_PF2k"},
    {"VK_MULTIPLY", "DEC_PF3k"},
    {"VK_SUBTRACT", "DEC_PF4k"},
    {"VK_NUMPAD0", "DEC_KP0k"},
    {"VK_NUMPAD1", "DEC_KP1k"},
    {"VK_NUMPAD2", "DEC_KP2k"},
    {"VK_NUMPAD3", "DEC_KP3k"},
    {"VK_NUMPAD4", "DEC_KP4k"},
    {"VK_NUMPAD5", "DEC_KP5k"},
    {"VK_NUMPAD6", "DEC_KP6k"},
    {"VK_NUMPAD7", "DEC_KP7k"},
    {"VK_NUMPAD8", "DEC_KP8k"},
    {"VK_NUMPAD9", "DEC_KP9k"},
    {"VK_ADD", "DEC_KP-k"},
    {"VK_DECIMAL", "DEC_KP.k"},
    {"ctrl+VK_DECIMAL", "DEC_KP,k"},
    {"VK_EXECUTE", "DEC_KPEk"},
    {"VK_BACK", "DEC_DEL"},
    {"shift+VK_BACK", "DEC_BS"},
    {"VK_F11", "DEC_BS"},
    {"VK_F12", "DEC_LF"},
    {"shift+VK_RETURN", "DEC_LF"},
    {"shift+VK_EXECUTE", "DEC_LF"},
    {"ctrl+VK_SPACE", "DEC_NULL"},
};

// Level 3, cursor keys: mode 0 (VT52), 1 (ANSI), 2 (ANSI, cursor-key application mode).
constexpr const char* kCursorKeys[][4] = {
    {"DEC_UP", "\\eA", "\\e[A", "\\eOA"},
    {"DEC_DOWN", "\\eB", "\\e[B", "\\eOB"},
    {"DEC_RIGHT", "\\eC", "\\e[C", "\\eOC"},
    {"DEC_LEFT", "\\eD", "\\e[D", "\\eOD"},
};

// Level 3, keypad keys: mode 3 (VT52 numeric), 4 (VT52 application), 5 (ANSI numeric),
// 6 (ANSI application).
constexpr const char* kKeypadKeys[][5] = {
    {"DEC_PF1", "\\eP", "\\eP", "\\eOP", "\\eOP"}, {"DEC_PF2", "\\eQ", "\\eQ", "\\eOQ", "\\eOQ"},
    {"DEC_PF3", "\\eR", "\\eR", "\\eOR", "\\eOR"}, {"DEC_PF4", "\\eS", "\\eS", "\\eOS", "\\eOS"},
    {"DEC_KP0", "0", "\\e?p", "0", "\\eOp"},       {"DEC_KP1", "1", "\\e?q", "1", "\\eOq"},
    {"DEC_KP2", "2", "\\e?r", "2", "\\eOr"},       {"DEC_KP3", "3", "\\e?s", "3", "\\eOs"},
    {"DEC_KP4", "4", "\\e?t", "4", "\\eOt"},       {"DEC_KP5", "5", "\\e?u", "5", "\\eOu"},
    {"DEC_KP6", "6", "\\e?v", "6", "\\eOv"},       {"DEC_KP7", "7", "\\e?w", "7", "\\eOw"},
    {"DEC_KP8", "8", "\\e?x", "8", "\\eOx"},       {"DEC_KP9", "9", "\\e?y", "9", "\\eOy"},
    {"DEC_KP-", "-", "\\e?m", "-", "\\eOm"},       {"DEC_KP,", ",", "\\e?l", ",", "\\eOl"},
    {"DEC_KP.", ".", "\\e?n", ".", "\\eOn"},       {"DEC_KPE", "\\x0D", "\\e?M", "\\x0D", "\\eOM"},
};

// Level 3, keys without a mode digit.
constexpr const char* kPlainKeys[][2] = {
    {"DEC_BS", "\\x08"},
    {"DEC_DEL", "\\x7F"},
    {"DEC_LF", "\\x0A"},
    {"DEC_NULL", "\\x00"},
};

std::string codeKey(int code) {
    char text[8];
    std::snprintf(text, sizeof text, "\\x%02X", code);
    return text;
}

Records buildKeyRecords() {
    Records out;
    for (const auto& k : kNamedKeys)
        out.emplace_back(codeKey(k.code), k.name);
    for (int i = 0; i <= 9; ++i)
        out.emplace_back(codeKey(48 + i), "VK_" + std::to_string(i));
    for (int i = 0; i < 26; ++i)
        out.emplace_back(codeKey(65 + i), std::string("VK_") + static_cast<char>('A' + i));
    for (int i = 0; i <= 9; ++i)
        out.emplace_back(codeKey(96 + i), "VK_NUMPAD" + std::to_string(i));
    for (int i = 1; i <= 24; ++i)
        out.emplace_back(codeKey(111 + i), "VK_F" + std::to_string(i));
    for (const auto& k : kTerminalKeys)
        out.emplace_back(k[0], k[1]);
    for (const auto& k : kCursorKeys)
        for (int mode = 0; mode < 3; ++mode)
            out.emplace_back(std::string(k[0]) + static_cast<char>('0' + mode), k[1 + mode]);
    for (const auto& k : kKeypadKeys)
        for (int mode = 3; mode <= 6; ++mode)
            out.emplace_back(std::string(k[0]) + static_cast<char>('0' + mode), k[mode - 2]);
    for (const auto& k : kPlainKeys)
        out.emplace_back(k[0], k[1]);
    return out;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

KeyMap::KeyMap(Records records) : m_records(std::move(records)) {
    for (const auto& [key, value] : m_records)
        m_index.emplace(key, value);
}

const KeyMap& KeyMap::standard() {
    static const KeyMap map(buildKeyRecords());
    return map;
}

const std::string* KeyMap::find(std::string_view key) const {
    auto it = m_index.find(std::string(key));
    return it == m_index.end() ? nullptr : &it->second;
}

std::string KeyMap::decode(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\\' || i + 1 >= text.size()) {
            out += c;
            continue;
        }
        const char next = text[i + 1];
        if (next == 'e') {
            out += '\x1b';
            ++i;
        } else if (next == 'x' && i + 3 < text.size() && hexValue(text[i + 2]) >= 0 &&
                   hexValue(text[i + 3]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 2]) * 16 + hexValue(text[i + 3]));
            i += 3;
        } else {
            out += c;
            out += next;
            ++i;
        }
    }
    return out;
}

// ======================================================================================
// Character-set map
// ======================================================================================

namespace {

// Code page 437, the OEM font's layout, one row of 16 glyphs per line.
constexpr char32_t kCp437[256] = {
    0x0020, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022, // 00
    0x25D8, 0x25CB, 0x25D9, 0x2642, 0x2640, 0x266A, 0x266B, 0x263C, 0x25BA, 0x25C4, 0x2195, 0x203C,
    0x00B6, 0x00A7, 0x25AC, 0x21A8, // 10
    0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC, ' ',    '!',    '"',    '#',
    '$',    '%',    '&',    '\'',   '(',    ')',    '*',    '+',    ',',    '-',    '.',    '/',
    '0',    '1',    '2',    '3',    '4',    '5',    '6',    '7',    '8',    '9',    ':',    ';',
    '<',    '=',    '>',    '?',    '@',    'A',    'B',    'C',    'D',    'E',    'F',    'G',
    'H',    'I',    'J',    'K',    'L',    'M',    'N',    'O',    'P',    'Q',    'R',    'S',
    'T',    'U',    'V',    'W',    'X',    'Y',    'Z',    '[',    '\\',   ']',    '^',    '_',
    '`',    'a',    'b',    'c',    'd',    'e',    'f',    'g',    'h',    'i',    'j',    'k',
    'l',    'm',    'n',    'o',    'p',    'q',    'r',    's',    't',    'u',    'v',    'w',
    'x',    'y',    'z',    '{',    '|',    '}',    '~',    0x2302, 0x00C7, 0x00FC, 0x00E9, 0x00E2,
    0x00E4, 0x00E0, 0x00E5, 0x00E7, // 80
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4,
    0x00F6, 0x00F2, 0x00FB, 0x00F9, // 90
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, // A0
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, // B0
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C,
    0x2500, 0x253C, 0x255E, 0x255F, // C0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, // D0
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0,
    0x03A3, 0x03C3, 0x00B5, 0x03C4, // E0
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264,
    0x2320, 0x2321, 0x00F7, 0x2248, // F0
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

// Line drawing (and alternate ROM graphics): characters 95..126 as OEM glyphs.
constexpr std::uint8_t kLineDrawingGlyphs[32] = {
    0x20, // _ blank
    0x04, // ` diamond
    0xB1, // a checkerboard
    0x10, // b
    0x17, // c
    0x11, // d
    0x1F, // e
    0xF8, // f degree
    0xF1, // g plus/minus
    0x1B, // h
    0x19, // i
    0xD9, // j lower-right corner
    0xBF, // k upper-right corner
    0xDA, // l upper-left corner
    0xC0, // m lower-left corner
    0xC5, // n crossing
    0xC4, // o scan line 1
    0xC4, // p scan line 3
    0xC4, // q horizontal line
    0xC4, // r scan line 7
    0xC4, // s scan line 9
    0xC3, // t left tee
    0xB4, // u right tee
    0xC1, // v bottom tee
    0xC2, // w top tee
    0xB3, // x vertical line
    0xF3, // y less or equal
    0xF2, // z greater or equal
    0xE3, // { pi
    0xD8, // | not equal stand-in
    0x9C, // } pound
    0xFA, // ~ centred dot
};

constexpr const char* kSetNames[5] = {"VT100-USASCII", "VT100-UK", "VT100-linedraw", "VT100-ROM1",
                                      "VT100-ROM2"};

} // namespace

char32_t cp437ToUnicode(std::uint8_t glyph) {
    return kCp437[glyph];
}

std::string utf8Encode(char32_t cp) {
    std::string out;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
    return out;
}

CharsetMap::CharsetMap() {
    auto add = [this](int set, GlyphFont font, int ch, int glyph) {
        m_records.push_back({kSetNames[set], font, static_cast<std::uint8_t>(ch),
                             static_cast<std::uint8_t>(glyph)});
    };
    // US ASCII: printable characters in the terminal's font, the upper half in the OEM font.
    for (int ch = 32; ch <= 126; ++ch)
        add(CharsetUsAscii, GlyphFont::Default, ch, ch);
    for (int ch = 128; ch <= 255; ++ch)
        add(CharsetUsAscii, GlyphFont::Oem, ch, ch);
    // UK: as US ASCII, "#" drawn as the pound sign.
    for (int ch = 32; ch <= 126; ++ch)
        add(CharsetUk, GlyphFont::Default, ch, ch == '#' ? 163 : ch);
    for (int set : {int(CharsetLineDrawing), int(CharsetAlternateRomGraphics)}) {
        for (int ch = 32; ch <= 94; ++ch)
            add(set, GlyphFont::Oem, ch, ch);
        for (int ch = 95; ch <= 126; ++ch)
            add(set, GlyphFont::Oem, ch, kLineDrawingGlyphs[ch - 95]);
    }
    for (int ch = 32; ch <= 126; ++ch)
        add(CharsetAlternateRom, GlyphFont::Default, ch, ch);

    for (const CharsetRecord& r : m_records) {
        int set = 0;
        while (r.setName != kSetNames[set])
            ++set;
        // The terminal's own font is Latin-1 here, so glyph 163 in it is the pound sign.
        const char32_t cp = r.font == GlyphFont::Default ? char32_t(r.glyph) : kCp437[r.glyph];
        m_unicode[set][r.character] = cp;
        m_utf8[set][r.character] = utf8Encode(cp);
    }
}

const CharsetMap& CharsetMap::standard() {
    static const CharsetMap map;
    return map;
}

} // namespace terminal
