#pragma once
// Gives received bytes their VT100 (and VT52) meaning on a TTerminalBuffer, answers the
// host's requests, and turns key presses into what a VT100 keyboard sends.
//
// Not thread-safe: everything runs on the buffer's owner thread. Replies and key bytes
// leave through the writer callback; it must not call back into the emulator.
#include "terminal/terminal_buffer.h"
#include "terminal/vt100_parser.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace terminal {

enum class Parity : std::uint8_t { None, Odd, Even, Mark, Space };

class TVT100Emulator {
public:
    using Writer = std::function<void(std::string_view bytes)>;

    explicit TVT100Emulator(TTerminalBuffer& buffer);

    // Where replies and key sequences go (the port). Unset: they are dropped.
    void setWriter(Writer writer) { m_writer = std::move(writer); }
    // BEL. Unset: nothing happens.
    void setBell(std::function<void()> bell) { m_bell = std::move(bell); }

    // Line settings reported by the terminal parameter report (ESC [ x).
    void setLineSettings(int baudRate, int dataBits, Parity parity) {
        m_baudRate = baudRate;
        m_dataBits = dataBits;
        m_parity = parity;
    }
    // The speed code a VT100 reports for a baud rate (120 for anything it does not know).
    static int speedCode(int baudRate);

    // Decodes and carries out a block of received bytes. Never fails; unknown or malformed
    // sequences are dropped.
    void feed(const std::uint8_t* data, std::size_t size);
    void feed(std::string_view data) {
        feed(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
    }

    // A key-down: keyCode is the system key code (VK_*: 8 backspace, 37 left, 43 the
    // keypad's Enter as execute key, 96.. keypad digits, 112.. F1..). Returns true when the
    // key was consumed (its sequence sent, or a repeat swallowed with auto repeat off);
    // false leaves the key to the typed-character path.
    bool keyDown(int keyCode, bool repeat, bool shift, bool ctrl, bool alt);
    // A typed character goes out as it is; CR gets an LF behind it in new-line mode.
    void typeCharacter(std::uint8_t ch);

    // Back to the start state: clears screen and history; keeps lamps and saved cursor.
    void reset();

    // ---- state, for views and tests --------------------------------------------------
    bool ansiMode() const { return m_ansi; }
    bool cursorKeyApplication() const { return m_cursorKeyApplication; }
    bool keypadApplication() const { return m_keypadApplication; }
    bool autoRepeat() const { return m_autoRepeat; }
    bool smoothScroll() const { return m_smoothScroll; }
    bool interlace() const { return m_interlace; }
    bool newLineMode() const { return m_newLine; }
    std::uint8_t g0() const { return m_g[0]; }
    std::uint8_t g1() const { return m_g[1]; }
    bool shiftedOut() const { return m_shiftedOut; }
    const std::array<bool, 4>& lamps() const { return m_lamps; }
    TTerminalBuffer& buffer() { return m_buffer; }

private:
    void control(std::uint8_t byte);
    void escape(std::uint8_t final);
    void vt52Escape(std::uint8_t final);
    void controlSequence(const Command& command);
    // Each true when the sequence is theirs (carried out, or ignored for its parameters).
    bool cursorSequence(const Command& command);
    bool editSequence(const Command& command);
    bool reportSequence(const Command& command);
    void setMode(const Command& command, bool on);
    void selectGraphicRendition(const Command& command);
    void designate(int which, std::uint8_t final);
    void upperHalf(std::uint8_t byte);
    void applyCharset();
    void shiftOut(bool out);
    void saveCursor();
    void restoreCursor();
    void send(std::string_view bytes);

    TTerminalBuffer& m_buffer;
    TVT100Parser m_parser;
    Writer m_writer;
    std::function<void()> m_bell;

    int m_baudRate = 115200;
    int m_dataBits = 8;
    Parity m_parity = Parity::None;

    bool m_ansi = true;
    bool m_cursorKeyApplication = false;
    bool m_keypadApplication = false;
    bool m_autoRepeat = true;
    bool m_smoothScroll = false;
    bool m_interlace = false;
    bool m_newLine = false;
    std::array<std::uint8_t, 2> m_g{CharsetUsAscii, CharsetUsAscii};
    bool m_shiftedOut = false;
    std::array<bool, 4> m_lamps{};

    struct SavedCursor {
        bool valid = false;
        int row = 0;
        int column = 0;
        CellTemplate pen;
        std::array<std::uint8_t, 2> g{};
        bool shiftedOut = false;
    } m_saved;
};

} // namespace terminal
