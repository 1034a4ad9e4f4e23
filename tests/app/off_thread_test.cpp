// Blocking work on a worker thread while events keep flowing on the calling thread.
#include "app/off_thread.h"

#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

TEST(RunKeepingEventsFlowing, EventsKeepFlowingAndTheResultComesBack) {
    int ticks = 0;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start();
    Qt::HANDLE workerThread = nullptr;
    const int value = RunKeepingEventsFlowing([&] {
        workerThread = QThread::currentThreadId();
        QThread::msleep(200);
        return 42;
    });
    EXPECT_EQ(value, 42);
    EXPECT_NE(workerThread, QThread::currentThreadId());
    EXPECT_GE(ticks, 5) << "the calling thread must keep handling its timers";
}

TEST(RunKeepingEventsFlowing, QuickWorkVoidWorkAndExceptions) {
    // Work that ends before the wait begins must not leave the caller waiting.
    EXPECT_EQ(RunKeepingEventsFlowing([] { return QString("x"); }), "x");
    bool ran = false;
    RunKeepingEventsFlowing([&] { ran = true; });
    EXPECT_TRUE(ran);
    try {
        RunKeepingEventsFlowing([]() -> int { throw std::runtime_error("Verbindung abgelehnt"); });
        FAIL() << "the exception must reach the caller";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Verbindung abgelehnt");
    }
}

} // namespace
