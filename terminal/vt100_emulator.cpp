#include "terminal/vt100_emulator.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace terminal {

namespace {

// Code page 437 box drawing (176..218) shown with the nearest DEC special graphics.
constexpr char kUpperHalfLineDrawing[] = "aaaxuuukkuxkjjjkmvwtqnttmlvwtqnvvwwmmllnnjl";
static_assert(sizeof kUpperHalfLineDrawing - 1 == 218 - 176 + 1);

constexpr std::uint32_t kPalette[8] = {0x000000, 0x800000, 0x008000, 0x808000,
                                       0x000080, 0x800080, 0x008080, 0xC0C0C0};

constexpr char kAnswerback[] = "STBterm";
constexpr char kDeviceAttributes[] = "\x1b[?1;0c";

// A parameter with its default applied (empty or missing -> def).
int param(const Command& c, std::size_t i, int def) {
    return i < c.params.size() && c.params[i] >= 0 ? c.params[i] : def;
}

bool isPrintable(std::uint8_t b) {
    return b >= 32 && b <= 126;
}

} // namespace

TVT100Emulator::TVT100Emulator(TTerminalBuffer& buffer) : m_buffer(buffer) {}

int TVT100Emulator::speedCode(int baudRate) {
    switch (baudRate) {
    case 150:
        return 32;
    case 300:
        return 48;
    case 600:
        return 56;
    case 1200:
        return 64;
    case 2400:
        return 88;
    case 4800:
        return 104;
    case 9600:
        return 112;
    default:
        return 120;
    }
}

void TVT100Emulator::send(std::string_view bytes) {
    if (m_writer && !bytes.empty())
        m_writer(bytes);
}

void TVT100Emulator::reset() {
    m_buffer.reset();
    m_parser.reset();
    m_parser.setVt52(false);
    m_ansi = true;
    m_cursorKeyApplication = false;
    m_keypadApplication = false;
    m_autoRepeat = true;
    m_smoothScroll = false;
    m_interlace = false;
    m_newLine = false;
    m_g = {CharsetUsAscii, CharsetUsAscii};
    m_shiftedOut = false;
    applyCharset();
}

void TVT100Emulator::applyCharset() {
    m_buffer.pen().charset = m_g[m_shiftedOut ? 1 : 0];
}

// SO (out) and SI: between the two designated sets in ANSI mode; the VT52 mode has only the
// graphics set and ASCII.
void TVT100Emulator::shiftOut(bool out) {
    if (m_ansi) {
        m_shiftedOut = out;
        applyCharset();
    } else {
        m_buffer.pen().charset = out ? CharsetLineDrawing : CharsetUsAscii;
    }
}

// ---- receive path ----------------------------------------------------------------------

void TVT100Emulator::feed(const std::uint8_t* data, std::size_t size) {
    const std::uint8_t* end = data + size;
    while (data < end) {
        if (m_parser.inGround() && isPrintable(*data)) {
            // The common case: a run of text goes to the buffer in one call.
            const std::uint8_t* run = data;
            while (run < end && isPrintable(*run))
                ++run;
            m_buffer.writeRun(data, static_cast<std::size_t>(run - data));
            data = run;
            continue;
        }
        const std::uint8_t byte = *data++;
        switch (m_parser.feed(byte)) {
        case ParseResult::Nothing:
        case ParseResult::Incomplete:
            break;
        case ParseResult::Printable:
            m_buffer.writeChar(byte);
            break;
        case ParseResult::UpperHalf:
            upperHalf(byte);
            break;
        case ParseResult::Complete: {
            const Command& c = m_parser.command();
            switch (c.kind) {
            case CommandKind::Control:
                control(c.final);
                break;
            case CommandKind::Escape:
                if (m_ansi)
                    escape(c.final);
                else
                    vt52Escape(c.final);
                break;
            case CommandKind::ControlSequence:
                controlSequence(c);
                break;
            case CommandKind::LineAttribute:
                switch (c.final) {
                case '3':
                    m_buffer.setLineAttribute(LineAttribute::DoubleHeightTop);
                    break;
                case '4':
                    m_buffer.setLineAttribute(LineAttribute::DoubleHeightBottom);
                    break;
                case '5':
                    m_buffer.setLineAttribute(LineAttribute::Normal);
                    break;
                case '6':
                    m_buffer.setLineAttribute(LineAttribute::DoubleWidth);
                    break;
                case '8':
                    m_buffer.fillWith('E');
                    break;
                default:
                    break;
                }
                break;
            case CommandKind::DesignateG0:
                designate(0, c.final);
                break;
            case CommandKind::DesignateG1:
                designate(1, c.final);
                break;
            case CommandKind::Vt52CursorAddress:
                m_buffer.moveCursor(c.params[0] - 32, c.params[1] - 32);
                break;
            }
            break;
        }
        }
    }
}

