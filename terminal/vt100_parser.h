#pragma once
// Byte-at-a-time decoder for the VT100 command set and its VT52 sub-mode. A push parser:
// feed() one byte, get back what it means; the parser keeps only the sequence in progress,
// so memory stays bounded whatever arrives (at most kMaxParameters numbers are kept).
#include <cstdint>
#include <vector>

namespace terminal {

enum class ParseResult : std::uint8_t {
    Nothing,    // byte consumed, nothing to do (also: an ignored or unknown sequence)
    Incomplete, // inside a sequence, waiting for more bytes
    Printable,  // 32..126 in the ground state: write it
    UpperHalf,  // 127..255 in the ground state
    Complete,   // command() describes a finished command or a control character
};

enum class CommandKind : std::uint8_t {
    Control,           // a C0 control byte (final = the byte); may arrive inside a sequence
    Escape,            // ESC final (ANSI or VT52, see vt52())
    ControlSequence,   // ESC [ params [intermediate] final
    LineAttribute,     // ESC # final
    DesignateG0,       // ESC ( final
    DesignateG1,       // ESC ) final
    Vt52CursorAddress, // ESC Y row col: params[0] = row byte, params[1] = column byte
};

struct Command {
    CommandKind kind = CommandKind::Control;
    std::uint8_t final = 0;
    bool privateMarker = false;          // "?" right after ESC [
    std::uint8_t intermediate = 0;       // first intermediate (32..47) of a control sequence, or 0
    bool extraAfterIntermediate = false; // anything between the intermediate and the final
    std::vector<std::int32_t> params;    // -1 = empty (use the command's default)
};

class TVT100Parser {
public:
    // More parameters than this make any command ignore the sequence; no command accepts
    // more, so collecting stops here and memory stays bounded.
    static constexpr std::size_t kMaxParameters = 30000;

    TVT100Parser() { m_command.params.reserve(16); }

    // Decodes one byte. Rules: ESC anywhere starts a new sequence; other C0 bytes inside a
    // sequence are reported as Control (CAN and SUB as Nothing) and the sequence goes on; an
    // invalid control sequence (too many parameters, stray "?" or ":", a number beyond
    // 32 bits, bytes above 126 before an intermediate) completes as Nothing.
    ParseResult feed(std::uint8_t byte);

    // Valid after Complete until the next feed().
    const Command& command() const { return m_command; }

    // VT52 mode changes what follows ESC; the emulator switches it.
    void setVt52(bool on) { m_vt52 = on; }
    bool vt52() const { return m_vt52; }

    bool inGround() const { return m_state == State::Ground; }
    void reset();

private:
    enum class State : std::uint8_t {
        Ground,
        Escape,
        ControlSequence,
        LineAttribute,
        DesignateG0,
        DesignateG1,
        OtherDesignation,
        Vt52Row,
        Vt52Column,
    };

    ParseResult controlByte(std::uint8_t byte);
    ParseResult escapeByte(std::uint8_t byte);
    ParseResult sequenceByte(std::uint8_t byte);
    ParseResult complete(CommandKind kind, std::uint8_t final);
    void startSequence();

    State m_state = State::Ground;
    bool m_vt52 = false;
    Command m_command;
    // Control-sequence scratch.
    std::int64_t m_current = -1; // number being read, -1 = empty
    bool m_firstByte = true;
    bool m_invalid = false;
    bool m_intermediateSeen = false;
    std::size_t m_paramCount = 0;
};

} // namespace terminal
