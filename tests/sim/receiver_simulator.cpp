#include "tests/sim/receiver_simulator.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/close_range.h>
#include <poll.h>
#include <pty.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace stbsim {
namespace {

// Applets a receiver's console offers for the jobs this tool drives. ifconfig and insmod are
// deliberately absent: /sbin holds recording stubs under those names instead. busybox's shell
// runs some applets in-process whatever PATH says (insmod among them), so /etc/shrc also
// routes both names to the stubs through shell functions, which win over applets.
const char* const kApplets[] = {"sh",   "ash",   "vi",    "ls",    "cat",   "more", "chmod",
                                "rm",   "cp",    "mv",    "mkdir", "rmdir", "echo", "grep",
                                "sed",  "head",  "tail",  "touch", "sleep", "pwd",  "test",
                                "true", "false", "clear", "stty",  "wc",    "ln",   "wget"};
const char* const kStubs[] = {"ifconfig", "insmod"};

bool writeFile(const QString& path, const QByteArray& data, int mode) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const bool ok = file.write(data) == data.size();
    file.close();
    return ok && ::chmod(QFile::encodeName(path).constData(), mode_t(mode)) == 0;
}

QString findBusybox() {
    for (const char* candidate : {"/bin/busybox", "/usr/bin/busybox"}) {
        if (QFileInfo(QString::fromLatin1(candidate)).isExecutable())
            return QString::fromLatin1(candidate);
    }
    return QStandardPaths::findExecutable(QStringLiteral("busybox"));
}

// Writes all of data to a non-blocking fd as far as it will go; returns what is left.
QByteArray writeSome(int fd, const QByteArray& data) {
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n <= 0)
            break;
        done += n;
    }
    return data.mid(done);
}

} // namespace

ReceiverSimulator::~ReceiverSimulator() {
    stop();
}

bool ReceiverSimulator::start(const Options& options, QString* error) {
    if (::geteuid() != 0) {
        *error = QStringLiteral("the receiver simulator needs root: it builds a chroot with "
                                "device nodes and a network namespace (run the tests as root)");
        return false;
    }
    m_withShell = options.withShell;
    if (!buildRoot(options, error)) {
        removeRoot();
        return false;
    }

    int cableSlave = -1;
    char name[256] = {};
    if (::openpty(&m_cableMaster, &cableSlave, name, nullptr, nullptr) != 0) {
        *error = QStringLiteral("openpty for the cable failed: %1")
                     .arg(QString::fromLocal8Bit(std::strerror(errno)));
        stop();
        return false;
    }
    m_cableSlave = cableSlave;
    m_portPath = QString::fromLocal8Bit(name);
    termios raw{};
    ::tcgetattr(m_cableSlave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(m_cableSlave, TCSANOW, &raw);
    ::fcntl(m_cableMaster, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_cableSlave, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_cableMaster, F_SETFL, ::fcntl(m_cableMaster, F_GETFL) | O_NONBLOCK);
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);

    if (options.withShell && !startShell(options, error)) {
        stop();
        return false;
    }
    m_relay = std::thread([this] { relayLoop(); });

    if (options.withShell) {
        if (!waitForOutput(QByteArrayLiteral(" # "), 5000)) {
            *error = QStringLiteral("the simulated receiver's shell showed no prompt within 5 s; "
                                    "output so far: ") +
                     QString::fromLatin1(sentToProgram());
            stop();
            return false;
        }
        // A real port opened later would not see the banner either; let the prompt's tail
        // (the line editor's cursor query) arrive, then drop what is queued on the cable.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ::tcflush(m_cableSlave, TCIFLUSH);
    }
    return true;
}

