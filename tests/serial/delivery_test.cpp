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

namespace {

using stbtest::spinUntil;

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
    std::mutex m;
    QByteArray terminal;
    port.addConsumer([&](const QByteArray& b) {
        std::lock_guard lock(m);
        terminal += b;
        return b.size();
    });
    QByteArray watcher;
    port.setOnTriggerAvail([&](TComPort& s, quint16 count) {
        for (int i = 0; i < count; ++i)
            watcher += s.ReadChar();
    });
    port.setDevicePath(pty.path());
    port.Open();
    ASSERT_TRUE(pty.write("first"));
    QThread::msleep(300); // the UI thread handles nothing
    ASSERT_TRUE(pty.write("second"));
    QThread::msleep(300);
    {
        std::lock_guard lock(m);
        EXPECT_EQ(terminal, QByteArray("firstsecond"));
    }
    EXPECT_TRUE(watcher.isEmpty());
    ASSERT_TRUE(spinUntil([&] { return watcher.size() >= 11; }));
    EXPECT_EQ(watcher, QByteArray("firstsecond"));
}

TEST(Delivery, InputArrivingDuringAHandlerComesAsOneEventInOrder) {
    PtyPair pty;
    TComPort port;
    std::mutex m;
    QByteArray terminal;
    port.addConsumer([&](const QByteArray& b) {
        std::lock_guard lock(m);
        terminal += b;
        return b.size();
    });
    QList<int> counts;
    QByteArray seen;
    port.setOnTriggerAvail([&](TComPort& s, quint16 count) {
        counts.append(count);
        for (int i = 0; i < count; ++i)
            seen += s.ReadChar();
        if (counts.size() == 1) {
            // Three separate reads on the port's side while this handler still runs.
            for (const char* piece : {"1-", "22-", "333-"}) {
                pty.write(piece);
                QThread::msleep(40);
            }
        }
    });
    port.setDevicePath(pty.path());
    port.Open();
    ASSERT_TRUE(pty.write("ab"));
    ASSERT_TRUE(spinUntil([&] { return seen.size() >= 11; }));
    EXPECT_EQ(counts, (QList<int>{2, 9}));
    EXPECT_EQ(seen, QByteArray("ab1-22-333-"));
    std::lock_guard lock(m);
    EXPECT_EQ(terminal, QByteArray("ab1-22-333-"));
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
