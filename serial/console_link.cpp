#include "serial/console_link.h"

#include <QCoreApplication>

#include <chrono>

void feedConsoleWatcher(TComPort& port, ResponseWatcher& watcher, quint16 count) {
    // Letting the event loop run costs a poll of every descriptor it watches, several
    // microseconds, which at the console's line rate was most of the program's CPU. Feeding
    // a byte costs far less, so the loop gets its turn after the first byte (anything
    // waiting when the burst arrived runs before the burst is handled) and then whenever
    // kEventTurn has passed: an event arriving during a burst waits at most that long, well
    // inside the jitter of the thread being scheduled, and the window never freezes. The
    // bytes are taken a slice at a time, one lock of the port's buffer per slice.
    using Clock = std::chrono::steady_clock;
    constexpr auto kEventTurn = std::chrono::microseconds(500);
    constexpr qsizetype kSlice = 64;
    char slice[kSlice];
    Clock::time_point lastTurn;
    for (qsizetype done = 0; done < count;) {
        const qsizetype want = done == 0 ? 1 : std::min<qsizetype>(kSlice, count - done);
        const qsizetype n = port.ReadChars(slice, want);
        if (n == 0)
            return; // the port was closed meanwhile; its bytes are gone with it
        if (done == 0 || Clock::now() - lastTurn >= kEventTurn) {
            QCoreApplication::processEvents();
            lastTurn = Clock::now();
        }
        for (qsizetype i = 0; i < n; ++i)
            watcher.feed(slice[i]);
        done += n;
    }
}

SerialConsoleLink::SerialConsoleLink(TComPort& port, SessionLog& log, int settleDelay)
    : m_port(port), m_console(port), m_dialogue(m_console, m_ticker, m_watcher, settleDelay) {
    m_watcher.setLineCompleted([&log](const QString& line) { log.WriteLogEntry(line); });
    m_port.setOnTriggerAvail(
        [this](TComPort& sender, quint16 count) { feedConsoleWatcher(sender, m_watcher, count); });
}

SerialConsoleLink::~SerialConsoleLink() {
    m_port.setOnTriggerAvail(nullptr);
}
