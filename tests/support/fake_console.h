#pragma once
// Stand-ins for the console seams in tests: a tick wait that returns at once (or really waits,
// for code on real sockets) and records what was asked, a port that records what was written,
// and a busy indicator that records whether it is shown. Each can run a callback so a test can
// play the receiver's part (feed the watcher "during" a wait, fail a write). The wait and the
// busy indicator also write to journal when a test shares one list among several stand-ins to
// see the order of all their calls.
#include "core/busy_indicator.h"
#include "core/console_port.h"
#include "core/ticker.h"

#include <QByteArray>
#include <QEventLoop>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>

class FakeTicker : public Ticker {
public:
    // RealTime waits ticks × 55 ms in a nested event loop, as the program's own wait does.
    enum Pace { Instant, RealTime };
    explicit FakeTicker(Pace pace = Instant) : m_pace(pace) {}
    // Every request, also those < 1 (they wait nothing, as the real one).
    QList<int> requests;
    // Runs once per request with ticks >= 1, standing in for the events handled meanwhile.
    std::function<void(int ticks)> duringWait;
    // Sum of the ticks that would really have been waited (requests < 1 count 0).
    qint64 totalTicks() const {
        qint64 sum = 0;
        for (int t : requests)
            sum += t < 1 ? 0 : t;
        return sum;
    }
    void WaitTicks(int ticks) override {
        requests.append(ticks);
        if (journal)
            *journal << QStringLiteral("wait %1").arg(ticks);
        if (ticks >= 1 && duringWait)
            duringWait(ticks);
        if (ticks >= 1 && m_pace == RealTime) {
            QEventLoop loop;
            QTimer::singleShot(ticks * 55, &loop, &QEventLoop::quit);
            loop.exec();
        }
    }
    QStringList* journal = nullptr;

private:
    Pace m_pace;
};

class FakeConsolePort : public ConsolePort {
public:
    QList<QByteArray> writes; // each WriteText call, unchanged
    // Runs before the write is recorded; may throw to simulate a port failure.
    std::function<void(const QByteArray&)> onWrite;
    QByteArray transcript() const { return writes.join(); }
    void WriteText(const QByteArray& bytes) override {
        if (onWrite)
            onWrite(bytes);
        writes.append(bytes);
    }
};

class FakeBusyIndicator : public BusyIndicator {
public:
    QList<QString> shownTexts;
    bool visible = false;
    int hideCount = 0;
    QStringList* journal = nullptr; // "show <text>", "hide"
    // Runs after the show is recorded: a test looks at the program as the dialog opens.
    std::function<void(const QString& text)> onShow;
    void showBusy(const QString& text) override {
        shownTexts.append(text);
        visible = true;
        if (journal)
            *journal << QStringLiteral("show ") + text;
        if (onShow)
            onShow(text);
    }
    void hideBusy() override {
        visible = false;
        ++hideCount;
        if (journal)
            *journal << QStringLiteral("hide");
    }
};