bool ReceiverSimulator::buildRoot(const Options& options, QString* error) {
    const QString busybox = findBusybox();
    if (busybox.isEmpty()) {
        *error = QStringLiteral("busybox not found: install the Debian package busybox-static");
        return false;
    }
    QByteArray pattern = QFile::encodeName(QDir::tempPath() + QStringLiteral("/stbsim-XXXXXX"));
    if (::mkdtemp(pattern.data()) == nullptr) {
        *error = QStringLiteral("cannot create the chroot folder");
        return false;
    }
    m_root = QFile::decodeName(pattern);
    ::chmod(pattern.constData(), 0755);

    QDir root(m_root);
    QStringList dirs = {QStringLiteral("bin"),  QStringLiteral("sbin"),     QStringLiteral("app"),
                        QStringLiteral("data"), QStringLiteral("tmp"),      QStringLiteral("root"),
                        QStringLiteral("dev"),  QStringLiteral("var/stubs")};
    if (options.withConfigDir)
        dirs << QStringLiteral("config");
    for (const QString& dir : dirs) {
        if (!root.mkpath(dir)) {
            *error = QStringLiteral("cannot create %1 in the chroot").arg(dir);
            return false;
        }
    }
    ::chmod(QFile::encodeName(root.filePath(QStringLiteral("tmp"))).constData(), 01777);

    if (!QFile::copy(busybox, root.filePath(QStringLiteral("bin/busybox")))) {
        *error = QStringLiteral("cannot copy %1 into the chroot").arg(busybox);
        return false;
    }
    for (const char* applet : kApplets) {
        const QString link = root.filePath(QStringLiteral("bin/") + QLatin1String(applet));
        if (::symlink("busybox", QFile::encodeName(link).constData()) != 0) {
            *error = QStringLiteral("cannot link applet %1").arg(QLatin1String(applet));
            return false;
        }
    }
    for (const char* stub : kStubs) {
        const QByteArray script = QByteArrayLiteral("#!/bin/sh\necho \"$*\" >> /var/stubs/") +
                                  QByteArray(stub) + QByteArrayLiteral("\n");
        if (!writeFile(root.filePath(QStringLiteral("sbin/") + QLatin1String(stub)), script,
                       0755)) {
            *error = QStringLiteral("cannot write the %1 stub").arg(QLatin1String(stub));
            return false;
        }
    }
    QByteArray shrc;
    for (const char* stub : kStubs)
        shrc += QByteArray(stub) + QByteArrayLiteral("() { /sbin/") + QByteArray(stub) +
                QByteArrayLiteral(" \"$@\"; }\n");
    if (!root.mkpath(QStringLiteral("etc")) ||
        !writeFile(root.filePath(QStringLiteral("etc/shrc")), shrc, 0644)) {
        *error = QStringLiteral("cannot write /etc/shrc");
        return false;
    }
    // The shell and vi cope without these, but a receiver has them and scripts use /dev/null.
    ::mknod(QFile::encodeName(root.filePath(QStringLiteral("dev/null"))).constData(),
            S_IFCHR | 0666, makedev(1, 3));
    ::mknod(QFile::encodeName(root.filePath(QStringLiteral("dev/tty"))).constData(), S_IFCHR | 0666,
            makedev(5, 0));

    for (const auto& [name, contents] : options.configFiles) {
        if (!options.withConfigDir || name.contains(QLatin1Char('/')) ||
            !writeFile(root.filePath(QStringLiteral("config/") + name), contents, 0644)) {
            *error = QStringLiteral("cannot put %1 into /config").arg(name);
            return false;
        }
    }
    return true;
}

