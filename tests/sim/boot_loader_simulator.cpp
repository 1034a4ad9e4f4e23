#include "tests/sim/boot_loader_simulator.h"

#include "tests/sim/busy_loader_input.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace stbsim {
namespace {

const QByteArray kPrompt = QByteArrayLiteral("STB7100-REF> ");

QString findBusybox() {
    for (const char* candidate : {"/bin/busybox", "/usr/bin/busybox"}) {
        if (QFileInfo(QString::fromLatin1(candidate)).isExecutable())
            return QString::fromLatin1(candidate);
    }
    return {};
}

} // namespace

BootLoaderSimulator::~BootLoaderSimulator() {
    stop();
}

bool BootLoaderSimulator::start(const Options& options, QString* error) {
    if (findBusybox().isEmpty()) {
        *error = QStringLiteral("busybox not found (Debian package busybox-static)");
        return false;
    }
    if (!m_serial.open(error))
        return false;
    QByteArray scratch = QDir::tempPath().toLocal8Bit() + "/stbmate-bootloader.XXXXXX";
    if (!::mkdtemp(scratch.data())) {
        *error = QStringLiteral("no scratch folder");
        return false;
    }
    m_scratch = QString::fromLocal8Bit(scratch);
    m_options = options;
    m_thread = std::thread([this] { m_options.dropWhileBusy ? loopDroppingWhileBusy() : loop(); });
    return true;
}

void BootLoaderSimulator::stop() {
    if (m_thread.joinable()) {
        m_stop = true;
        m_serial.wake();
        m_thread.join();
    }
    m_serial.close();
    if (!m_scratch.isEmpty())
        QDir(m_scratch).removeRecursively();
    m_scratch.clear();
}

