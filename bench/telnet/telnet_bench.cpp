// Feeds the real main window's telnet client from a loopback server and reports what it cost:
//   telnet_bench flood   10 MB without any line end, then "\rEND"
//   telnet_bench lines   10 MB of 78-character lines, then "\rEND"
//   telnet_bench storm   option requests without end from a server that never reads
// For flood and lines the same stream also goes to busybox telnet (output to /dev/null), run
// right after, as the reference. Prints CPU seconds, the event loop's lateness (a 10 ms timer:
// p99 and worst), the longest UI call into the client (storm) and the resident memory growth.
#include "app/program_parts.h"
#include "app/qt_dialogs.h"
#include "log/session_log.h"
#include "net/net_errors.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <memory>
#include <pty.h>
#include <spawn.h>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr int kBytes = 10 * 1024 * 1024;

double cpuSeconds(const rusage& usage) {
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double selfCpu() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return cpuSeconds(usage);
}

long statusKiB(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string word;
    while (status >> word) {
        if (word == key) {
            long value = 0;
            status >> value;
            return value;
        }
    }
    return -1;
}

QByteArray payload(const QString& mode) {
    QByteArray data;
    data.reserve(kBytes + 8);
    if (mode == QStringLiteral("flood")) {
        while (data.size() < kBytes)
            data += "abcdefghijklmnopqrstuvwxyz0123456789 ";
    } else {
        const QByteArray line = QByteArray(76, 'x') + "\r\n";
        while (data.size() < kBytes)
            data += line;
    }
    return data + "\rEND";
}

// A one-connection loopback server; sends its stream (or storms) on its own thread.
class Server {
public:
    Server() {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(m_listen, 1);
        socklen_t length = sizeof a;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &length);
        port = ntohs(a.sin_port);
    }
    ~Server() {
        stop = true;
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_listen);
    }
    void serve(QByteArray data, bool storm, bool closeAfter) {
        m_thread = std::thread([this, data = std::move(data), storm, closeAfter] {
            const int fd = ::accept(m_listen, nullptr, nullptr);
            if (storm) {
                QByteArray requests;
                for (int i = 0; i < 100; ++i)
                    requests += QByteArray("\xFF\xFD\x1F", 3); // IAC DO NAWS
                pollfd entry{fd, POLLOUT, 0};
                while (!stop) {
                    if (::poll(&entry, 1, 50) == 1 &&
                        ::send(fd, requests.constData(), requests.size(),
                               MSG_NOSIGNAL | MSG_DONTWAIT) < 0 &&
                        errno != EAGAIN)
                        break;
                }
            } else {
                ::send(fd, data.constData(), data.size(), MSG_NOSIGNAL);
                while (!stop && !closeAfter)
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            ::close(fd);
        });
    }
    std::uint16_t port = 0;
    std::atomic<bool> stop{false};

private:
    int m_listen = -1;
    std::thread m_thread;
};

// The same stream through busybox telnet; its CPU seconds, or -1.
double referenceCpu(const QByteArray& data) {
    Server server;
    server.serve(data, false, true);
    int in[2];
    if (::pipe(in) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const std::string port = std::to_string(server.port);
    const char* argv[] = {"busybox", "telnet", "127.0.0.1", port.c_str(), nullptr};
    pid_t pid = -1;
    const int spawned =
        ::posix_spawnp(&pid, "busybox", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    if (spawned != 0) {
        ::close(in[1]);
        return -1;
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    ::close(in[1]);
    return cpuSeconds(usage);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString mode = argc > 1 ? QString::fromLatin1(argv[1]) : QStringLiteral("flood");

    QTemporaryDir dir;
    int master = -1, slave = -1;
    ::openpty(&master, &slave, nullptr, nullptr, nullptr);
    QFile ini(dir.filePath(QStringLiteral("stbmate.ini")));
    ini.open(QIODevice::WriteOnly);
    ini.write("[Main]\nLanguage=Deutsch\nIP=127.0.0.1\nDelay=0\nComPort=" +
              QByteArray(::ttyname(slave)) + "\n[Deutsch]\n");
    ini.close();
    SessionLog log(dir.path());
    QtDialogs dialogs;
    DesktopServices desktop;
    ProgramParts parts(desktop.services(dialogs, log), dir.path());
    TForm1& form = parts.window();
    form.show();
    TTelnetClient& telnet = parts.wiring().telnet();
    // The window as a user has it: shown, painted, on the page the jobs bring forward.
    form.showPage(1);
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 500)
        app.processEvents(QEventLoop::AllEvents, 50);

    const bool storm = mode == QStringLiteral("storm");
    const QByteArray data = storm ? QByteArray() : payload(mode);
    Server server;
    server.serve(data, storm, false);

    std::vector<double> lateness;
    QElapsedTimer clock;
    qint64 lastTick = 0;
    double worstCall = 0;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        lateness.push_back(std::max(0.0, (now - lastTick) / 1e6 - 10.0));
        lastTick = now;
        if (storm) {
            // A user's action: a key for the receiver and the session's state.
            QElapsedTimer call;
            call.start();
            try {
                telnet.SendTelnetChar('x');
            } catch (const ENetError&) {
            }
            [[maybe_unused]] const bool open = telnet.Connected();
            worstCall = std::max(worstCall, call.nsecsElapsed() / 1e6);
        }
    });

    const long rssBefore = statusKiB("VmRSS:");
    const double cpuBefore = selfCpu();
    telnet.ResetTelnetClient();
    telnet.setHost(QStringLiteral("127.0.0.1"));
    telnet.setPort(server.port);
    telnet.Connect();
    clock.start();
    timer.start(10);
    QElapsedTimer wall;
    wall.start();
    while (wall.elapsed() < 60000) {
        app.processEvents(QEventLoop::AllEvents, 5);
        if (storm ? !telnet.Connected() : form.lastNetworkLine() == QStringLiteral("END"))
            break;
    }
    const double cpu = selfCpu() - cpuBefore;
    const double seconds = wall.elapsed() / 1000.0;
    timer.stop();
    const long rssAfter = statusKiB("VmRSS:");
    telnet.Disconnect();
    server.stop = true;

    std::sort(lateness.begin(), lateness.end());
    const double p99 = lateness.empty() ? 0 : lateness[lateness.size() * 99 / 100];
    const double worst = lateness.empty() ? 0 : lateness.back();
    const auto over =
        std::count_if(lateness.begin(), lateness.end(), [](double late) { return late > 100.0; });
    std::printf("mode %s: %.2f s wall, %.2f s CPU, timer lateness p99 %.1f ms worst %.1f ms, "
                "%zu ticks, %ld over 100 ms, RSS %+ld KiB (%ld -> %ld)",
                argv[1] ? argv[1] : "flood", seconds, cpu, p99, worst, lateness.size(),
                static_cast<long>(over), rssAfter - rssBefore, rssBefore, rssAfter);
    if (storm)
        std::printf(", worst UI call %.1f ms, session %s", worstCall,
                    telnet.Connected() ? "still open" : "ended");
    else
        std::printf(", view %d lines", form.networkLineCount());
    std::printf("\n");
    if (!storm) {
        const double reference = referenceCpu(data);
        std::printf("reference busybox telnet: %.2f s CPU; ratio %.1f\n", reference,
                    reference > 0 ? cpu / reference : 0.0);
    }
    ::close(master);
    ::close(slave);
    return 0;
}
