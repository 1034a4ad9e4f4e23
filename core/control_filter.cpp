#include "core/control_filter.h"

bool ControlFilter::keep(char16_t ch) {
    constexpr char16_t kEsc = 0x1B;
    if (ch == u'\r' || ch == u'\n') {
        m_state = State::Text;
        return false;
    }
    switch (m_state) {
    case State::Text:
        if (ch == kEsc) {
            m_state = State::Escape;
            return false;
        }
        return ch == u'\t' || (ch >= 0x20 && ch != 0x7F && !(ch >= 0x80 && ch < 0xA0));
    case State::Escape:
        if (ch == u'[')
            m_state = State::Csi;
        else if (ch == u']' || ch == u'P' || ch == u'_' || ch == u'^' || ch == u'X')
            m_state = State::String;
        else if (ch >= 0x20 && ch < 0x30)
            return false; // an intermediate byte: the final one follows
        else
            m_state = State::Text;
        return false;
    case State::Csi:
        if (ch == kEsc)
            m_state = State::Escape;
        else if (ch >= 0x40 && ch <= 0x7E)
            m_state = State::Text;
        return false;
    case State::String:
        if (ch == 0x07)
            m_state = State::Text;
        else if (ch == kEsc)
            m_state = State::StringEscape;
        return false;
    case State::StringEscape:
        m_state = ch == u'\\' ? State::Text : State::String;
        return false;
    }
    return false;
}