void TVT100Emulator::upperHalf(std::uint8_t byte) {
    if (byte >= 176 && byte <= 218)
        m_buffer.writeCharInSet(static_cast<std::uint8_t>(kUpperHalfLineDrawing[byte - 176]),
                                CharsetLineDrawing);
    // Every other byte above 126 is dropped: showing the upper half is off.
}

void TVT100Emulator::control(std::uint8_t byte) {
    switch (byte) {
    case 5:
        send(kAnswerback);
        break;
    case 7:
        if (m_bell)
            m_bell();
        break;
    case 8:
        m_buffer.backspace();
        break;
    case 9:
        m_buffer.horizontalTab();
        break;
    case 10:
        m_buffer.lineFeed(m_newLine);
        break;
    case 11:
        // A VT100 treats VT as a line feed. Moving to a vertical tab stop (none can ever be
        // set) would throw the cursor to the region's bottom, and hosts that rely on the
        // line feed (vttest does) would scribble over the wrong line.
        m_buffer.lineFeed(m_newLine);
        break;
    case 12:
        m_buffer.eraseDisplay(2);
        break;
    case 13:
        m_buffer.carriageReturn();
        break;
    case 14:
    case 15:
        shiftOut(byte == 14);
        break;
    default:
        break;
    }
}

void TVT100Emulator::designate(int which, std::uint8_t final) {
    std::uint8_t set = 0;
    switch (final) {
    case 'B':
        set = CharsetUsAscii;
        break;
    case 'A':
        set = CharsetUk;
        break;
    case '0':
        set = CharsetLineDrawing;
        break;
    case '1':
        set = CharsetAlternateRom;
        break;
    case '2':
        set = CharsetAlternateRomGraphics;
        break;
    default:
        return;
    }
    m_g[static_cast<std::size_t>(which)] = set;
    applyCharset();
}

void TVT100Emulator::saveCursor() {
    m_saved.valid = true;
    m_saved.row = m_buffer.cursorRow();
    m_saved.column = m_buffer.cursorColumn();
    m_saved.pen = m_buffer.pen();
    m_saved.g = m_g;
    m_saved.shiftedOut = m_shiftedOut;
}

void TVT100Emulator::restoreCursor() {
    if (!m_saved.valid) { // nothing saved: home with the default rendition
        m_buffer.pen() = CellTemplate{};
        const bool origin = m_buffer.originMode;
        m_buffer.originMode = false;
        m_buffer.moveCursor(0, 0);
        m_buffer.originMode = origin;
        return;
    }
    m_buffer.pen() = m_saved.pen;
    m_g = m_saved.g;
    m_shiftedOut = m_saved.shiftedOut;
    // The saved position is a screen position, not one relative to the region.
    const bool origin = m_buffer.originMode;
    m_buffer.originMode = false;
    m_buffer.moveCursor(m_saved.row, m_saved.column);
    m_buffer.originMode = origin;
}

void TVT100Emulator::escape(std::uint8_t final) {
    switch (final) {
    case '7':
        saveCursor();
        break;
    case '8':
        restoreCursor();
        break;
    case '=':
        m_keypadApplication = true;
        break;
    case '>':
        m_keypadApplication = false;
        break;
    case 'D':
        m_buffer.lineFeed(false);
        break;
    case 'E':
        m_buffer.lineFeed(true);
        break;
    case 'H':
        m_buffer.setTabStop();
        break;
    case 'M':
        m_buffer.reverseIndex();
        break;
    case 'Z':
        send(kDeviceAttributes);
        break;
    case 'c':
        reset();
        break;
    default: // ESC 1, ESC 2 and anything unknown: no effect
        break;
    }
}

