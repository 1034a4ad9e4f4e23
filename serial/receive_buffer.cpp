#include "serial/receive_buffer.h"

#include <algorithm>
#include <cstring>

ReceiveBuffer::ReceiveBuffer() : m_ring(kCapacity, '\0') {}

quint64 ReceiveBuffer::readPos() const {
    quint64 slowest = m_write;
    for (const auto& [id, pos] : m_cursors)
        slowest = std::min(slowest, pos);
    return slowest;
}

qsizetype ReceiveBuffer::append(const char* data, qsizetype size) {
    qsizetype done = 0;
    while (done < size) {
        const std::span<char> region = writableRegion();
        if (region.empty())
            break;
        const qsizetype n = std::min<qsizetype>(qsizetype(region.size()), size - done);
        std::memcpy(region.data(), data + done, size_t(n));
        commit(n);
        done += n;
    }
    return done;
}

std::span<char> ReceiveBuffer::writableRegion() {
    const qsizetype room = freeRoom();
    if (room <= 0)
        return {};
    const qsizetype start = qsizetype(m_write % quint64(kCapacity));
    const qsizetype contiguous = std::min(room, kCapacity - start);
    return {m_ring.data() + start, size_t(contiguous)};
}

void ReceiveBuffer::commit(qsizetype n) {
    m_write += quint64(std::clamp<qsizetype>(n, 0, freeRoom()));
}

void ReceiveBuffer::addCursor(int id) {
    m_cursors[id] = m_write;
}

void ReceiveBuffer::removeCursor(int id) {
    m_cursors.erase(id);
}

quint64 ReceiveBuffer::cursor(int id) const {
    const auto it = m_cursors.find(id);
    return it == m_cursors.end() ? 0 : it->second;
}

qsizetype ReceiveBuffer::unreadFor(int id) const {
    const auto it = m_cursors.find(id);
    return it == m_cursors.end() ? 0 : qsizetype(m_write - it->second);
}

QByteArray ReceiveBuffer::peek(int id, qsizetype maxBytes) const {
    QByteArray out;
    peekInto(id, maxBytes, out);
    return out;
}

void ReceiveBuffer::peekInto(int id, qsizetype maxBytes, QByteArray& out) const {
    const auto it = m_cursors.find(id);
    const qsizetype n =
        it == m_cursors.end() ? 0 : std::min(maxBytes, qsizetype(m_write - it->second));
    out.resize(n); // keeps the capacity it has, so a steady stream allocates nothing
    if (n > 0)
        copyOut(it->second, n, out.data());
}

void ReceiveBuffer::copyOut(quint64 pos, qsizetype n, char* to) const {
    qsizetype left = n;
    while (left > 0) {
        const qsizetype start = qsizetype(pos % quint64(kCapacity));
        const qsizetype chunk = std::min(left, kCapacity - start);
        std::memcpy(to, m_ring.constData() + start, size_t(chunk));
        to += chunk;
        pos += quint64(chunk);
        left -= chunk;
    }
}

void ReceiveBuffer::advance(int id, qsizetype n) {
    const auto it = m_cursors.find(id);
    if (it == m_cursors.end() || n <= 0)
        return;
    it->second += quint64(std::min(n, qsizetype(m_write - it->second)));
}

qsizetype ReceiveBuffer::take(int id, char* out, qsizetype maxBytes) {
    const auto it = m_cursors.find(id);
    if (it == m_cursors.end() || maxBytes <= 0)
        return 0;
    const qsizetype n = std::min(maxBytes, qsizetype(m_write - it->second));
    copyOut(it->second, n, out);
    it->second += quint64(n);
    return n;
}
