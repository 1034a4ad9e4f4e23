// How the data-available event meets the UI thread: one at a time while a handler runs
// within the delivery limit, nested once a handler outlasts it, and never a byte lost,
// doubled or reordered either way.
#include "serial/com_port.h"
#include "tests/support/pty_pair.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace {

using stbtest::spinUntil;

// What a consumer took on the port's I/O thread, with a wait for it that handles no events,
// as the UI thread does while it is busy.
struct TakenBytes {
    std::mutex mutex;
    std::condition_variable grew;
    QByteArray bytes;

    qsizetype take(const QByteArray& b) {
        {
            std::lock_guard lock(mutex);
            bytes += b;
        }
        grew.notify_all();
        return b.size();
    }
    bool waitFor(const QByteArray& expected) {
        std::unique_lock lock(mutex);
        return grew.wait_for(lock, std::chrono::seconds(10), [&] { return bytes == expected; });
    }
    QByteArray get() {
        std::lock_guard lock(mutex);
        return bytes;
    }
};

// Looks at done until it holds (at most 10 s) without handling events, as a busy UI thread.
bool waitWithoutEvents(const std::function<bool()>& done) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < 10000)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return done();
}

// Keeps handling events for ms milliseconds, as a wait inside a handler does.
void waitHandlingEvents(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct NestingRecorder {
    TComPort port;
    QByteArray seen;
    int depth = 0;
    int maxDepth = 0;
    int calls = 0;
    // The first handler call writes more input and then keeps handling events for holdMs.
    NestingRecorder(PtyPair& pty, int holdMs, int limitMs) {
        port.setDeliveryLimitMs(limitMs);
        port.setOnTriggerAvail([this, &pty, holdMs](TComPort& sender, quint16 count) {
            ++depth;
            maxDepth = std::max(maxDepth, depth);
            const bool first = calls++ == 0;
            for (int i = 0; i < count; ++i) {
                seen += sender.ReadChar();
                if (first && i == 0) {
                    pty.write("-more input-");
                    waitHandlingEvents(holdMs);
                }
            }
            --depth;
        });
        port.setDevicePath(pty.path());
        port.Open();
    }
};

TEST(Delivery, NoSecondEventInsideAHandlerWithinTheLimit) {
    PtyPair pty;
    NestingRecorder r(pty, 400, 3000);
    ASSERT_TRUE(pty.write("ab"));
    ASSERT_TRUE(spinUntil([&] { return r.seen.size() >= 14; }));
    EXPECT_EQ(r.maxDepth, 1);
    EXPECT_EQ(r.seen, QByteArray("ab-more input-"));
    EXPECT_GE(r.calls, 2);
}

TEST(Delivery, HandlerOutlastingTheLimitLetsLaterInputInNestedAndInOrder) {
    PtyPair pty;
    NestingRecorder r(pty, 600, 100);
    ASSERT_TRUE(pty.write("ab"));
    ASSERT_TRUE(spinUntil([&] { return r.seen.size() >= 14; }));
    // The input written during the long first handler was handled inside it (nested), and
    // all handlers together read the bytes exactly once and in the order they came: the
    // nested one continues where the outer one stopped, the outer one takes what is left.
    EXPECT_EQ(r.maxDepth, 2);
    EXPECT_EQ(r.seen, QByteArray("ab-more input-"));
}

TEST(Delivery, TerminalConsumerKeepsReceivingWhileTheUiThreadIsBlocked) {
    PtyPair pty;
    TComPort port;
    port.setDeliveryLimitMs(100);
    TakenBytes terminal;
    port.addConsumer([&](const QByteArray& b) { return terminal.take(b); });
    QByteArray watcher;
    port.setOnTriggerAvail([&](TComPort& s, quint16 count) {
        for (int i = 0; i < count; ++i)
            watcher += s.ReadChar();
    });
    port.setDevicePath(pty.path());
    port.Open();
    // From here the UI thread handles nothing until the end.
    ASSERT_TRUE(pty.write("first"));
    ASSERT_TRUE(terminal.waitFor("first"));
    // Real time: the port gives up waiting for the blocked UI thread only once its delivery
    // limit has passed, and input after that is what this is about.
    QThread::msleep(port.deliveryLimitMs() + 20);
    ASSERT_TRUE(pty.write("second"));
    EXPECT_TRUE(terminal.waitFor("firstsecond"));
    EXPECT_TRUE(watcher.isEmpty());
    ASSERT_TRUE(spinUntil([&] { return watcher.size() >= 11; }));
    EXPECT_EQ(watcher, QByteArray("firstsecond"));
}

TEST(Delivery, InputArrivingDuringAHandlerComesAsOneEventInOrder) {
    PtyPair pty;
    TComPort port;
    TakenBytes terminal;
    port.addConsumer([&](const QByteArray& b) { return terminal.take(b); });
    QList<int> counts;
    QByteArray seen;
    port.setOnTriggerAvail([&](TComPort& s, quint16 count) {
        counts.append(count);
        for (int i = 0; i < count; ++i)
            seen += s.ReadChar();
        if (counts.size() == 1) {
            // Three separate reads on the port's side while this handler still runs: each
            // piece is in the port's buffer before the next is written.
            qsizetype expected = s.unreadCount();
            for (const QByteArray piece : {"1-", "22-", "333-"}) {
                pty.write(piece);
                expected += piece.size();
                waitWithoutEvents([&] { return s.unreadCount() >= expected; });
            }
        }
    });
    port.setDevicePath(pty.path());
    port.Open();
    ASSERT_TRUE(pty.write("ab"));
    ASSERT_TRUE(spinUntil([&] { return seen.size() >= 11; }));
    EXPECT_EQ(counts, (QList<int>{2, 9}));
    EXPECT_EQ(seen, QByteArray("ab1-22-333-"));
    EXPECT_EQ(terminal.get(), QByteArray("ab1-22-333-"));
    EXPECT_EQ(port.unreadCount(), 0); // both consumers took all: the read position moved once
}

TEST(Delivery, BytesAHandlerLeftAreOfferedAgainWithoutNewInput) {
    PtyPair pty;
    TComPort port;
    QList<int> counts;
    QByteArray seen;
    port.setOnTriggerAvail([&](TComPort& s, quint16 count) {
        counts.append(count);
        seen += s.ReadChar(); // one byte a call, whatever Count says
    });
    port.setDevicePath(pty.path());
    port.Open();
    ASSERT_TRUE(pty.write("xyz"));
    ASSERT_TRUE(spinUntil([&] { return seen.size() >= 3; }));
    EXPECT_EQ(seen, QByteArray("xyz"));
    EXPECT_EQ(counts, (QList<int>{3, 2, 1}));
}

TEST(Delivery, ClosingInsideAHandlerEndsItsReadsQuietly) {
    PtyPair pty;
    TComPort port;
    QList<char> got;
    port.setOnTriggerAvail([&](TComPort& s, quint16 count) {
        got.append(s.ReadChar());
        s.Close();
        for (int i = 1; i < count; ++i)
            got.append(s.ReadChar()); // the port is gone: 0, no throw
    });
    port.setDevicePath(pty.path());
    port.Open();
    ASSERT_TRUE(pty.write("xyz"));
    ASSERT_TRUE(spinUntil([&] { return !port.isOpen(); }));
    ASSERT_FALSE(got.isEmpty());
    EXPECT_EQ(got[0], 'x');
    for (int i = 1; i < got.size(); ++i)
        EXPECT_EQ(got[i], '\0');
}

} // namespace
