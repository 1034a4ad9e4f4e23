// How fast a paste may go: a 40-line script through the paste pacer into the boot-loader
// simulator (dropping what arrives while it is busy, as a real loader at 115200 baud does)
// and into the busybox shell of the receiver simulator, for a range of character and line
// delays. Prints per setting the characters lost and the time the paste took; the settings
// file's defaults are the fastest lossless setting with room to spare.
//
//   paste_sweep            (as root: the shell simulator needs a chroot)
#include "terminal/paste_pacer.h"
#include "tests/sim/boot_loader_simulator.h"
#include "tests/sim/receiver_simulator.h"

#include <QFile>

#include <cstdio>
#include <string>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using terminal::PastePacer;
using terminal::PasteTiming;
using Clock = PastePacer::Clock;

namespace {

// Runs one paste over fd; echo = feed what comes back to the pacer. Returns milliseconds.
long long pasteOver(int fd, const std::string& text, PasteTiming timing, bool echo) {
    PastePacer pacer;
    const auto begin = Clock::now();
    pacer.start(PastePacer::normalise(text), timing, begin);
    while (pacer.active()) {
        for (std::string out = pacer.take(Clock::now()); !out.empty();
             out = pacer.take(Clock::now()))
            if (::write(fd, out.data(), out.size()) != ssize_t(out.size()))
                return -1;
        const auto wait = pacer.nextDue() - Clock::now();
        pollfd p{fd, POLLIN, 0};
        const int ms = int(std::chrono::duration_cast<std::chrono::milliseconds>(wait).count());
        if (::poll(&p, 1, std::max(0, std::min(ms, 1000))) > 0) {
            char buffer[512];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0 && echo)
                pacer.received(std::string_view(buffer, size_t(n)));
        }
    }
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin).count();
}

std::string script(const char* format) {
    std::string text;
    char line[128];
    for (int i = 1; i <= 40; ++i) {
        std::snprintf(line, sizeof line, format, i, i);
        text += line;
        text += '\n';
    }
    return text;
}

int openPort(const QString& path) {
    return ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
}

void loaderRun(PasteTiming timing, bool echo) {
    stbsim::BootLoaderSimulator loader;
    QString error;
    stbsim::BootLoaderSimulator::Options options;
    options.dropWhileBusy = true;
    if (!loader.start(options, &error)) {
        std::printf("loader: %s\n", qPrintable(error));
        return;
    }
    const int fd = openPort(loader.portPath());
    const std::string text = script("set var%02d value-%02d-abcdefghijkl");
    const long long ms = pasteOver(fd, text, timing, echo);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::printf("loader char=%d line=%d echo=%s: lost %zu of %zu bytes, %lld ms\n",
                timing.charDelayMs, timing.lineDelayMs, echo ? "yes" : "no ", loader.droppedBytes(),
                text.size(), ms);
    ::close(fd);
}

void shellRun(PasteTiming timing) {
    stbsim::ReceiverSimulator shell;
    QString error;
    if (!shell.start({}, &error)) {
        std::printf("shell: %s\n", qPrintable(error));
        return;
    }
    const int fd = openPort(shell.portPath());
    const std::string text = script("echo line-%02d-%02d-abcdefghijkl >> /tmp/paste");
    const long long ms = pasteOver(fd, text, timing, true);
    shell.waitForOutput("line-40-40", 3000);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    QFile file(shell.rootPath() + QStringLiteral("/tmp/paste"));
    const int lines = file.open(QIODevice::ReadOnly) ? int(file.readAll().count('\n')) : 0;
    std::printf("shell  char=%d line=%d: %d of 40 lines, %lld ms\n", timing.charDelayMs,
                timing.lineDelayMs, lines, ms);
    ::close(fd);
}

} // namespace

int main() {
    for (int charDelay : {0, 1, 2, 3, 5})
        loaderRun({charDelay, 1000}, true);
    for (int lineDelay : {0, 10, 20, 50, 100})
        loaderRun({PasteTiming{}.charDelayMs, lineDelay}, false);
    for (int charDelay : {0, PasteTiming{}.charDelayMs})
        shellRun({charDelay, PasteTiming{}.lineDelayMs});
    return 0;
}
