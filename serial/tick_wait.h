#pragma once
// The 55 ms tick wait behind WaitTicks. Ticks come from a 32-bit millisecond count divided by
// 55, so a wait is aligned to tick boundaries: it ends at the first tick boundary after
// start + ticks × 55 ms, i.e. it lasts from just over ticks × 55 ms up to (ticks + 1) × 55 ms.
// The real wait runs a nested event loop that sleeps until the next event or the deadline,
// so windows keep working without keeping a processor busy.
#include "serial/console_dialogue.h"

#include <QtGlobal>

// A 32-bit millisecond count; it wraps after about 49.7 days.
class TickClock {
public:
    virtual ~TickClock() = default;
    virtual quint32 milliseconds() = 0;
};

// The monotonic system clock, truncated to 32 bits.
class SteadyTickClock : public TickClock {
public:
    quint32 milliseconds() override;
};

namespace tickwait {

inline constexpr quint32 kTickMs = 55;
// ⌊2^31 / 55⌋: the longest wait, about 24.8 days.
inline constexpr qint32 kMaxTicks = 39045157;
// Number of distinct tick values before the 32-bit millisecond count wraps (0 .. 78090314).
inline constexpr quint32 kTickPeriod = 0xFFFFFFFFu / kTickMs + 1;

inline quint32 tickOf(quint32 ms) {
    return ms / kTickMs;
}

// Ticks actually waited for a request: < 1 → 0 (no wait at all), else capped at kMaxTicks.
inline qint32 effectiveTicks(qint32 ticks) {
    return ticks < 1 ? 0 : (ticks > kMaxTicks ? kMaxTicks : ticks);
}

// True once the wait that started at tick `start` and expires after tick `expire`
// (start + ticks, possibly beyond the wrap point) is over at tick `current`. After the
// clock has wrapped (current < start) the current tick is counted one full period on.
bool expired(quint32 start, quint32 expire, quint32 current);

} // namespace tickwait

// The real WaitTicks on the calling thread's event loop (the UI thread). Events, timers and
// cross-thread calls are handled while it waits; nested waits are fine.
// A quit request (QCoreApplication::exit/quit) ends the wait at once; the request stays in
// force, so the main loop still ends once the handler that waited returns, and every
// further wait before then returns at once as well.
class EventLoopTicker : public Ticker {
public:
    EventLoopTicker() = default;
    explicit EventLoopTicker(TickClock& clock) : m_clock(&clock) {}
    void WaitTicks(int ticks) override;

private:
    SteadyTickClock m_steady;
    TickClock* m_clock = &m_steady;
};
