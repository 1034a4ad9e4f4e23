#include "serial/tick_wait.h"

#include <QEventLoop>
#include <QTimer>

#include <chrono>

quint32 SteadyTickClock::milliseconds() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<quint32>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

namespace tickwait {

bool expired(quint32 start, quint32 expire, quint32 current) {
    if (current > expire)
        return true;
    // The tick count restarts at 0 when the millisecond count wraps; a wait that straddles
    // that point must still end after its own length, not after another half period.
    return current < start && quint64(current) + kTickPeriod > expire;
}

} // namespace tickwait

void EventLoopTicker::WaitTicks(int ticks) {
    const qint32 n = tickwait::effectiveTicks(ticks);
    if (n == 0)
        return;
    const quint32 start = tickwait::tickOf(m_clock->milliseconds());
    const quint32 expire = start + quint32(n);

    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);

    // Sleeps until the first millisecond of tick expire + 1 (or at most a second, so a clock
    // wrap during a long wait is noticed), then checks again.
    const auto arm = [&] {
        const quint32 nowMs = m_clock->milliseconds();
        quint64 targetTick = quint64(expire) + 1;
        if (tickwait::tickOf(nowMs) < start && targetTick > tickwait::kTickPeriod)
            targetTick -= tickwait::kTickPeriod; // the clock has wrapped meanwhile
        const quint64 targetMs = targetTick * tickwait::kTickMs;
        quint64 delay = targetMs > nowMs ? targetMs - nowMs : 1;
        if (delay > 1000)
            delay = 1000;
        timer.start(int(delay));
    };
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        if (tickwait::expired(start, expire, tickwait::tickOf(m_clock->milliseconds()))) {
            loop.quit();
        } else {
            arm();
        }
    });
    arm();
    // exec() returns early only when the application was asked to quit: it then leaves
    // every running event loop and refuses new ones until the main loop has ended.
    loop.exec();
}
