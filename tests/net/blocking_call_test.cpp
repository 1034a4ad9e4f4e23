// Blocking work on a worker thread while the calling thread keeps handling its events.
#include "net/blocking_call.h"

#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

TEST(RunWithoutUserInput, EventsKeepFlowingWhileTheWorkRunsElsewhere) {
    int ticks = 0;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start();
    Qt::HANDLE workerThread = nullptr;
    int value = 0;
    RunWithoutUserInput([&] {
        workerThread = QThread::currentThreadId();
        QThread::msleep(200);
        value = 42;
    });
    EXPECT_EQ(value, 42);
    EXPECT_NE(workerThread, QThread::currentThreadId());
    EXPECT_GE(ticks, 5) << "the calling thread must keep handling its timers";
}

TEST(RunWithoutUserInput, QuickWorkAndExceptions) {
    // Work that ends before the wait begins must not leave the caller waiting.
    bool ran = false;
    RunWithoutUserInput([&] { ran = true; });
    EXPECT_TRUE(ran);
    try {
        RunWithoutUserInput([] { throw std::runtime_error("Verbindung abgelehnt"); });
        FAIL() << "the exception must reach the caller";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Verbindung abgelehnt");
    }
}

} // namespace
