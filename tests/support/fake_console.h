#pragma once
// Stand-ins for the console seams in tests: a tick wait that returns at once and records
// what was asked, a port that records what was written, and a busy indicator that records
// whether it is shown. Each can run a callback so a test can play the receiver's part
// (feed the watcher "during" a wait, fail a write).
#include "core/busy_indicator.h"
#include "core/console_port.h"
#include "core/ticker.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

class FakeTicker : public Ticker {
public:
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
        if (ticks >= 1 && duringWait)
            duringWait(ticks);
    }
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
    void showBusy(const QString& text) override {
        shownTexts.append(text);
        visible = true;
    }
    void hideBusy() override {
        visible = false;
        ++hideCount;
    }
};
