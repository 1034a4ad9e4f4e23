#pragma once
// The blind dialogue with the receiver's console: send, wait a fixed number of 55 ms ticks
// while the window keeps working, then look at what the response watcher noticed meanwhile.
// These are the seams the receiver procedures are written against; the real port, the real
// tick wait and the wait dialog plug in behind them, tests plug in stand-ins.
#include "core/busy_indicator.h"
#include "core/console_port.h"
#include "core/ticker.h"
#include "serial/response_watcher.h"

#include <QByteArray>
#include <QString>

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