void TVT100Emulator::vt52Escape(std::uint8_t final) {
    switch (final) {
    case 'A':
        m_buffer.cursorUp(1);
        break;
    case 'B':
        m_buffer.cursorDown(1);
        break;
    case 'C':
        m_buffer.cursorRight(1);
        break;
    case 'D':
        m_buffer.cursorLeft(1);
        break;
    case 'F':
        m_buffer.pen().charset = CharsetLineDrawing;
        break;
    case 'G':
        m_buffer.pen().charset = CharsetUsAscii;
        break;
    case 'H':
        m_buffer.moveCursor(0, 0);
        break;
    case 'I':
        m_buffer.reverseIndex();
        break;
    case 'J':
        m_buffer.eraseDisplay(0);
        break;
    case 'K':
        m_buffer.eraseLine(0);
        break;
    case 'Z':
        send("\x1b/Z");
        break;
    case '=':
        m_keypadApplication = true;
        break;
    case '>':
        m_keypadApplication = false;
        break;
    case '<':
        m_ansi = true;
        m_parser.setVt52(false);
        applyCharset();
        break;
    default:
        break;
    }
}

void TVT100Emulator::controlSequence(const Command& c) {
    const std::size_t count = c.params.size();
    if (c.intermediate != 0) {
        // The one sequence with an intermediate that means something: ESC [ 6 1 " p.
        if (c.final == 'p' && c.intermediate == '"' && !c.extraAfterIntermediate &&
            !c.privateMarker && count == 1 && c.params[0] == 61)
            reset();
        // Anything else is carried out with the parameters read before the intermediate.
        else if (c.final == 'p')
            return;
    }
    if (c.privateMarker && c.final != 'h' && c.final != 'l')
        return;
    if (cursorSequence(c) || editSequence(c) || reportSequence(c))
        return;
    switch (c.final) {
    case 'h':
    case 'l':
        setMode(c, c.final == 'h');
        break;
    case 'm':
        selectGraphicRendition(c);
        break;
    case 'q':
        for (std::size_t i = 0; i < (count == 0 ? 1 : count); ++i) {
            const int lamp = param(c, i, 0);
            if (lamp == 0)
                m_lamps.fill(false);
            else if (lamp >= 1 && lamp <= 4)
                m_lamps[static_cast<std::size_t>(lamp - 1)] = true;
        }
        break;
    default: // y (self test) and anything unknown: no effect
        break;
    }
}

bool TVT100Emulator::cursorSequence(const Command& c) {
    switch (c.final) {
    case 'H':
    case 'f':
        if (c.params.size() <= 2)
            m_buffer.moveCursor(std::max(param(c, 0, 1), 1) - 1, std::max(param(c, 1, 1), 1) - 1);
        return true;
    case 'r':
        if (c.params.size() <= 2) {
            const int top = param(c, 0, 0);
            const int bottom = param(c, 1, 0);
            m_buffer.setScrollRegion(top == 0 ? 0 : top - 1,
                                     bottom == 0 ? m_buffer.rows() - 1 : bottom - 1);
        }
        return true;
    case 's':
        saveCursor();
        return true;
    case 'u':
        restoreCursor();
        return true;
    default:
        return false;
    }
}

bool TVT100Emulator::editSequence(const Command& c) {
    // The cursor moves and edits that take one parameter: a mode (default 0) or a count
    // (default 1).
    struct Edit {
        char final;
        int fallback;
        void (TTerminalBuffer::*apply)(int);
    };
    static constexpr Edit kEdits[] = {
        {'A', 1, &TTerminalBuffer::cursorUp},         {'B', 1, &TTerminalBuffer::cursorDown},
        {'C', 1, &TTerminalBuffer::cursorRight},      {'D', 1, &TTerminalBuffer::cursorLeft},
        {'J', 0, &TTerminalBuffer::eraseDisplay},     {'K', 0, &TTerminalBuffer::eraseLine},
        {'@', 1, &TTerminalBuffer::insertCharacters}, {'L', 1, &TTerminalBuffer::insertLines},
        {'M', 1, &TTerminalBuffer::deleteLines},      {'P', 1, &TTerminalBuffer::deleteCharacters},
        {'X', 1, &TTerminalBuffer::eraseCharacters},  {'g', 0, &TTerminalBuffer::clearTabStop},
    };
    for (const Edit& edit : kEdits) {
        if (edit.final != c.final)
            continue;
        // More parameters than the sequence takes: no effect.
        if (c.params.size() <= 1)
            (m_buffer.*edit.apply)(param(c, 0, edit.fallback));
        return true;
    }
    return false;
}

