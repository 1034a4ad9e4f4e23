#pragma once
// The real clock, optionally shifted so that it wraps shortly after the test starts, keeping
// every reading: the first is the wait's start, the last the look that ended it, so a test
// can check the end in the ticker's own ticks rather than against a stopwatch.
#include "serial/tick_wait.h"

#include <vector>

class RecordingClock : public TickClock {
public:
    RecordingClock() = default;
    explicit RecordingClock(quint32 msBeforeWrap) {
        m_offset = 0u - msBeforeWrap - m_real.milliseconds();
    }
    quint32 milliseconds() override {
        readings.push_back(m_real.milliseconds() + m_offset);
        return readings.back();
    }
    // Ticks from the wait's start to the look that ended it, counted across a wrap.
    quint32 ticksWaited() const {
        const quint32 start = tickwait::tickOf(readings.front());
        const quint32 end = tickwait::tickOf(readings.back());
        return end >= start ? end - start : end + tickwait::kTickPeriod - start;
    }
    quint32 msWaited() const { return readings.back() - readings.front(); }

    std::vector<quint32> readings;

private:
    SteadyTickClock m_real;
    quint32 m_offset = 0;
};
