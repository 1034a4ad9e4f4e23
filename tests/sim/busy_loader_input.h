#pragma once
// The receive side of a boot loader that polls its UART, in simulated time. Bytes come off
// the wire one character time apart (87 µs at 115200 baud, 8N1) into the UART's 16-byte
// FIFO; the loader takes the next one only when it is not busy. Echoing a character keeps it
// busy for that character's time on the wire; a command keeps it busy while it runs and while
// its output goes out. A byte that arrives at a full FIFO is lost, as on the real chip.
//
// A pseudo-terminal delivers a whole write at once, so arrive() stamps each byte with the
// time it would have taken on the wire; the owner then asks next() for the byte the loader
// takes, in time order, and reports how busy that made it.
#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>

namespace stbsim {

class BusyLoaderInput {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr auto kCharTime = std::chrono::microseconds(87);
    static constexpr std::size_t kFifoSize = 16;

    // Bytes read from the pty at now.
    void arrive(const char* bytes, std::size_t n, Clock::time_point now);
    // The next byte the loader takes by now, with the (simulated) time it takes it; the wire's
    // arrivals up to that time are settled first, dropping what overflows the FIFO.
    struct Taken {
        char byte;
        Clock::time_point at;
    };
    std::optional<Taken> next(Clock::time_point now);
    // The loader stays busy until at + busy (it took a byte at at and worked on it).
    void busyFrom(Clock::time_point at, Clock::duration busy) { m_busyUntil = at + busy; }
    // When next() may have something; Clock::time_point::max() when nothing is on its way.
    Clock::time_point nextEvent() const;
    std::size_t dropped() const { return m_dropped; }

private:
    struct Byte {
        char byte;
        Clock::time_point at;
    };
    void settleArrivals(Clock::time_point until);

    std::deque<Byte> m_wire; // sent, not yet arrived at the FIFO
    std::deque<Byte> m_fifo;
    Clock::time_point m_wireFree{}; // when the wire can carry the next byte
    Clock::time_point m_busyUntil{};
    std::size_t m_dropped = 0;
};

} // namespace stbsim
