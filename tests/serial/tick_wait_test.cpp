#include "serial/tick_wait.h"
#include "tests/support/recording_clock.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <vector>

namespace {

using tickwait::expired;
using tickwait::kMaxTicks;
using tickwait::kTickPeriod;

TEST(TickArithmetic, RequestsBelowOneWaitNothingAndLongOnesAreCapped) {
    EXPECT_EQ(tickwait::effectiveTicks(0), 0);
    EXPECT_EQ(tickwait::effectiveTicks(-3), 0);
    EXPECT_EQ(tickwait::effectiveTicks(1), 1);
    EXPECT_EQ(tickwait::effectiveTicks(39045157), 39045157);
    EXPECT_EQ(tickwait::effectiveTicks(39045158), kMaxTicks);
    EXPECT_EQ(tickwait::effectiveTicks(0x7fffffff), kMaxTicks);
    EXPECT_EQ(kTickPeriod, 78090315u);
}

TEST(TickArithmetic, ExpiresAfterTheLastTickWithoutWrap) {
    EXPECT_FALSE(expired(100, 108, 100));
    EXPECT_FALSE(expired(100, 108, 108));
    EXPECT_TRUE(expired(100, 108, 109));
}

TEST(TickArithmetic, WaitAcrossTheClockWrapKeepsItsLength) {
    // Started 3 ticks before the wrap, 8 ticks long: over when tick 6 after the wrap begins,
    // exactly as it would be without the wrap (start + 8 + 1).
    const quint32 start = kTickPeriod - 3;
    const quint32 expire = start + 8;
    EXPECT_FALSE(expired(start, expire, kTickPeriod - 1));
    EXPECT_FALSE(expired(start, expire, 0));
    EXPECT_FALSE(expired(start, expire, 5));
    EXPECT_TRUE(expired(start, expire, 6));
    // The longest wait started just before the wrap still ends after its full length.
    const quint32 longExpire = start + quint32(kMaxTicks);
    EXPECT_FALSE(expired(start, longExpire, 1000));
    EXPECT_TRUE(expired(start, longExpire, longExpire - kTickPeriod + 1));
}

TEST(EventLoopTicker, ZeroAndNegativeReturnAtOnceWithoutHandlingEvents) {
    EventLoopTicker ticker;
    bool ran = false;
    QTimer::singleShot(0, [&] { ran = true; });
    QElapsedTimer t;
    t.start();
    ticker.WaitTicks(0);
    ticker.WaitTicks(-3);
    EXPECT_LT(t.elapsed(), 20);
    EXPECT_FALSE(ran);
    QCoreApplication::processEvents();
    EXPECT_TRUE(ran);
}

// These waits are the real ticker on the real clock, so they take real time; their end is
// checked in ticks, on the clock the ticker itself read.
TEST(EventLoopTicker, EightTicksEndInTheFirstTickAfterThemWhileEventsRun) {
    RecordingClock clock;
    EventLoopTicker ticker(clock);
    int timerRuns = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++timerRuns; });
    timer.start(20);
    for (int round = 0; round < 3; ++round) {
        clock.readings.clear();
        ticker.WaitTicks(8);
        EXPECT_EQ(clock.ticksWaited(), 9u) << "round " << round;
        EXPECT_GE(clock.msWaited(), 440u) << "round " << round;
    }
    EXPECT_GT(timerRuns, 30);
}

TEST(EventLoopTicker, WrapDuringAWaitDoesNotStretchIt) {
    // 4 ticks started 100 ms before the millisecond count wraps: the last tick before the
    // wrap is 29 ms short, so the wait ends in the fifth tick after its start, never hours on.
    RecordingClock clock(100);
    EventLoopTicker ticker(clock);
    ticker.WaitTicks(4);
    EXPECT_LT(clock.readings.back(), clock.readings.front()); // the clock did wrap
    EXPECT_EQ(clock.ticksWaited(), 5u);
}

TEST(EventLoopTicker, QuitRequestEndsTheWaitAtOnceAndStillEndsTheLoop) {
    EventLoopTicker ticker;
    qint64 waited = -1;
    bool afterQuitReturnedAtOnce = false;
    QTimer::singleShot(0, [&] {
        QElapsedTimer t;
        t.start();
        ticker.WaitTicks(200); // 11 s unless the quit ends it
        waited = t.elapsed();
        QElapsedTimer again;
        again.start();
        ticker.WaitTicks(100); // the quit is still in force
        afterQuitReturnedAtOnce = again.elapsed() < 50;
    });
    QTimer::singleShot(100, [] { QCoreApplication::exit(7); });
    QElapsedTimer total;
    total.start();
    const int rc = QCoreApplication::exec();
    EXPECT_EQ(rc, 7);
    EXPECT_GE(waited, 90);
    EXPECT_LT(waited, 400);
    EXPECT_TRUE(afterQuitReturnedAtOnce);
    EXPECT_LT(total.elapsed(), 1000);

    // The quit belonged to that run: a new wait works normally afterwards.
    QElapsedTimer t;
    t.start();
    ticker.WaitTicks(2);
    EXPECT_GE(t.elapsed(), 110);
}

} // namespace
