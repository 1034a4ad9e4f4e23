#include "tests/net/netns.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

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

void RunCurrentTestInPrivateNetns(const QStringList& setupCommands) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const QString filter =
        QStringLiteral("--gtest_filter=%1.%2").arg(info->test_suite_name(), info->name());
    QString script = QStringLiteral("set -e; ip link set lo up; ");
    for (const QString& command : setupCommands)
        script += command + QStringLiteral("; ");
    script += QStringLiteral("exec \"$0\" \"$1\"");

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(kChildMarker), QStringLiteral("1"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(RequireProgram(QStringLiteral("unshare")),
                {QStringLiteral("-n"), QStringLiteral("--"), QStringLiteral("/bin/sh"),
                 QStringLiteral("-c"), script, QCoreApplication::applicationFilePath(), filter});
    ASSERT_TRUE(child.waitForStarted(10000));
    ASSERT_TRUE(child.waitForFinished(110000)) << "namespaced test did not finish";
    const QString output = QString::fromLocal8Bit(child.readAll());
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("[  PASSED  ] 1 test."))) << output.toStdString();
}

} // namespace nettest
