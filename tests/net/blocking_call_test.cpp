// Blocking work on a worker thread while the calling thread keeps handling its events.
#include "net/blocking_call.h"

#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>

namespace {

TEST(runWithoutUserInput, EventsKeepFlowingWhileTheWorkRunsElsewhere) {
    std::mutex mutex;
    std::condition_variable ticked;
    int ticks = 0; // guarded by mutex
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        {
            std::lock_guard lock(mutex);
            ++ticks;
        }
        ticked.notify_all();
    });
    timer.start();
    Qt::HANDLE workerThread = nullptr;
    int value = 0;
    runWithoutUserInput([&] {
        workerThread = QThread::currentThreadId();
        // The work lasts until the caller's timer has run a few times (at most 10 s).
        std::unique_lock lock(mutex);
        ticked.wait_for(lock, std::chrono::seconds(10), [&] { return ticks >= 5; });
        value = 42;
    });
    EXPECT_EQ(value, 42);
    EXPECT_NE(workerThread, QThread::currentThreadId());
    std::lock_guard lock(mutex);
    EXPECT_GE(ticks, 5) << "the calling thread must keep handling its timers";
}

TEST(runWithoutUserInput, QuickWorkAndExceptions) {
    // Work that ends before the wait begins must not leave the caller waiting.
    bool ran = false;
    runWithoutUserInput([&] { ran = true; });
    EXPECT_TRUE(ran);
    try {
        runWithoutUserInput([] { throw std::runtime_error("Verbindung abgelehnt"); });
        FAIL() << "the exception must reach the caller";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Verbindung abgelehnt");
    }
}

} // namespace
