#include "terminal/paste_pacer.h"

#include <algorithm>

namespace terminal {

std::string PastePacer::normalise(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue; // the LF that follows stands for both
        out += text[i] == '\n' ? '\r' : text[i];
    }
    return out;
}

int PastePacer::lineCount(std::string_view normalised) {
    const auto crs = static_cast<int>(std::count(normalised.begin(), normalised.end(), '\r'));
    return crs + (!normalised.empty() && normalised.back() != '\r' ? 1 : 0);
}

void PastePacer::start(std::string normalised, PasteTiming timing, Clock::time_point now) {
    m_text = std::move(normalised);
    m_pos = 0;
    m_timing = {std::max(0, timing.charDelayMs), std::max(0, timing.lineDelayMs)};
    m_due = now;
    m_waitingForEcho = false;
    m_lastSent = 0;
    m_echoed = m_timedOut = 0;
}

void PastePacer::cancel() {
    m_text.clear();
    m_pos = 0;
    m_waitingForEcho = false;
}

PastePacer::Clock::time_point PastePacer::nextDue() const {
    return active() ? m_due : Clock::time_point::max();
}

std::string PastePacer::take(Clock::time_point now) {
    if (!active() || now < m_due)
        return {};
    if (m_waitingForEcho) { // the line delay ran out without an echo
        m_waitingForEcho = false;
        ++m_timedOut;
    }
    std::size_t end = m_pos + 1;
    if (m_timing.charDelayMs == 0) {
        const std::size_t cr = m_text.find('\r', m_pos);
        end = cr == std::string::npos ? m_text.size() : cr + 1;
    }
    std::string out = m_text.substr(m_pos, end - m_pos);
    m_pos = end;
    if (out.back() == '\r') {
        m_lastOfLine = out.size() > 1 ? out[out.size() - 2] : m_lastSent;
        m_lastOfLine = m_lastOfLine == '\r' ? 0 : m_lastOfLine;
        m_waitingForEcho = true;
        m_due = now + std::chrono::milliseconds(m_timing.lineDelayMs);
    } else {
        m_due = now + std::chrono::milliseconds(m_timing.charDelayMs);
    }
    m_lastSent = out.back();
    return out;
}

void PastePacer::received(std::string_view bytes) {
    for (const char b : bytes) {
        const bool lineEnd = b == '\r' || b == '\n';
        if (m_waitingForEcho && lineEnd && (m_lastOfLine == 0 || m_previous == m_lastOfLine)) {
            m_waitingForEcho = false;
            ++m_echoed;
            m_due = Clock::time_point::min(); // the next line may go at once
        }
        m_previous = b;
    }
}

} // namespace terminal
