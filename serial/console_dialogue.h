#pragma once
// The blind dialogue with the receiver's console: send, wait a fixed number of 55 ms ticks
// while the window keeps working, then look at what the response watcher noticed meanwhile.
// These are the seams the receiver procedures are written against; the real port, the real
// tick wait and the wait dialog plug in behind them, tests plug in fakes.
#include "serial/response_watcher.h"

#include <QByteArray>
#include <QString>

// SettleDelay + a fixed number of ticks. A huge Delay in the settings must not overflow into
// a negative (= no) wait; WaitTicks caps the result anyway.
inline int SettleTicks(int settleDelay, int fixedTicks) {
    const long long sum = static_cast<long long>(settleDelay) + fixedTicks;
    return sum > 2147483647LL ? 2147483647 : static_cast<int>(sum);
}

// Where console bytes go. The real one queues on the serial port and may throw an
// EPortException (open failure, vanished device).
class ConsolePort {
public:
    virtual ~ConsolePort() = default;
    virtual void WriteText(const QByteArray& bytes) = 0;
};

// WaitTicks: ticks < 1 returns at once; otherwise waits from just over ticks × 55 ms up to
// (ticks + 1) × 55 ms while events keep being handled. The real one runs a nested event loop.
class Ticker {
public:
    virtual ~Ticker() = default;
    virtual void WaitTicks(int ticks) = 0;
};

// The wait dialog as a check sees it: shown with a text, closed afterwards.
class BusyIndicator {
public:
    virtual ~BusyIndicator() = default;
    virtual void showBusy(const QString& text) = 0; // shows and lets it paint once
    virtual void hideBusy() = 0;
};

class ConsoleDialogue {
public:
    ConsoleDialogue(ConsolePort& port, Ticker& ticker, ResponseWatcher& watcher, int settleDelay)
        : m_port(port), m_ticker(ticker), m_watcher(watcher), m_settleDelay(settleDelay) {}

    // Clears RxLine, writes text unchanged (no "\r" added), waits settleDelay + 8 ticks.
    // A port failure propagates before the wait.
    void SendConsole(const QByteArray& text);
    void WaitTicks(int ticks) { m_ticker.WaitTicks(ticks); }

    ResponseWatcher& watcher() { return m_watcher; }
    ConsolePort& port() { return m_port; }
    int settleDelay() const { return m_settleDelay; }
    void setSettleDelay(int ticks) { m_settleDelay = ticks; }

private:
    ConsolePort& m_port;
    Ticker& m_ticker;
    ResponseWatcher& m_watcher;
    int m_settleDelay;
};

// Ctrl-C then "echo hello\r"; true when SeenHello was raised. Never throws; the indicator
// is closed in every case. Writes no log entry and shows no box.
bool CheckSerialLink(ConsoleDialogue& console, BusyIndicator& busy);
