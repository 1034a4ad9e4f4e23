#include "tests/net/netns.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

extern char** environ;

namespace nettest {

namespace {
const char kChildMarker[] = "STBMATE_NET_NETNS_CHILD";
}

bool InsidePrivateNetns() {
    return qEnvironmentVariableIsSet(kChildMarker);
}

QString RequireProgram(const QString& name) {
    const QString path = QStandardPaths::findExecutable(name);
    EXPECT_FALSE(path.isEmpty()) << "program needed by this test is missing: "
                                 << name.toStdString();
    return path;
}

bool PeerProcess::start(const QString& program, const QStringList& arguments) {
    stop();
    std::vector<QByteArray> texts{QFile::encodeName(program)};
    for (const QString& argument : arguments)
        texts.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& text : texts)
        argv.push_back(text.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, argv.front(), nullptr, nullptr, argv.data(), environ);
    EXPECT_EQ(error, 0) << "could not start " << program.toStdString();
    if (error != 0)
        return false;
    m_pid = pid;
    return true;
}

void PeerProcess::stop() {
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

namespace {

// Runs the test binary once more, on the current test only, through program and arguments,
// with variable (name=value) added to its environment; a failure unless that run passed.
void runCurrentTest(const QString& program, QStringList arguments, const QString& variable,
                    int timeoutMs) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    arguments << QCoreApplication::applicationFilePath()
              << QStringLiteral("--gtest_filter=%1.%2").arg(info->test_suite_name(), info->name());
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const qsizetype equals = variable.indexOf(QLatin1Char('='));
    environment.insert(variable.left(equals), variable.mid(equals + 1));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(RequireProgram(program), arguments);
    ASSERT_TRUE(child.waitForStarted(10000));
    ASSERT_TRUE(child.waitForFinished(timeoutMs)) << "the test's second run did not finish";
    const QString output = QString::fromLocal8Bit(child.readAll());
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("[  PASSED  ] 1 test."))) << output.toStdString();
}

} // namespace

void RunCurrentTestInPrivateNetns(const QStringList& setupCommands) {
    QString script = QStringLiteral("set -e; ip link set lo up; ");
    for (const QString& command : setupCommands)
        script += command + QStringLiteral("; ");
    script += QStringLiteral("exec \"$0\" \"$1\"");
    runCurrentTest(QStringLiteral("unshare"),
                   {QStringLiteral("-n"), QStringLiteral("--"), QStringLiteral("/bin/sh"),
                    QStringLiteral("-c"), script},
                   QString::fromLatin1(kChildMarker) + QStringLiteral("=1"), 110000);
}

void RunCurrentTestAsNormalUser(const char* marker, const QString& value) {
    runCurrentTest(QStringLiteral("setpriv"),
                   {QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                    QStringLiteral("--clear-groups"), QStringLiteral("--inh-caps=-all")},
                   QString::fromLatin1(marker) + QLatin1Char('=') + value, 100000);
}

bool GiveToNormalUser(const QString& path) {
    const passwd* nobody = ::getpwnam("nobody");
    const bool given =
        nobody && ::chown(QFile::encodeName(path).constData(), nobody->pw_uid, nobody->pw_gid) == 0;
    EXPECT_TRUE(given) << "could not give " << path.toStdString() << " to nobody";
    return given;
}

std::string OwnStatusField(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(QByteArray(field) + ':'))
            return line.mid(qstrlen(field) + 1).trimmed().toStdString();
    }
    return {};
}

QString CopyPortHelper(const QString& builtHelper, const QString& folder, bool granted) {
    const QString copy = folder + QStringLiteral("/stbmate-port69");
    const bool made = QDir().mkpath(folder) && QFile::copy(builtHelper, copy);
    EXPECT_TRUE(made) << "could not copy the port helper to " << folder.toStdString();
    if (!made)
        return {};
    if (!granted)
        return copy;
    QProcess setcap;
    setcap.start(RequireProgram(QStringLiteral("setcap")),
                 {QStringLiteral("cap_net_bind_service=+ep"), copy});
    const bool set = setcap.waitForFinished(10000) && setcap.exitCode() == 0;
    EXPECT_TRUE(set) << "setcap failed: " << setcap.readAllStandardError().toStdString();
    return set ? copy : QString();
}

} // namespace nettest
