#include "net/telnet_option_parser.h"

namespace {

QByteArray command(unsigned char verb, unsigned char option) {
    QByteArray out(3, '\0');
    out[0] = static_cast<char>(TelnetOptionParser::IAC);
    out[1] = static_cast<char>(verb);
    out[2] = static_cast<char>(option);
    return out;
}

} // namespace

void TelnetOptionParser::reset() {
    m_state = State::Data;
    m_serverSpeaksTelnet = false;
}

void TelnetOptionParser::finishSubnegotiation(const ReplySink& reply) {
    // Only the terminal type is ever asked of us, so the option byte is not looked at.
    if (m_subCount > 0 && m_lastSubByte == SubSend) {
        if (m_terminal.isEmpty())
            m_terminal = "dumb";
        QByteArray answer;
        answer.append(static_cast<char>(IAC)).append(static_cast<char>(SB));
        answer.append(static_cast<char>(OptTerminalType)).append(static_cast<char>(SubIs));
        answer.append(m_terminal);
        answer.append(static_cast<char>(IAC)).append(static_cast<char>(SE));
        reply(answer);
    }
    m_subOption = 0;
}

QByteArray TelnetOptionParser::feedBlock(const QByteArray& block, const ReplySink& reply) {
    m_subOption = 1;
    m_subCount = 1;
    m_lastSubByte = -1;
    QByteArray text;
    text.reserve(block.size());
    for (const char signedByte : block) {
        const auto b = static_cast<unsigned char>(signedByte);
        switch (m_state) {
        case State::Data:
            if (b == IAC) {
                m_serverSpeaksTelnet = true;
                m_state = State::Command;
            } else {
                text.append(signedByte);
            }
            break;
        case State::Command:
            switch (b) {
            case IAC:
                text.append(signedByte);
                m_state = State::Data;
                break;
            case WILL:
                m_state = State::Will;
                break;
            case WONT:
                m_state = State::Wont;
                break;
            case DO:
                m_state = State::Do;
                break;
            case DONT:
                m_state = State::Dont;
                break;
            case SB:
                m_subCount = 0;
                m_state = State::SubOption;
                break;
            default:
                m_state = State::Data;
                break;
            }
            break;
        case State::Will:
            reply(command(b == OptEcho || b == OptEndOfRecord ? DO : DONT, b));
            m_state = State::Data;
            break;
        case State::Wont:
            reply(command(DONT, b));
            m_state = State::Data;
            break;
        case State::Do:
            reply(command(b == OptEcho || b == OptTerminalType ? WILL : WONT, b));
            m_state = State::Data;
            break;
        case State::Dont:
            reply(command(WONT, b));
            m_state = State::Data;
            break;
        case State::SubOption:
            if (b == IAC) {
                m_state = State::SubOptionCommand;
            } else {
                m_subOption = b;
                m_subCount = 0;
                m_state = State::SubData;
            }
            break;
        case State::SubData:
            if (b == IAC) {
                m_state = State::SubDataCommand;
            } else {
                ++m_subCount;
                m_lastSubByte = b;
            }
            break;
        case State::SubDataCommand:
            if (b == SE) {
                finishSubnegotiation(reply);
                m_state = State::Data;
            } else if (b == SB) {
                finishSubnegotiation(reply);
                m_state = State::SubOption;
            } else if (b == IAC) {
                ++m_subCount;
                m_lastSubByte = IAC;
                m_state = State::SubData;
            } else {
                m_state = State::Data;
            }
            break;
        case State::SubOptionCommand:
            m_state = State::Data;
            break;
        }
    }
    return text;
}
