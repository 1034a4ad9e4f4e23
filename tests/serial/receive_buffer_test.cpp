#include "serial/port_device.h"
#include "serial/port_errors.h"
#include "serial/receive_buffer.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

TEST(ReceiveBuffer, ReadPositionIsTheSlowestCursor) {
    ReceiveBuffer b;
    b.addCursor(1);
    b.addCursor(2);
    ASSERT_EQ(b.append("abcde", 5), 5);
    EXPECT_EQ(b.unread(), 5);
    b.advance(1, 5);
    EXPECT_EQ(b.readPos(), 0u); // the other consumer has not had its turn
    b.advance(2, 5);
    EXPECT_EQ(b.readPos(), 5u); // both took the same five bytes: 5, not 10
    EXPECT_EQ(b.unread(), 0);
    b.advance(2, 3); // nothing left to take
    EXPECT_EQ(b.cursor(2), 5u);
}

TEST(ReceiveBuffer, FullAndEmptyAreDistinctAndWrapKeepsOrder) {
    ReceiveBuffer b;
    b.addCursor(1);
    QByteArray first(ReceiveBuffer::kCapacity - 3, 'a');
    ASSERT_EQ(b.append(first.constData(), first.size()), first.size());
    b.advance(1, first.size() - 2); // two 'a' left, room for the wrap
    QByteArray more("0123456789");
    EXPECT_EQ(b.append(more.constData(), more.size()), more.size());
    EXPECT_EQ(b.peek(1, 100), QByteArray("aa0123456789"));
    // Fill completely: a full ring must not read as empty.
    QByteArray fill(b.freeRoom() + 10, 'z');
    EXPECT_EQ(b.append(fill.constData(), fill.size()), fill.size() - 10);
    EXPECT_TRUE(b.full());
    EXPECT_EQ(b.unread(), ReceiveBuffer::kCapacity);
    EXPECT_TRUE(b.writableRegion().empty());
    char taken[6] = {};
    ASSERT_EQ(b.take(1, taken, 6), 6); // the last one from the ring's start
    EXPECT_EQ(QByteArray(taken, 6), QByteArray("aa0123"));
    EXPECT_FALSE(b.full());
}

TEST(ReceiveBuffer, NewCursorStartsAtTheWritePositionAndRemovalFreesRoom) {
    ReceiveBuffer b;
    b.addCursor(1);
    b.append("old", 3);
    b.addCursor(2);
    EXPECT_EQ(b.unreadFor(2), 0);
    b.append("new", 3);
    EXPECT_EQ(b.peek(2, 10), QByteArray("new"));
    EXPECT_EQ(b.unread(), 6);
    b.removeCursor(1);
    EXPECT_EQ(b.unread(), 3);
    char c = 0;
    EXPECT_EQ(b.take(7, &c, 1), 0); // unknown cursor
}

struct ErrnoCase {
    int err;
    int code;
    const char* text; // contained in the message
};

TEST(OpenErrors, EachErrnoGetsItsClassCodeAndText) {
    const ErrnoCase cases[] = {
        {ENOENT, -2001, "Specified comport doesn't exist"},
        {ENXIO, -2001, "Specified comport doesn't exist"},
        {ENODEV, -2001, "Specified comport doesn't exist"},
        {EBUSY, -2008, "Device already open"},
        {EWOULDBLOCK, -2008, "Device already open"},
        {EACCES, -EACCES, "dialout"},
        {ENOTTY, -ENOTTY, "not a serial device"},
        {EIO, -EIO, "/dev/ttyUSB9"},
    };
    for (const ErrnoCase& c : cases) {
        try {
            throwOpenError(c.err, QStringLiteral("/dev/ttyUSB9"));
            ADD_FAILURE() << "no throw for " << c.err;
        } catch (const EPortException& e) {
            EXPECT_EQ(e.code(), c.code) << c.err;
            EXPECT_TRUE(e.message().contains(QLatin1String(c.text)))
                << c.err << ": " << e.message().toStdString();
        }
    }
    // Every open error names the device.
    for (int err : {ENOENT, EBUSY, EACCES, ENOTTY, EIO}) {
        try {
            throwOpenError(err, QStringLiteral("/dev/ttyUSB9"));
        } catch (const EPortException& e) {
            EXPECT_TRUE(e.message().contains(QLatin1String("/dev/ttyUSB9"))) << err;
        }
    }
    EXPECT_THROW(throwOpenError(ENOENT, QString()), EBadId);
    EXPECT_THROW(throwOpenError(EBUSY, QString()), EAlreadyOpen);
    EXPECT_THROW(throwOpenError(EACCES, QString()), EInOutError);
}

TEST(OpenErrors, GenericExceptionHasThePortExceptionText) {
    const EPortException e(-42);
    EXPECT_EQ(e.message(), QStringLiteral("Port exception"));
    EXPECT_STREQ(e.what(), "Port exception");
}

} // namespace
