#include "tests/sim/busy_loader_input.h"

#include <algorithm>

namespace stbsim {

void BusyLoaderInput::arrive(const char* bytes, std::size_t n, Clock::time_point now) {
    for (std::size_t i = 0; i < n; ++i) {
        m_wireFree = std::max(m_wireFree, now) + kCharTime;
        m_wire.push_back({bytes[i], m_wireFree});
    }
}

void BusyLoaderInput::settleArrivals(Clock::time_point until) {
    while (!m_wire.empty() && m_wire.front().at <= until) {
        if (m_fifo.size() < kFifoSize)
            m_fifo.push_back(m_wire.front());
        else
            ++m_dropped;
        m_wire.pop_front();
    }
}

std::optional<BusyLoaderInput::Taken> BusyLoaderInput::next(Clock::time_point now) {
    if (m_busyUntil > now) {
        settleArrivals(now); // still busy: whatever came meanwhile fills the FIFO
        return std::nullopt;
    }
    settleArrivals(m_busyUntil); // what came while it was busy
    if (m_fifo.empty()) {
        if (m_wire.empty() || m_wire.front().at > now)
            return std::nullopt;
        settleArrivals(m_wire.front().at); // idle: it takes the next byte as it comes
    }
    const Byte b = m_fifo.front();
    m_fifo.pop_front();
    return Taken{b.byte, std::max(b.at, m_busyUntil)};
}

BusyLoaderInput::Clock::time_point BusyLoaderInput::nextEvent() const {
    Clock::time_point t = Clock::time_point::max();
    if (!m_fifo.empty())
        t = std::max(m_busyUntil, m_fifo.front().at);
    if (!m_wire.empty())
        t = std::min(t, std::max(m_busyUntil, m_wire.front().at));
    return t;
}

} // namespace stbsim
