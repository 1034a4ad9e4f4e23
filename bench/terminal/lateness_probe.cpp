// The program's main window, built as the program builds it, plus one thing the program does
// not have: a 10 ms timer that notes how late each of its timeouts comes. The benchmark floods
// the window's port and reads the notes, so the program itself carries no measuring code.
//
//   terminal_lateness_probe PROGRAM_DIR     (PROGRAM_DIR holds the stbmate.ini to use)
//
// Runs until its standard input ends, then prints one line per timeout: the monotonic time of
// the timeout in nanoseconds and its delay past the due time in microseconds.
#include "app/application.h"
#include "app/program_parts.h"
#include "app/qt_dialogs.h"
#include "log/session_log.h"

#include <QSocketNotifier>
#include <QTimer>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: terminal_lateness_probe PROGRAM_DIR\n");
        return 2;
    }
    const QString programDir = QString::fromLocal8Bit(argv[1]);
    TApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("stbmate"));
    QtDialogs dialogs;
    app.setErrorDialogs(&dialogs);
    SessionLog log(programDir);
    DesktopServices desktop;
    ProgramParts parts(desktop.services(dialogs, log), programDir);
    TForm1& form1 = parts.window();
    if (!form1.created())
        return 1;
    dialogs.setParent(&form1);
    form1.show();

    using Clock = std::chrono::steady_clock;
    constexpr auto kInterval = std::chrono::milliseconds(10);
    std::vector<std::pair<long long, long long>> samples; // (time ns, delay us)
    samples.reserve(1 << 16);
    Clock::time_point last = Clock::now();
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const Clock::time_point now = Clock::now();
        const auto delay = now - last - kInterval;
        samples.emplace_back(
            std::chrono::duration_cast<std::chrono::nanoseconds>(now.time_since_epoch()).count(),
            std::chrono::duration_cast<std::chrono::microseconds>(delay).count());
        last = now;
    });
    probe.start(kInterval);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[256];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0) {
            input.setEnabled(false);
            QCoreApplication::quit();
        }
    });
    const int exitCode = app.exec();
    for (const auto& [at, delay] : samples)
        std::printf("%lld %lld\n", at, delay);
    return exitCode;
}
