#include "tests/sim/qemu_boot_loader.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace stbsim {
namespace {

const QByteArray kLoaderPrompt = QByteArrayLiteral("=> ");
const QByteArray kShownPrompt = QByteArrayLiteral("STB7100-REF> ");
const char kLoader[] = "/usr/lib/u-boot/qemu_arm/u-boot.bin";
const char kQemu[] = "/usr/bin/qemu-system-arm";

// The image's program: writes the marker to the PL011 (waiting while its FIFO is full), then
// idles. Linked for the load address the image header names.
const char kMarkerProgram[] = R"(
.text
.global _start
_start:
  ldr r1, =0x09000000
  adr r2, text
1: ldrb r0, [r2], #1
  cmp r0, #0
  beq 3f
2: ldr r3, [r1, #0x18]
  tst r3, #0x20
  bne 2b
  str r0, [r1]
  b 1b
3: wfi
  b 3b
text: .asciz "\r\n%1\r\n"
)";

bool run(const QString& program, const QStringList& arguments, const QString& folder,
         QString* error) {
    QProcess p;
    p.setWorkingDirectory(folder);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, arguments);
    if (p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
        return true;
    *error = program + QStringLiteral(" failed: ") + p.errorString() + QLatin1Char(' ') +
             QString::fromLocal8Bit(p.readAll());
    return false;
}

} // namespace

QemuBootLoader::~QemuBootLoader() {
    stop();
}

bool QemuBootLoader::start(const Options& options, QString* error) {
    for (const char* needed : {kQemu, kLoader}) {
        if (!QFileInfo::exists(QString::fromLatin1(needed))) {
            *error = QStringLiteral("%1 missing (packages qemu-system-arm, u-boot-qemu)")
                         .arg(QString::fromLatin1(needed));
            return false;
        }
    }
    if (!m_serial.open(error))
        return false;
    m_options = options;
    m_thread = std::thread([this] { relay(); });
    return true;
}

void QemuBootLoader::stop() {
    if (m_thread.joinable()) {
        m_stop = true;
        m_serial.wake();
        m_thread.join();
    }
    if (m_qemu > 0) {
        ::kill(m_qemu, SIGKILL);
        ::waitpid(m_qemu, nullptr, 0);
        m_qemu = -1;
    }
    if (m_console >= 0)
        ::close(std::exchange(m_console, -1));
    m_serial.close();
}

bool QemuBootLoader::qemuStarted() const {
    std::lock_guard lock(m_mutex);
    return m_started;
}

QString QemuBootLoader::qemuError() const {
    std::lock_guard lock(m_mutex);
    return m_qemuError;
}

QStringList QemuBootLoader::linesTyped() const {
    std::lock_guard lock(m_mutex);
    QStringList lines;
    for (const auto& typed : m_typed)
        lines << typed.first;
    return lines;
}

std::optional<QemuBootLoader::Clock::time_point>
QemuBootLoader::whenTyped(const QString& line) const {
    std::lock_guard lock(m_mutex);
    for (const auto& typed : m_typed)
        if (typed.first == line)
            return typed.second;
    return std::nullopt;
}

QByteArray QemuBootLoader::consoleOutput() const {
    return m_serial.sent();
}

bool QemuBootLoader::waitForOutput(const QByteArray& text, int timeoutMs) const {
    return m_serial.waitForSent(text, timeoutMs);
}

void QemuBootLoader::relay() {
    char buffer[4096];
    while (!m_stop) {
        pollfd fds[3] = {
            {m_serial.wakeFd(), POLLIN, 0}, {m_serial.master(), POLLIN, 0}, {m_console, POLLIN, 0}};
        // A prompt begun but not completed within 100 ms was not one.
        const int ready = ::poll(fds, m_console >= 0 ? 3 : 2, m_held.isEmpty() ? -1 : 100);
        if (m_stop || (ready < 0 && errno != EINTR))
            return;
        if (ready == 0)
            flushHeld();
        if (fds[1].revents & POLLIN)
            fromProgram(buffer, ::read(m_serial.master(), buffer, sizeof buffer));
        if (m_console >= 0 && (fds[2].revents & (POLLIN | POLLHUP))) {
            const ssize_t got = ::read(m_console, buffer, sizeof buffer);
            if (got <= 0) { // QEMU ended; the program sees a silent line from now on
                ::close(std::exchange(m_console, -1));
                continue;
            }
            toProgram(buffer, got);
        }
    }
}