bool TVT100Emulator::reportSequence(const Command& c) {
    if (c.final != 'c' && c.final != 'n' && c.final != 'x')
        return false;
    if (c.params.size() > 1)
        return true;
    if (c.final == 'c') {
        if (param(c, 0, 0) == 0)
            send(kDeviceAttributes);
    } else if (c.final == 'n') {
        if (param(c, 0, -1) == 5) {
            send("\x1b[0n");
        } else if (param(c, 0, -1) == 6) {
            char reply[32];
            std::snprintf(reply, sizeof reply, "\x1b[%d;%dR", m_buffer.cursorRow() + 1,
                          m_buffer.cursorColumn() + 1);
            send(reply);
        }
    } else {
        int request = param(c, 0, 0);
        request = request < 0 ? 0 : (request > 1 ? 1 : request);
        const int parity = m_parity == Parity::Odd ? 4 : (m_parity == Parity::Even ? 5 : 1);
        const int bits = m_dataBits == 7 ? 2 : 1;
        const int speed = speedCode(m_baudRate);
        char reply[64];
        std::snprintf(reply, sizeof reply, "\x1b[%d;%d;%d;%d;%d;%d;%dx", request + 2, parity, bits,
                      speed, speed, 1, 0);
        send(reply);
    }
    return true;
}

void TVT100Emulator::setMode(const Command& c, bool on) {
    if (c.params.size() != 1 || c.params[0] < 0)
        return;
    const int mode = c.params[0];
    if (!c.privateMarker) {
        if (mode == 4)
            m_buffer.insertMode = on;
        else if (mode == 20)
            m_newLine = on;
        return;
    }
    switch (mode) {
    case 1:
        m_cursorKeyApplication = on;
        break;
    case 2:
        if (!on) {
            m_ansi = false;
            m_parser.setVt52(true);
        }
        break;
    case 3:
        m_buffer.setColumns(on ? kWideColumns : kNarrowColumns);
        break;
    case 4:
        m_smoothScroll = on;
        break;
    case 5:
        if (m_buffer.reverseScreen != on) {
            m_buffer.reverseScreen = on;
            m_buffer.markAllDirty();
        }
        break;
    case 6:
        m_buffer.setOriginMode(on);
        break;
    case 7:
        m_buffer.autoWrap = on;
        break;
    case 8:
        m_autoRepeat = on;
        break;
    case 9:
        m_interlace = on;
        break;
    default:
        break;
    }
}

void TVT100Emulator::selectGraphicRendition(const Command& c) {
    // The parameters that switch an attribute on and off again.
    struct Switch {
        int on;
        int off;
        Attribute attr;
    };
    static constexpr Switch kSwitches[] = {
        {1, 22, AttrBold},    {4, 24, AttrUnderline}, {5, 25, AttrBlink},
        {7, 27, AttrReverse}, {8, 28, AttrInvisible},
    };
    CellTemplate& pen = m_buffer.pen();
    const std::size_t count = c.params.empty() ? 1 : c.params.size();
    for (std::size_t i = 0; i < count; ++i) {
        const int p = param(c, i, 0);
        if (p == 0) {
            pen.attr = 0;
            pen.fg = kColourSilver;
            pen.bg = kColourBlack;
        } else if (p >= 30 && p <= 37) {
            pen.fg = kPalette[p - 30];
        } else if (p >= 40 && p <= 47) {
            pen.bg = kPalette[p - 40];
        }
        for (const Switch& s : kSwitches) {
            if (p == s.on)
                pen.attr |= s.attr;
            else if (p == s.off)
                pen.attr &= static_cast<std::uint8_t>(~s.attr);
        }
    }
}

} // namespace terminal