bool ReceiverSimulator::startShell(const Options& options, QString* error) {
    int shellSlave = -1;
    winsize size{};
    size.ws_row = static_cast<unsigned short>(options.rows);
    size.ws_col = static_cast<unsigned short>(options.columns);
    if (::openpty(&m_shellMaster, &shellSlave, nullptr, nullptr, &size) != 0) {
        *error = QStringLiteral("openpty for the shell failed");
        return false;
    }
    ::fcntl(m_shellMaster, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_shellMaster, F_SETFL, ::fcntl(m_shellMaster, F_GETFL) | O_NONBLOCK);

    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        ::close(shellSlave);
        *error = QStringLiteral("pipe failed");
        return false;
    }
    // Everything the child needs is prepared here: between fork and exec only
    // async-signal-safe calls are allowed, and this process has threads.
    const std::string rootDir = QFile::encodeName(m_root).toStdString();
    const std::string startDir = QFile::encodeName(options.startDir).toStdString();
    const std::string configDir = rootDir + "/config";
    const bool readOnlyConfig = options.readOnlyConfig && options.withConfigDir;
    const char* const argv[] = {"sh", nullptr};
    const char* const envp[] = {"PATH=/sbin:/bin", "TERM=vt100", "HOME=/root", "SHELL=/bin/sh",
                                "ENV=/etc/shrc",   "PS1=\\w # ", nullptr};

    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(shellSlave);
        ::close(report[0]);
        ::close(report[1]);
        *error = QStringLiteral("fork failed");
        return false;
    }
    if (pid == 0) {
        auto fail = [&](int which) {
            const int codes[2] = {which, errno};
            (void)!::write(report[1], codes, sizeof codes);
            ::_exit(127);
        };
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int sig : {SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGCHLD, SIGTSTP, SIGTTOU, SIGTTIN})
            ::signal(sig, SIG_DFL);
        if (::setsid() < 0 || ::ioctl(shellSlave, TIOCSCTTY, 0) != 0)
            fail(10);
        if (::dup2(shellSlave, 0) < 0 || ::dup2(shellSlave, 1) < 0 || ::dup2(shellSlave, 2) < 0)
            fail(20);
        ::syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC);
        // Belt and braces against a stub being bypassed: no way to the host's network, and no
        // way to load a module into the host's kernel.
        if (::unshare(CLONE_NEWNET) != 0 || ::prctl(PR_CAPBSET_DROP, CAP_SYS_MODULE, 0, 0, 0) != 0)
            fail(30);
        // A read-only bind of /config in a mount namespace of the shell's own: vi then finds
        // the file not writable, as on a receiver whose flash is mounted read-only.
        if (readOnlyConfig &&
            (::unshare(CLONE_NEWNS) != 0 ||
             ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
             ::mount(configDir.c_str(), configDir.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
             ::mount(nullptr, configDir.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY,
                     nullptr) != 0))
            fail(35);
        if (::chroot(rootDir.c_str()) != 0)
            fail(40);
        if (::chdir(startDir.c_str()) != 0 && ::chdir("/") != 0)
            fail(50);
        ::execve("/bin/sh", const_cast<char* const*>(argv), const_cast<char* const*>(envp));
        fail(60);
    }
    m_shellPid = pid;
    ::close(shellSlave);
    ::close(report[1]);
    int codes[2] = {0, 0};
    const ssize_t got = ::read(report[0], codes, sizeof codes);
    ::close(report[0]);
    if (got > 0) {
        const char* what = codes[0] == 30   ? "isolating it (network namespace, capabilities)"
                           : codes[0] == 35 ? "mounting /config read-only"
                           : codes[0] == 40 ? "chroot"
                           : codes[0] == 60 ? "starting /bin/busybox inside the chroot "
                                              "(a dynamically linked busybox cannot run there: "
                                              "install busybox-static)"
                                            : "preparing the shell's terminal";
        *error = QStringLiteral("the simulated shell failed at %1: %2")
                     .arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(codes[1])));
        return false;
    }
    return true;
}

void ReceiverSimulator::relayLoop() {
    QByteArray toShell;
    QByteArray toCable;
    bool shellOpen = m_shellMaster >= 0;
    char buffer[4096];
    while (!m_stop.load()) {
        pollfd fds[3] = {{m_wakeFd, POLLIN, 0}, {m_cableMaster, POLLIN, 0}, {-1, 0, 0}};
        if (!toCable.isEmpty())
            fds[1].events |= POLLOUT;
        if (shellOpen) {
            fds[2] = {m_shellMaster, short(POLLIN | (toShell.isEmpty() ? 0 : POLLOUT)), 0};
        }
        if (::poll(fds, 3, 200) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[1].revents & POLLIN) {
            const ssize_t n = ::read(m_cableMaster, buffer, sizeof buffer);
            if (n > 0) {
                const QByteArray bytes(buffer, n);
                std::lock_guard lock(m_mutex);
                m_fromProgram += bytes;
                if (shellOpen)
                    toShell += bytes;
            }
        }
        if (shellOpen && (fds[2].revents & POLLIN)) {
            const ssize_t n = ::read(m_shellMaster, buffer, sizeof buffer);
            if (n > 0) {
                const QByteArray bytes(buffer, n);
                std::lock_guard lock(m_mutex);
                m_toProgram += bytes;
                toCable += bytes;
            } else if (n == 0 || errno != EAGAIN) {
                shellOpen = false; // the shell is gone; the line stays silent from now on
            }
        }
        if (shellOpen && (fds[2].revents & (POLLHUP | POLLERR)) && !(fds[2].revents & POLLIN))
            shellOpen = false;
        if (!toShell.isEmpty() && shellOpen)
            toShell = writeSome(m_shellMaster, toShell);
        if (!toCable.isEmpty())
            toCable = writeSome(m_cableMaster, toCable);
    }
}

