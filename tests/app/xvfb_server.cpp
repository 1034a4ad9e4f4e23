#include "tests/app/xvfb_server.h"

#include <QByteArray>
#include <QProcess>

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

bool XvfbServer::start() {
    int fds[2];
    if (::pipe(fds) != 0) {
        m_error = QStringLiteral("pipe failed");
        return false;
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        m_error = QStringLiteral("fork failed");
        return false;
    }
    if (pid == 0) {
        ::close(fds[0]);
        const QByteArray fd = QByteArray::number(fds[1]);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.constData(), "-screen", "0", "1024x768x24",
                 "-nolisten", "tcp", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    m_pid = pid;
    QByteArray number;
    pollfd p{fds[0], POLLIN, 0};
    while (!number.endsWith('\n')) {
        const int ready = ::poll(&p, 1, 15000);
        if (ready <= 0)
            break;
        char buf[16];
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n <= 0)
            break;
        number.append(buf, n);
    }
    ::close(fds[0]);
    if (!number.endsWith('\n')) {
        m_error = QStringLiteral("Xvfb did not report a display (is the xvfb package installed?)");
        return false;
    }
    m_display = QLatin1Char(':') + QString::fromLatin1(number.trimmed());
    return true;
}

XvfbServer::~XvfbServer() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

QProcessEnvironment XvfbServer::environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    return env;
}

QString RunTool(const QString& program, const QStringList& arguments,
                const QProcessEnvironment& env, int timeoutMs, int* exitCode) {
    QProcess tool;
    tool.setProcessEnvironment(env);
    tool.start(program, arguments);
    if (exitCode)
        *exitCode = -1;
    if (!tool.waitForStarted(5000))
        return QString();
    if (!tool.waitForFinished(timeoutMs)) {
        tool.kill();
        tool.waitForFinished(2000);
        return QString();
    }
    if (exitCode)
        *exitCode = tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
    return QString::fromLocal8Bit(tool.readAllStandardOutput()).trimmed();
}