void QemuBootLoader::fromProgram(const char* data, ssize_t size) {
    if (size <= 0)
        return;
    for (ssize_t i = 0; i < size; ++i) {
        if (data[i] != '\r') {
            m_typing.append(data[i]);
            continue;
        }
        std::lock_guard lock(m_mutex);
        m_typed.emplace_back(QString::fromLatin1(std::exchange(m_typing, QByteArray())),
                             Clock::now());
    }
    if (m_qemu < 0)
        startQemu();
    // A stream socket rather than a pipe: a write after QEMU's end fails instead of raising
    // SIGPIPE in the test.
    if (m_console >= 0)
        ::send(m_console, data, size_t(size), MSG_NOSIGNAL);
}

void QemuBootLoader::toProgram(const char* data, ssize_t size) {
    QByteArray out;
    for (ssize_t i = 0; i < size; ++i) {
        const char c = data[i];
        if (m_lineStart && c == kLoaderPrompt[m_held.size()]) {
            m_held.append(c);
            if (m_held == kLoaderPrompt) {
                out += kShownPrompt;
                m_held.clear();
                m_lineStart = false;
            }
            continue;
        }
        if (!m_held.isEmpty())
            out += std::exchange(m_held, QByteArray());
        out += c;
        m_lineStart = c == '\n';
    }
    writeToProgram(out);
}

void QemuBootLoader::flushHeld() {
    m_lineStart = false;
    writeToProgram(std::exchange(m_held, QByteArray()));
}

void QemuBootLoader::writeToProgram(const QByteArray& bytes) {
    m_serial.send(bytes, m_stop);
}

void QemuBootLoader::startQemu() {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        std::lock_guard lock(m_mutex);
        m_qemuError = QStringLiteral("socketpair failed");
        m_qemu = 0;
        return;
    }
    const QByteArray netdev =
        "tap,id=net0,ifname=" + m_options.tap.toLocal8Bit() + ",script=no,downscript=no";
    std::vector<QByteArray> args = {kQemu,   "-M",      "virt",     "-m",   "2048",
                                    "-bios", kLoader,   "-display", "none", "-monitor",
                                    "none",  "-serial", "stdio"};
    // virtio on its MMIO transport: the PCI one wants an option ROM this loader never uses.
    if (m_options.tap.isEmpty())
        args.insert(args.end(), {"-nic", "none"});
    else
        args.insert(args.end(), {"-netdev", netdev, "-device", "virtio-net-device,netdev=net0"});
    std::vector<char*> argv;
    for (QByteArray& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pair[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pair[1], STDOUT_FILENO);
    pid_t pid = -1;
    const int failed = ::posix_spawn(&pid, kQemu, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pair[1]);
    std::lock_guard lock(m_mutex);
    if (failed != 0) {
        ::close(pair[0]);
        m_qemuError = QStringLiteral("qemu-system-arm did not start: %1")
                          .arg(QString::fromLocal8Bit(strerror(failed)));
        m_qemu = 0;
        return;
    }
    m_qemu = pid;
    m_console = pair[0];
    m_started = true;
}

QString MakeMarkerImage(const QString& folder, QString* error) {
    QFile source(folder + QStringLiteral("/marker.S"));
    QFile ramdisk(folder + QStringLiteral("/ramdisk"));
    if (!source.open(QIODevice::WriteOnly) || !ramdisk.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot write into ") + folder;
        return {};
    }
    source.write(QByteArray(kMarkerProgram).replace("%1", kMarker));
    source.close();
    ramdisk.write(QByteArray(4096, '\x5a'));
    ramdisk.close();
    const QString as = QStringLiteral("arm-none-eabi-");
    const bool made =
        run(as + "as", {"-o", "marker.o", "marker.S"}, folder, error) &&
        run(as + "ld", {"-Ttext=0x40008000", "-o", "marker.elf", "marker.o"}, folder, error) &&
        run(as + "objcopy", {"-O", "binary", "marker.elf", "marker.bin"}, folder, error) &&
        run(kQemu, {"-M", "virt,dumpdtb=board.dtb", "-m", "2048", "-nic", "none"}, folder, error) &&
        run("mkimage",
            {"-A", "arm", "-O", "linux", "-T", "multi", "-C", "none", "-a", "0x40008000", "-e",
             "0x40008000", "-n", "stbmate marker", "-d", "marker.bin:ramdisk:board.dtb",
             "emergency.ub"},
            folder, error);
    return made ? folder + QStringLiteral("/emergency.ub") : QString();
}

} // namespace stbsim
