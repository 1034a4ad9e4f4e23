#pragma once
// The dialogue over the telnet session as a receiver channel. The session's output is handed
// to received() block by block, as it came (the wiring does so beside the network view); the
// channel cuts it into lines and watches it for the download tool's finished bar and for the
// text a job expects. The session itself is opened and closed by its owner. UI thread only.
#include "core/download_watch.h"
#include "core/line_stream.h"
#include "core/receiver_channel.h"
#include "core/telnet_link.h"
#include "core/ticker.h"

#include <functional>

class TelnetChannel : public ReceiverChannel {
public:
    // What a send waits on top of the settle delay; the session's SendTelnet waits it itself.
    static constexpr int kAnswerTicks = 15;

    // settleDelay is read at each wait: the settings are read after the channel is made.
    TelnetChannel(TelnetLink& session, Ticker& ticker, std::function<int()> settleDelay)
        : m_session(session), m_ticker(ticker), m_settleDelay(std::move(settleDelay)) {}

    // The next block of the session's output.
    void received(const QString& text);

    // SendTelnet: the line, CR LF and the answer wait.
    void sendLine(const QString& line) override { m_session.SendTelnet(line); }
    // One SendTelnetChar per byte.
    void sendKeys(const QByteArray& keys) override;
    void waitTicks(int ticks) override { m_ticker.WaitTicks(ticks); }
    int settleDelay() const override { return m_settleDelay ? m_settleDelay() : 0; }
    int answerTicks() const override { return kAnswerTicks; }
    // DownloadWatch::kDoneMarker stands for the finished bar of any width (the download
    // watch); any other text is looked for in the output since expect(), also when a block
    // boundary splits it.
    void expect(const QString& text) override;
    bool seen(const QString& text) const override;
    const LineHook& lineCompleted() const override { return m_lines.lineCompleted(); }
    void setLineCompleted(LineHook hook) override { m_lines.setLineCompleted(std::move(hook)); }

private:
    TelnetLink& m_session;
    Ticker& m_ticker;
    std::function<int()> m_settleDelay;
    LineStream m_lines;
    DownloadWatch m_download;
    QString m_expected;
    QString m_carry; // the end of the output since expect(), shorter than m_expected
    bool m_expectedSeen = false;
};