void BootLoaderSimulator::loop() {
    char buffer[512];
    while (!m_stop) {
        pollfd fds[2] = {{m_serial.master(), POLLIN, 0}, {m_serial.wakeFd(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            return;
        if (m_stop)
            return;
        const ssize_t got = ::read(m_serial.master(), buffer, sizeof buffer);
        for (ssize_t i = 0; i < got && !m_stop; ++i) {
            const char c = buffer[i];
            if (c != '\r') {
                if (c != '\n')
                    m_line.append(c);
                continue;
            }
            // A loader echoes as it reads; the whole line at once is the same on the wire.
            if (m_crCount + 1 >= m_options.promptFromCr && !m_booted)
                print(m_line);
            finishLine();
        }
    }
}

void BootLoaderSimulator::finishLine() {
    const QString line = QString::fromLatin1(std::exchange(m_line, QByteArray()));
    {
        std::lock_guard lock(m_mutex);
        m_lines << line;
    }
    if (++m_crCount < m_options.promptFromCr || m_booted)
        return;
    print("\r\n");
    handleLine(line.trimmed());
    if (!m_booted)
        print(kPrompt);
}

void BootLoaderSimulator::loopDroppingWhileBusy() {
    using Clock = BusyLoaderInput::Clock;
    BusyLoaderInput input;
    char buffer[512];
    while (!m_stop) {
        const Clock::time_point next = input.nextEvent();
        int timeoutMs = -1;
        if (next != Clock::time_point::max())
            timeoutMs = int(std::clamp<std::int64_t>(
                std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count(), 0,
                1000));
        pollfd fds[2] = {{m_serial.master(), POLLIN, 0}, {m_serial.wakeFd(), POLLIN, 0}};
        if (::poll(fds, 2, timeoutMs) < 0 && errno != EINTR)
            return;
        const ssize_t got = ::read(m_serial.master(), buffer, sizeof buffer);
        if (got > 0)
            input.arrive(buffer, std::size_t(got), Clock::now());
        while (const auto taken = input.next(Clock::now()))
            input.busyFrom(taken->at, takeByte(taken->byte));
        std::lock_guard lock(m_mutex);
        m_dropped = input.dropped();
    }
}

std::chrono::microseconds BootLoaderSimulator::takeByte(char c) {
    const auto charTime = BusyLoaderInput::kCharTime;
    if (c == '\n')
        return std::chrono::microseconds(0);
    const bool answers = m_crCount + 1 >= m_options.promptFromCr && !m_booted;
    if (c != '\r') {
        m_line.append(c);
        if (answers)
            print(QByteArray(1, c));
        return answers ? charTime : std::chrono::microseconds(0);
    }
    const qsizetype before = sentToProgram().size();
    finishLine();
    const qsizetype printed = sentToProgram().size() - before;
    return std::chrono::milliseconds(answers ? m_options.commandMs : 0) + printed * charTime;
}

void BootLoaderSimulator::handleLine(const QString& line) {
    const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return;
    // The older loader this stands for takes "set" as short for setenv.
    if ((words[0] == QLatin1String("setenv") || words[0] == QLatin1String("set")) &&
        words.size() >= 3) {
        m_env[words[1]] = words.mid(2).join(QLatin1Char(' '));
        m_serverIp = m_env.value(QStringLiteral("serverip"));
        std::lock_guard lock(m_mutex);
        m_setCommands << words.mid(1).join(QLatin1Char(' '));
    } else if (words[0] == QLatin1String("printenv") && words.size() == 2) {
        print(m_env.contains(words[1])
                  ? (words[1] + QLatin1Char('=') + m_env[words[1]]).toLatin1() + "\r\n"
                  : "## Error: \"" + words[1].toLatin1() + "\" not defined\r\n");
    } else if (words[0] == QLatin1String("tftp") && words.size() == 3) {
        fetch(words[2]);
    } else if (words[0] == QLatin1String("bootm")) {
        {
            std::lock_guard lock(m_mutex);
            ++m_bootCount;
        }
        print("## Booting kernel from Legacy Image at " + words.value(1).toLatin1() +
              " ...\r\n   Verifying Checksum ... OK\r\n\r\nStarting kernel ...\r\n\r\n");
        m_booted = true;
    } else {
        print("Unknown command '" + words[0].toLatin1() + "' - try 'help'\r\n");
    }
}

void BootLoaderSimulator::fetch(const QString& fileName) {
    {
        std::lock_guard lock(m_mutex);
        ++m_tftpCount;
        m_image.clear();
    }
    if (m_serverIp.isEmpty()) {
        print("*** ERROR: `serverip' not set\r\n");
        return;
    }
    print("TFTP from server " + m_serverIp.toLatin1() + "; our IP address is ...\r\n" +
          "Filename '" + fileName.toLatin1() + "'.\r\nLoad address: 0xa4000000\r\nLoading: ");
    const QByteArray local = QFile::encodeName(m_scratch + QStringLiteral("/image"));
    QFile::remove(QString::fromLocal8Bit(local));
    std::vector<QByteArray> args = {QFile::encodeName(findBusybox()),
                                    "tftp",
                                    "-g",
                                    "-r",
                                    fileName.toLocal8Bit(),
                                    "-l",
                                    local,
                                    m_serverIp.toLatin1(),
                                    QByteArray::number(m_options.tftpPort)};
    std::vector<char*> argv;
    for (QByteArray& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    const bool spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    int status = -1;
    while (spawned) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
        if (m_stop) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!spawned || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        print("\r\nTFTP error: transfer failed\r\n");
        return;
    }
    QFile file(QString::fromLocal8Bit(local));
    const QByteArray image = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    print("#################################################################\r\ndone\r\n");
    if (m_options.badChecksum) {
        print("bad checksum\r\n");
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_image = image;
    }
    print("Bytes transferred = " + QByteArray::number(image.size()) + " (" +
          QByteArray::number(image.size(), 16) + " hex)\r\n");
}

void BootLoaderSimulator::print(const QByteArray& text) {
    m_serial.send(text, m_stop);
}

std::size_t BootLoaderSimulator::droppedBytes() const {
    std::lock_guard lock(m_mutex);
    return m_dropped;
}

QStringList BootLoaderSimulator::setCommands() const {
    std::lock_guard lock(m_mutex);
    return m_setCommands;
}

int BootLoaderSimulator::bootCount() const {
    std::lock_guard lock(m_mutex);
    return m_bootCount;
}

int BootLoaderSimulator::tftpCount() const {
    std::lock_guard lock(m_mutex);
    return m_tftpCount;
}

QByteArray BootLoaderSimulator::loadedImage() const {
    std::lock_guard lock(m_mutex);
    return m_image;
}

QStringList BootLoaderSimulator::linesReceived() const {
    std::lock_guard lock(m_mutex);
    return m_lines;
}

QByteArray BootLoaderSimulator::sentToProgram() const {
    return m_serial.sent();
}

bool BootLoaderSimulator::waitForOutput(const QByteArray& text, int timeoutMs,
                                        qsizetype from) const {
    return m_serial.waitForSent(text, timeoutMs, from);
}

} // namespace stbsim
