#pragma once
// The dialogue with the receiver's serial console as a receiver channel: send, wait a number
// of 55 ms ticks while the window keeps working, then look at what the response watcher
// noticed meanwhile. The real port, the real tick wait and the wait dialog plug in behind
// these seams, tests plug in stand-ins.
#include "core/busy_indicator.h"
#include "core/console_port.h"
#include "core/receiver_channel.h"
#include "core/ticker.h"
#include "serial/response_watcher.h"

#include <QByteArray>
#include <QString>

#include <functional>

class ConsoleDialogue : public ReceiverChannel, public ImageFetchWatch {
public:
    // What the console waits after a send, on top of the settle delay.
    static constexpr int kAnswerTicks = 8;

    ConsoleDialogue(ConsolePort& port, Ticker& ticker, ResponseWatcher& watcher, int settleDelay)
        : m_port(port), m_ticker(ticker), m_watcher(watcher), m_settleDelay(settleDelay) {}

    // Clears RxLine, writes text unchanged (no "\r" added), waits settleDelay + 8 ticks.
    // A port failure propagates before the wait.
    void SendConsole(const QByteArray& text);

    // The line and CR, as SendConsole sends it.
    void sendLine(const QString& line) override;
    // Clears RxLine and writes keys: RxLine holds only the answer to them.
    void sendKeys(const QByteArray& keys) override;
    void waitTicks(int ticks) override { m_ticker.WaitTicks(ticks); }
    int settleDelay() const override { return m_settleDelay; }
    int answerTicks() const override { return kAnswerTicks; }
    // The watcher's four texts ("start.sh", "ifconfig", "/config #", "hello") are its Seen
    // flags, which last until the next expect(); any other text is looked for in RxLine, the
    // line being printed since the last send.
    void expect(const QString& text) override;
    bool seen(const QString& text) const override;
    const LineHook& lineCompleted() const override { return m_watcher.hooks().lineCompleted; }
    void setLineCompleted(LineHook hook) override { m_watcher.setLineCompleted(std::move(hook)); }

    void watchImageTransfer(const QString& sizeText, std::function<void()> finished,
                            std::function<void()> aborted) override;

    ResponseWatcher& watcher() { return m_watcher; }
    void setSettleDelay(int ticks) { m_settleDelay = ticks; }

private:
    ConsolePort& m_port;
    Ticker& m_ticker;
    ResponseWatcher& m_watcher;
    int m_settleDelay;
};

// Ctrl-C then "echo hello\r"; true when "hello" came back. Never throws; the indicator is
// closed in every case. Writes no log entry and shows no box.
bool CheckSerialLink(ReceiverChannel& console, BusyIndicator& busy);
