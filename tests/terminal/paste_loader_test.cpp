// A 40-line script pasted into a boot loader that loses what it gets while busy, over the
// program's own path: the terminal's paste, the serial port, a pseudo-terminal. Sent at once
// the loader loses characters; paced with the default delays every line arrives.
#include "serial/com_port.h"
#include "terminal/terminal_widget.h"
#include "tests/sim/boot_loader_simulator.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace {

struct LoaderRun {
    QStringList lines; // what the loader read, the wake-up line left out
    std::size_t dropped = 0;
    QString question; // what the paste asked first
};

LoaderRun pasteInto(const QString& script, bool paced) {
    stbsim::BootLoaderSimulator loader;
    stbsim::BootLoaderSimulator::Options options;
    options.dropWhileBusy = true;
    QString error;
    EXPECT_TRUE(loader.start(options, &error)) << error.toStdString();
    TComPort port;
    port.setDevicePath(loader.portPath());
    port.Open();
    TTerminal terminal;
    LoaderRun run;
    terminal.setWriter([&port](const QByteArray& bytes) { port.WriteText(bytes); });
    terminal.setPrompts({[&run](const QString& q) { return run.question = q, true; }, {}, {}});
    port.addConsumer([&terminal](const QByteArray& unread) {
        terminal.enqueueReceived(unread.constData(), unread.size());
        return unread.size();
    });
    port.WriteText("\r");
    EXPECT_TRUE(loader.waitForOutput("STB7100-REF> ", 2000));
    if (paced) {
        EXPECT_TRUE(terminal.paste(script));
        EXPECT_TRUE(stbtest::spinUntil([&] { return !terminal.pasteInProgress(); }, 30000));
    } else {
        QByteArray once = script.toLatin1();
        port.WriteText(once.replace('\n', '\r'));
    }
    const int expected = int(script.count(QLatin1Char('\n'))) + 1;
    stbtest::spinUntil([&] { return loader.linesReceived().size() >= expected; }, 2000);
    run.lines = loader.linesReceived().mid(1);
    run.dropped = loader.droppedBytes();
    return run;
}

TEST(PasteIntoBootLoader, UnpacedLosesCharactersPacedArrivesComplete) {
    QStringList script;
    for (int i = 1; i <= 40; ++i)
        script << QStringLiteral("set var%1 value-%1-abcdefghijkl").arg(i, 2, 10, QLatin1Char('0'));
    const QString text = script.join(QLatin1Char('\n')) + QLatin1Char('\n');

    const LoaderRun unpaced = pasteInto(text, false);
    EXPECT_GT(unpaced.dropped, 0u);
    EXPECT_NE(unpaced.lines, script);

    const LoaderRun paced = pasteInto(text, true);
    EXPECT_EQ(paced.dropped, 0u);
    EXPECT_EQ(paced.lines, script);
    EXPECT_TRUE(paced.question.startsWith(QStringLiteral("40 Zeilen")))
        << paced.question.toStdString();
}

} // namespace
