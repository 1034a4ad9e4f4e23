#pragma once
// The port's receive buffer: a ring of 8192 bytes with one read cursor per consumer.
// Positions are absolute byte counts since the port opened (64-bit, they never wrap), so a
// full ring (write − read == capacity) and an empty one (write == read) never look alike
// and no separate "full" marker is needed. The read position is the slowest cursor: space
// is free again only once every consumer has taken a byte.
//
// Not thread-safe by itself: the port guards it with its receive lock. The one exception is
// the region returned by writableRegion(): no reader looks past the write position, so the
// producer may fill that region without the lock and then commit() under it.
#include <QByteArray>
#include <QtGlobal>

#include <map>
#include <span>

class ReceiveBuffer {
public:
    static constexpr qsizetype kCapacity = 8192;

    ReceiveBuffer();

    quint64 writePos() const { return m_write; }
    // The slowest cursor; the write position when there is no cursor.
    quint64 readPos() const;
    qsizetype unread() const { return qsizetype(m_write - readPos()); }
    qsizetype freeRoom() const { return kCapacity - unread(); }
    bool full() const { return freeRoom() == 0; }

    // Copies as much of data as fits; returns the count copied.
    qsizetype append(const char* data, qsizetype size);
    // The contiguous free space after the write position (empty when full).
    std::span<char> writableRegion();
    // Makes n bytes of the writable region readable; n must not exceed its size.
    void commit(qsizetype n);

    // Cursor ids are chosen by the caller; a new cursor starts at the write position.
    void addCursor(int id);
    void removeCursor(int id);
    bool hasCursor(int id) const { return m_cursors.count(id) != 0; }
    quint64 cursor(int id) const;      // 0 for an unknown id
    qsizetype unreadFor(int id) const; // bytes past that cursor
    QByteArray peek(int id, qsizetype maxBytes) const;
    // The same bytes into out, reusing its storage (out is emptied for an unknown id).
    void peekInto(int id, qsizetype maxBytes, QByteArray& out) const;
    // Moves the cursor on by n, clamped to the bytes it has not read.
    void advance(int id, qsizetype n);
    // Takes up to maxBytes from the cursor into out; returns how many.
    qsizetype take(int id, char* out, qsizetype maxBytes);

private:
    void copyOut(quint64 pos, qsizetype n, char* to) const;

    QByteArray m_ring;
    quint64 m_write = 0;
    std::map<int, quint64> m_cursors;
};