void ReceiverSimulator::stop() {
    if (m_shellPid > 0) {
        ::kill(-m_shellPid, SIGKILL);
        ::kill(m_shellPid, SIGKILL);
        int status = 0;
        ::waitpid(m_shellPid, &status, 0);
        m_shellPid = -1;
    }
    m_stop.store(true);
    if (m_wakeFd >= 0) {
        const uint64_t one = 1;
        (void)!::write(m_wakeFd, &one, sizeof one);
    }
    if (m_relay.joinable())
        m_relay.join();
    for (int* fd : {&m_shellMaster, &m_cableMaster, &m_cableSlave, &m_wakeFd}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    removeRoot();
}

void ReceiverSimulator::removeRoot() {
    // Only ever a folder this object created itself.
    if (!m_root.isEmpty() && QFileInfo(m_root).fileName().startsWith(QLatin1String("stbsim-")))
        QDir(m_root).removeRecursively();
    m_root.clear();
}

std::optional<QByteArray> ReceiverSimulator::configFile(const QString& name) const {
    QFile file(m_root + QStringLiteral("/config/") + name);
    if (!QFileInfo(file).isFile() || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

std::optional<int> ReceiverSimulator::configFileMode(const QString& name) const {
    struct stat info {};
    const QByteArray path = QFile::encodeName(m_root + QStringLiteral("/config/") + name);
    if (::lstat(path.constData(), &info) != 0)
        return std::nullopt;
    return int(info.st_mode & 07777);
}

QStringList ReceiverSimulator::configListing() const {
    return QDir(m_root + QStringLiteral("/config"))
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                   QDir::Name);
}

QStringList ReceiverSimulator::stubCalls(const QString& stub) const {
    QFile file(m_root + QStringLiteral("/var/stubs/") + stub);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList calls = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    if (!calls.isEmpty() && calls.last().isEmpty())
        calls.removeLast();
    return calls;
}

QStringList ReceiverSimulator::runStartScript(const QString& stub) const {
    const QString record = m_root + QStringLiteral("/var/stubs/") + stub;
    QFile::remove(record);
    const std::string rootDir = QFile::encodeName(m_root).toStdString();
    const char* const argv[] = {"sh", "-c", ". /etc/shrc; cd /config && . ./start.sh", nullptr};
    const char* const envp[] = {"PATH=/sbin:/bin", "HOME=/root", nullptr};
    const pid_t pid = ::fork();
    if (pid < 0)
        return {};
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        if (null < 0 || ::dup2(null, 0) < 0 || ::dup2(null, 1) < 0 || ::dup2(null, 2) < 0 ||
            ::unshare(CLONE_NEWNET) != 0 ||
            ::prctl(PR_CAPBSET_DROP, CAP_SYS_MODULE, 0, 0, 0) != 0 ||
            ::chroot(rootDir.c_str()) != 0 || ::chdir("/") != 0)
            ::_exit(127);
        ::execve("/bin/sh", const_cast<char* const*>(argv), const_cast<char* const*>(envp));
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return stubCalls(stub);
}

QByteArray ReceiverSimulator::receivedFromProgram() const {
    std::lock_guard lock(m_mutex);
    return m_fromProgram;
}

QByteArray ReceiverSimulator::sentToProgram() const {
    std::lock_guard lock(m_mutex);
    return m_toProgram;
}

bool ReceiverSimulator::waitForOutput(const QByteArray& text, int timeoutMs, qsizetype from) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        {
            std::lock_guard lock(m_mutex);
            if (m_toProgram.indexOf(text, from) >= 0)
                return true;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace stbsim
