#include "tests/terminal/term_fixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>

using termtest::Term;
using namespace terminal;

namespace {

enum Mode { AnsiNormal, AnsiApplication, Vt52Normal, Vt52Application, ModeCount };

// Puts a fresh terminal into a keyboard mode. For cursor keys "application" means the
// cursor-key mode, for keypad keys the keypad mode; both are switched on together.
void enter(Term& t, Mode mode) {
    switch (mode) {
    case AnsiNormal:
        break;
    case AnsiApplication:
        t << "\x1b[?1h\x1b=";
        break;
    case Vt52Normal:
        t << "\x1b[?2l";
        break;
    case Vt52Application:
        t << "\x1b[?1h\x1b=\x1b[?2l";
        break;
    case ModeCount:
        break;
    }
}

struct KeyCase {
    const char* name;
    int code;
    bool shift, ctrl, alt;
    const char* sent[ModeCount]; // nullptr: not consumed (left to the typed-character path)
};

std::vector<KeyCase> keyCases() {
    std::vector<KeyCase> v = {
        {"Up",
         38,
         false,
         false,
         false,
         {"\x1b[A", "\x1bOA",
          "\x1b"
          "A",
          "\x1b"
          "A"}},
        {"Down",
         40,
         false,
         false,
         false,
         {"\x1b[B", "\x1bOB",
          "\x1b"
          "B",
          "\x1b"
          "B"}},
        {"Right",
         39,
         false,
         false,
         false,
         {"\x1b[C", "\x1bOC",
          "\x1b"
          "C",
          "\x1b"
          "C"}},
        {"Left",
         37,
         false,
         false,
         false,
         {"\x1b[D", "\x1bOD",
          "\x1b"
          "D",
          "\x1b"
          "D"}},
        {"F1", 112, false, false, false, {"\x1bOP", "\x1bOP", "\x1bP", "\x1bP"}},
        {"F2", 113, false, false, false, {"\x1bOQ", "\x1bOQ", "\x1bQ", "\x1bQ"}},
        {"F3", 114, false, false, false, {"\x1bOR", "\x1bOR", "\x1bR", "\x1bR"}},
        {"F4", 115, false, false, false, {"\x1bOS", "\x1bOS", "\x1bS", "\x1bS"}},
        {"NumLock", 144, false, false, false, {"\x1bOP", "\x1bOP", "\x1bP", "\x1bP"}},
        {"Divide", 111, false, false, false, {"\x1bOQ", "\x1bOQ", "\x1bQ", "\x1bQ"}},
        {"Multiply", 106, false, false, false, {"\x1bOR", "\x1bOR", "\x1bR", "\x1bR"}},
        {"Subtract", 109, false, false, false, {"\x1bOS", "\x1bOS", "\x1bS", "\x1bS"}},
        {"Add", 107, false, false, false, {"-", "\x1bOm", "-", "\x1b?m"}},
        {"Decimal", 110, false, false, false, {".", "\x1bOn", ".", "\x1b?n"}},
        {"Ctrl+Decimal", 110, false, true, false, {",", "\x1bOl", ",", "\x1b?l"}},
        {"Execute", 43, false, false, false, {"\r", "\x1bOM", "\r", "\x1b?M"}},
        {"Backspace", 8, false, false, false, {"\x7f", "\x7f", "\x7f", "\x7f"}},
        {"Shift+Backspace", 8, true, false, false, {"\b", "\b", "\b", "\b"}},
        {"F11", 122, false, false, false, {"\b", "\b", "\b", "\b"}},
        {"F12", 123, false, false, false, {"\n", "\n", "\n", "\n"}},
        {"Shift+Return", 13, true, false, false, {"\n", "\n", "\n", "\n"}},
        {"Shift+Execute", 43, true, false, false, {"\n", "\n", "\n", "\n"}},
        {"Space", 32, false, false, false, {nullptr, nullptr, nullptr, nullptr}},
        {"F5", 116, false, false, false, {nullptr, nullptr, nullptr, nullptr}},
        {"F10", 121, false, false, false, {nullptr, nullptr, nullptr, nullptr}},
        {"Return", 13, false, false, false, {nullptr, nullptr, nullptr, nullptr}},
        {"Tab", 9, false, false, false, {nullptr, nullptr, nullptr, nullptr}},
        {"Escape", 27, false, false, false, {nullptr, nullptr, nullptr, nullptr}},
        {"A", 65, false, false, false, {nullptr, nullptr, nullptr, nullptr}},
        {"Shift+Up", 38, true, false, false, {nullptr, nullptr, nullptr, nullptr}},
        {"Alt+F1", 112, false, false, true, {nullptr, nullptr, nullptr, nullptr}},
        {"Unknown code", 200, false, false, false, {nullptr, nullptr, nullptr, nullptr}},
    };
    static const char* digitsApp[] = {"\x1bOp", "\x1bOq", "\x1bOr", "\x1bOs", "\x1bOt",
                                      "\x1bOu", "\x1bOv", "\x1bOw", "\x1bOx", "\x1bOy"};
    static const char* digitsVt52[] = {"\x1b?p", "\x1b?q", "\x1b?r", "\x1b?s", "\x1b?t",
                                       "\x1b?u", "\x1b?v", "\x1b?w", "\x1b?x", "\x1b?y"};
    static const char* digits[] = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"};
    for (int d = 0; d < 10; ++d)
        v.push_back({"Keypad digit",
                     96 + d,
                     false,
                     false,
                     false,
                     {digits[d], digitsApp[d], digits[d], digitsVt52[d]}});
    return v;
}

TEST(KeyMap, EveryKeyInEveryMode) {
    for (const KeyCase& k : keyCases()) {
        for (int m = 0; m < ModeCount; ++m) {
            Term t;
            enter(t, static_cast<Mode>(m));
            const bool consumed = t.emulator.keyDown(k.code, false, k.shift, k.ctrl, k.alt);
            if (k.sent[m] == nullptr) {
                EXPECT_FALSE(consumed) << k.name << " mode " << m;
                EXPECT_EQ(t.replies, "") << k.name << " mode " << m;
            } else {
                EXPECT_TRUE(consumed) << k.name << " mode " << m;
                EXPECT_EQ(t.replies, k.sent[m]) << k.name << " mode " << m;
            }
        }
    }
}

TEST(KeyMap, CtrlSpaceSendsZeroByte) {
    // Kept out of the table above: the zero byte does not fit a C string.
    Term t;
    EXPECT_TRUE(t.emulator.keyDown(32, false, false, true, false));
    EXPECT_EQ(t.replies, std::string(1, '\0'));
}

TEST(KeyMap, EnterAndNewLineMode) {
    Term t;
    EXPECT_FALSE(t.emulator.keyDown(13, false, false, false, false));
    t.emulator.typeCharacter('\r');
    EXPECT_EQ(t.replies, "\r");
    t.replies.clear();
    t << "\x1b[20h";
    t.emulator.typeCharacter('\r');
    EXPECT_EQ(t.replies, "\r\n");
    t.replies.clear();
    t.emulator.keyDown(43, false, false, false, false); // keypad Enter, numeric keypad
    EXPECT_EQ(t.replies, "\r\n");
    t.replies.clear();
    t.emulator.typeCharacter('a');
    EXPECT_EQ(t.replies, "a");
}

TEST(KeyMap, AutoRepeatOffSwallowsRepeats) {
    Term t;
    t << "\x1b[?8l";
    EXPECT_TRUE(t.emulator.keyDown(37, true, false, false, false));
    EXPECT_EQ(t.replies, "");
    EXPECT_TRUE(t.emulator.keyDown(37, false, false, false, false));
    EXPECT_EQ(t.replies, "\x1b[D");
    t.replies.clear();
    t << "\x1b[?8h";
    EXPECT_TRUE(t.emulator.keyDown(37, true, false, false, false));
    EXPECT_EQ(t.replies, "\x1b[D");
}

TEST(KeyMap, TablesHoldExactlyTheListedRecords) {
    const KeyMap& keys = KeyMap::standard();
    EXPECT_EQ(keys.size(), 221u);
    std::set<std::string> names;
    for (const auto& [key, value] : keys.records())
        EXPECT_TRUE(names.insert(key).second) << "duplicate " << key;
    ASSERT_NE(keys.find("\\x25"), nullptr);
    EXPECT_EQ(*keys.find("\\x25"), "VK_LEFT");
    ASSERT_NE(keys.find("\\x2B"), nullptr);
    EXPECT_EQ(*keys.find("\\x2B"), "VK_EXECUTE");
    EXPECT_EQ(*keys.find("\\x90"), "VK_NUMLOCK");
    EXPECT_EQ(keys.find("\\x2A"), nullptr); // 42 is not mapped
    EXPECT_EQ(keys.find("\\x88"), nullptr); // 136 neither
    // The key codes with a first-level entry, and no others.
    auto listed = [](int code) {
        return code == 8 || code == 9 || code == 12 || code == 13 || code == 19 || code == 20 ||
               code == 27 || (code >= 32 && code <= 41) || (code >= 43 && code <= 57) ||
               (code >= 65 && code <= 90) || (code >= 96 && code <= 135) || code == 144 ||
               code == 145;
    };
    int firstLevel = 0;
    for (int code = 0; code < 256; ++code) {
        char text[8];
        std::snprintf(text, sizeof text, "\\x%02X", code);
        const std::string* name = keys.find(text);
        EXPECT_EQ(name != nullptr, listed(code)) << code;
        if (name) {
            ++firstLevel;
            EXPECT_EQ(name->rfind("VK_", 0), 0u) << code;
        }
    }
    EXPECT_EQ(firstLevel, 100);
    EXPECT_EQ(*keys.find("\\x08"), "VK_BACK");
    EXPECT_EQ(*keys.find("\\x60"), "VK_NUMPAD0");
    EXPECT_EQ(*keys.find("\\x70"), "VK_F1");

    const CharsetMap& sets = CharsetMap::standard();
    EXPECT_EQ(sets.records().size(), 603u);
    EXPECT_EQ(sets.toUnicode(CharsetUk, '#'), U'£');
    EXPECT_EQ(sets.toUnicode(CharsetUsAscii, '#'), U'#');
    EXPECT_EQ(sets.toUnicode(CharsetLineDrawing, 'q'), U'─');
    EXPECT_EQ(sets.toUnicode(CharsetAlternateRomGraphics, 'x'), U'│');
    EXPECT_EQ(sets.toUnicode(CharsetLineDrawing, '}'), U'£');
    EXPECT_EQ(sets.toUnicode(CharsetLineDrawing, 'A'), U'A');
    EXPECT_EQ(sets.toUnicode(CharsetAlternateRom, 200), 0u);
}

TEST(KeyMap, DecodeEscapes) {
    EXPECT_EQ(KeyMap::decode("\\e[A"), "\x1b[A");
    EXPECT_EQ(KeyMap::decode("\\x0D\\x7f"), "\r\x7f");
    EXPECT_EQ(KeyMap::decode("a\\\\b"), "a\\\\b");
    EXPECT_EQ(KeyMap::decode("\\xZZ"), "\\xZZ");
    EXPECT_EQ(KeyMap::decode("\\"), "\\");
}

} // namespace
