#pragma once
// The hand-over of received bytes from the serial port's thread to the UI thread. The port
// side appends and learns whether it must post a drain request (only the first append after
// a drain does, so a burst costs one posted event); the UI side takes everything at once by
// swapping buffers, so neither side holds the lock for more than a copy or a swap.
#include <mutex>
#include <string>

namespace terminal {

class ReceiveQueue {
public:
    // Any thread. Returns true when the caller must post a drain request: no request is
    // outstanding since the last takeAll(). Nothing is lost, doubled or reordered.
    bool append(const char* data, std::size_t size) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_bytes.append(data, size);
        const bool post = !m_drainPending;
        m_drainPending = true;
        return post;
    }

    // The draining thread: everything queued so far, in order; re-arms the drain request
    // unless the drainer will come back by itself (holdRequests()).
    std::string takeAll(bool keepHolding = false) {
        std::string out;
        std::lock_guard<std::mutex> lock(m_lock);
        out.swap(m_bytes);
        m_drainPending = keepHolding;
        return out;
    }

    // The draining thread: appends stop asking for drain requests until the next takeAll()
    // that does not keep holding. For a drainer that has a wake-up of its own coming.
    void holdRequests() {
        std::lock_guard<std::mutex> lock(m_lock);
        m_drainPending = true;
    }

private:
    std::mutex m_lock;
    std::string m_bytes;         // guarded by m_lock
    bool m_drainPending = false; // guarded by m_lock
};

} // namespace terminal
