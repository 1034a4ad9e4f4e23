#pragma once
// What a received stream holds besides its text, taken out for the session log: escape
// sequences (CSI, the OSC/DCS/APC/PM/SOS strings up to BEL or ST, two-byte escapes) and
// control characters other than TAB. A log replayed with cat or tail -f must not set the
// reader's window title, fill their clipboard or clear their screen. Push filter: feed every
// received character in order, line ends included; it keeps its state across blocks.
class ControlFilter {
public:
    // True when ch is text to keep: printable, or TAB, and not part of an escape sequence.
    // Line ends (CR, LF) give false but end a sequence left open, so a broken one cannot eat
    // the lines after it.
    bool keep(char16_t ch);

private:
    enum class State { Text, Escape, Csi, String, StringEscape };
    State m_state = State::Text;
};
