#include "terminal/vt100_parser.h"

namespace terminal {

namespace {
constexpr std::uint8_t kEsc = 27;
constexpr std::uint8_t kCan = 24;
constexpr std::uint8_t kSub = 26;
constexpr std::int64_t kLargest = 0x7FFFFFFF;
} // namespace

void TVT100Parser::reset() {
    m_state = State::Ground;
    m_command.params.clear();
}

void TVT100Parser::startSequence() {
    m_command.params.clear();
    m_command.privateMarker = false;
    m_command.intermediate = 0;
    m_command.extraAfterIntermediate = false;
    m_current = -1;
    m_firstByte = true;
    m_invalid = false;
    m_intermediateSeen = false;
    m_paramCount = 0;
}

ParseResult TVT100Parser::complete(CommandKind kind, std::uint8_t final) {
    m_state = State::Ground;
    m_command.kind = kind;
    m_command.final = final;
    return ParseResult::Complete;
}

ParseResult TVT100Parser::controlByte(std::uint8_t byte) {
    if (byte == kEsc) {
        startSequence();
        m_state = State::Escape;
        return ParseResult::Incomplete;
    }
    if (byte == kCan || byte == kSub)
        return m_state == State::Ground ? ParseResult::Nothing : ParseResult::Incomplete;
    // Executed in place: the sequence in progress (if any) carries on afterwards.
    m_command.kind = CommandKind::Control;
    m_command.final = byte;
    return ParseResult::Complete;
}

ParseResult TVT100Parser::feed(std::uint8_t byte) {
    if (byte < 32)
        return controlByte(byte);
    switch (m_state) {
    case State::Ground:
        return byte < 127 ? ParseResult::Printable : ParseResult::UpperHalf;
    case State::Escape:
        return escapeByte(byte);
    case State::ControlSequence:
        return sequenceByte(byte);
    case State::LineAttribute:
        return complete(CommandKind::LineAttribute, byte);
    case State::DesignateG0:
        return complete(CommandKind::DesignateG0, byte);
    case State::DesignateG1:
        return complete(CommandKind::DesignateG1, byte);
    case State::OtherDesignation:
        m_state = State::Ground;
        return ParseResult::Nothing;
    case State::Vt52Row:
        m_command.params.push_back(byte);
        m_state = State::Vt52Column;
        return ParseResult::Incomplete;
    case State::Vt52Column:
        m_command.params.push_back(byte);
        return complete(CommandKind::Vt52CursorAddress, 'Y');
    }
    return ParseResult::Nothing;
}

ParseResult TVT100Parser::escapeByte(std::uint8_t byte) {
    if (m_vt52) {
        if (byte == 'Y') {
            m_state = State::Vt52Row;
            return ParseResult::Incomplete;
        }
        return complete(CommandKind::Escape, byte);
    }
    switch (byte) {
    case '[':
        m_state = State::ControlSequence;
        return ParseResult::Incomplete;
    case '#':
        m_state = State::LineAttribute;
        return ParseResult::Incomplete;
    case '(':
        m_state = State::DesignateG0;
        return ParseResult::Incomplete;
    case ')':
        m_state = State::DesignateG1;
        return ParseResult::Incomplete;
    case '*':
    case '+':
    case '-':
    case '.':
    case '/':
        m_state = State::OtherDesignation;
        return ParseResult::Incomplete;
    default:
        return complete(CommandKind::Escape, byte);
    }
}

ParseResult TVT100Parser::sequenceByte(std::uint8_t byte) {
    const bool first = m_firstByte;
    m_firstByte = false;
    if (byte >= 64 && byte <= 126) {
        if (!m_intermediateSeen && (m_current >= 0 || m_paramCount > 0)) {
            // the last parameter (possibly empty after a ";")
            if (m_paramCount < kMaxParameters)
                m_command.params.push_back(static_cast<std::int32_t>(m_current));
            ++m_paramCount;
        }
        if (m_invalid || m_paramCount > kMaxParameters) {
            m_state = State::Ground;
            return ParseResult::Nothing;
        }
        return complete(CommandKind::ControlSequence, byte);
    }
    if (m_intermediateSeen) { // reading stopped at the intermediate
        m_command.extraAfterIntermediate = true;
        return ParseResult::Incomplete;
    }
    if (byte >= '0' && byte <= '9') {
        if (m_current < 0)
            m_current = 0;
        if (m_current <= kLargest)
            m_current = m_current * 10 + (byte - '0');
        if (m_current > kLargest)
            m_invalid = true;
    } else if (byte == ';') {
        if (m_paramCount < kMaxParameters)
            m_command.params.push_back(static_cast<std::int32_t>(m_current));
        ++m_paramCount;
        if (m_paramCount > kMaxParameters)
            m_invalid = true;
        m_current = -1;
    } else if (byte == '?' && first) {
        m_command.privateMarker = true;
    } else if (byte >= 32 && byte <= 47) {
        if (m_current >= 0 || m_paramCount > 0) {
            if (m_paramCount < kMaxParameters)
                m_command.params.push_back(static_cast<std::int32_t>(m_current));
            ++m_paramCount;
        }
        m_intermediateSeen = true;
        m_command.intermediate = byte;
    } else {
        m_invalid = true; // a second "?", ":", "<", ">", "=", or a byte above 126
    }
    return ParseResult::Incomplete;
}

} // namespace terminal
