// Serial link benchmark, side by side with a plain poll()+read() reader on a second
// pseudo-terminal (the least any program can do to get bytes off a tty):
//  1. latency from the far end's write of a line end to the response watcher seeing it
//     (median, p99), against the plain reader's latency for the same writes;
//  2. a 1 MB burst of console lines through the port to the watcher and a terminal-style
//     consumer, checked byte for byte, against the plain reader's time for 1 MB;
//  3. the process's CPU share during a 10-second WaitTicks with the port open.
#include "serial/com_port.h"
#include "serial/console_link.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Pty {
    int master = -1;
    int slave = -1;
    QString path;
    Pty() {
        char name[256] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            std::perror("openpty");
            std::exit(1);
        }
        path = QString::fromLocal8Bit(name);
    }
    ~Pty() {
        if (slave >= 0)
            ::close(slave);
        ::close(master);
    }
    void closeSlave() {
        ::close(slave);
        slave = -1;
    }
    void writeAll(const char* data, size_t size) const {
        size_t done = 0;
        while (done < size) {
            const ssize_t n = ::write(master, data + done, size - done);
            if (n > 0)
                done += size_t(n);
            else {
                pollfd p{master, POLLOUT, 0};
                ::poll(&p, 1, 10);
            }
        }
    }
};

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5));
    return v[i];
}

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The plain reader: the slave in raw mode, one thread blocking in poll() then read().
struct PlainReader {
    Pty pty;
    std::atomic<qint64> received{0};
    std::atomic<bool> stop{false};
    std::vector<Clock::time_point> crTimes;
    std::mutex mutex;
    std::thread thread;
    PlainReader() {
        termios tio{};
        ::tcgetattr(pty.slave, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(pty.slave, TCSANOW, &tio);
        thread = std::thread([this] {
            char buf[4096];
            while (!stop) {
                pollfd p{pty.slave, POLLIN, 0};
                if (::poll(&p, 1, 50) <= 0)
                    continue;
                const ssize_t n = ::read(pty.slave, buf, sizeof buf);
                if (n <= 0)
                    continue;
                const auto now = Clock::now();
                received += n;
                std::lock_guard lock(mutex);
                for (ssize_t i = 0; i < n; ++i)
                    if (buf[i] == '\r')
                        crTimes.push_back(now);
            }
        });
    }
    ~PlainReader() {
        stop = true;
        thread.join();
    }
};

// Sleeps in the event loop (as the program's main loop does) until pred() holds; a timer
// wakes it every 5 ms to look.
template <typename Pred> bool spinUntil(Pred pred, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    QTimer tick;
    tick.start(5);
    while (!pred()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Writes "x\r" every 5 ms from another thread and returns the write times.
std::vector<Clock::time_point> writeLineEnds(const Pty& pty, int count) {
    std::vector<Clock::time_point> sent;
    sent.reserve(size_t(count));
    for (int i = 0; i < count; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        sent.push_back(Clock::now());
        pty.writeAll("x\r", 2);
    }
    return sent;
}

std::vector<double> latenciesMs(const std::vector<Clock::time_point>& sent,
                                const std::vector<Clock::time_point>& seen) {
    std::vector<double> out;
    for (size_t i = 0; i < std::min(sent.size(), seen.size()); ++i)
        out.push_back(std::chrono::duration<double, std::milli>(seen[i] - sent[i]).count());
    return out;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int samples = 1000;

    // --- 1. latency ---------------------------------------------------------------------
    Pty portPty;
    portPty.closeSlave();
    TComPort port;
    SessionLog log(QDir::tempPath());
    SerialConsoleLink link(port, log, 0);
    std::vector<Clock::time_point> seen;
    link.watcher().setLineCompleted([&](const QString&) { seen.push_back(Clock::now()); });
    port.setDevicePath(portPty.path);
    port.Open();

    std::vector<Clock::time_point> sent;
    std::thread writer([&] { sent = writeLineEnds(portPty, samples); });
    spinUntil([&] { return seen.size() >= size_t(samples); }, 60000);
    writer.join();
    const auto ours = latenciesMs(sent, seen);

    PlainReader plain;
    const auto plainSent = writeLineEnds(plain.pty, samples);
    QThread::msleep(200);
    std::vector<double> ref;
    {
        std::lock_guard lock(plain.mutex);
        ref = latenciesMs(plainSent, plain.crTimes);
    }
    std::printf("latency byte->watcher (ms)   stbmate median %.3f p99 %.3f | plain reader median "
                "%.3f p99 %.3f | p99 ratio %.1f (%zu samples)\n",
                percentile(ours, 0.5), percentile(ours, 0.99), percentile(ref, 0.5),
                percentile(ref, 0.99), percentile(ours, 0.99) / percentile(ref, 0.99), ours.size());

    // --- 2. 1 MB burst ----------------------------------------------------------------------
    QByteArray burst;
    for (int line = 0; burst.size() < 1024 * 1024; ++line)
        burst += QByteArray::number(line).rightJustified(8, '0') + ' ' +
                 QByteArray(69, char('a' + line % 26)) + "\r\n";
    burst.truncate(1024 * 1024);
    QList<QString> lines;
    link.watcher().setLineCompleted([&](const QString& l) { lines.append(l); });
    std::mutex termMutex;
    QByteArray terminal;
    port.addConsumer([&](const QByteArray& unread) {
        std::lock_guard lock(termMutex);
        terminal += unread;
        return unread.size();
    });
    const auto terminalSize = [&] {
        std::lock_guard lock(termMutex);
        return terminal.size();
    };
    QElapsedTimer t;
    t.start();
    std::thread burstWriter([&] { portPty.writeAll(burst.constData(), size_t(burst.size())); });
    const qsizetype wantLines = burst.count('\r');
    const bool complete = spinUntil(
        [&] { return lines.size() >= wantLines && terminalSize() >= burst.size(); }, 300000);
    const double oursMs = double(t.elapsed());
    burstWriter.join();
    QByteArray rebuilt;
    for (const QString& l : lines)
        rebuilt += l.toLatin1() + '\r';
    QByteArray expectedLines = burst;
    expectedLines.replace("\n", "");
    expectedLines.truncate(expectedLines.lastIndexOf('\r') + 1);
    const bool intact = complete && terminal == burst && rebuilt == expectedLines;

    PlainReader plainBurst;
    QElapsedTimer tr;
    tr.start();
    std::thread plainWriter(
        [&] { plainBurst.pty.writeAll(burst.constData(), size_t(burst.size())); });
    while (plainBurst.received < burst.size())
        QThread::usleep(200);
    const double refMs = double(tr.elapsed());
    plainWriter.join();
    std::printf("1 MB burst                   stbmate %.0f ms (%s) | plain reader %.0f ms | "
                "ratio %.1f\n",
                oursMs, intact ? "intact" : "DAMAGED", refMs, oursMs / std::max(refMs, 1.0));

    // --- 3. CPU during a 10-second wait ----------------------------------------------------
    EventLoopTicker ticker;
    const double cpu0 = cpuSeconds();
    QElapsedTimer w;
    w.start();
    ticker.WaitTicks(182); // 182 × 55 ms ≈ 10 s
    const double wallS = double(w.elapsed()) / 1000.0;
    const double cpuS = cpuSeconds() - cpu0;
    std::printf("WaitTicks(182)               %.2f s wall, %.3f s CPU = %.2f %% of one core\n",
                wallS, cpuS, 100.0 * cpuS / wallS);
    return intact ? 0 : 1;
}
