// The emulator's keyboard path: key codes through the three-level key map to the bytes a
// VT100 keyboard sends in the current modes.
#include "terminal/vt100_emulator.h"

#include "terminal/vt100_maps.h"

#include <cstdio>
#include <string>

namespace terminal {

// ---- keyboard path ---------------------------------------------------------------------

bool TVT100Emulator::keyDown(int keyCode, bool repeat, bool shift, bool ctrl, bool alt) {
    if (repeat && !m_autoRepeat)
        return true;
    if (keyCode < 0 || keyCode > 255)
        return false;
    const KeyMap& map = KeyMap::standard();
    char code[8];
    std::snprintf(code, sizeof code, "\\x%02X", keyCode);
    const std::string* keyName = map.find(code);
    if (!keyName)
        return false;
    std::string name = *keyName;
    if (alt)
        name = "alt+" + name;
    if (ctrl)
        name = "ctrl+" + name;
    if (shift)
        name = "shift+" + name;
    const std::string* terminalKey = map.find(name);
    if (!terminalKey)
        return false;
    std::string key = *terminalKey;
    if (!key.empty() && key.back() == 'c') {
        key.back() = !m_ansi ? '0' : (m_cursorKeyApplication ? '2' : '1');
    } else if (!key.empty() && key.back() == 'k') {
        if (m_ansi)
            key.back() = m_keypadApplication ? '6' : '5';
        else
            key.back() = m_keypadApplication ? '4' : '3';
    }
    const std::string* text = map.find(key);
    if (!text)
        return false;
    std::string bytes = KeyMap::decode(*text);
    // Only a carriage return written as "\x0D" in the table gets the new-line LF.
    if (m_newLine && text->find("\\x0D") != std::string::npos) {
        std::string expanded;
        for (char b : bytes) {
            expanded += b;
            if (b == '\r')
                expanded += '\n';
        }
        bytes = expanded;
    }
    send(bytes);
    return true;
}

void TVT100Emulator::typeCharacter(std::uint8_t ch) {
    if (ch == '\r' && m_newLine) {
        send("\r\n");
        return;
    }
    const char c = static_cast<char>(ch);
    send(std::string_view(&c, 1));
}

} // namespace terminal
