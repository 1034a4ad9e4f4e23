#include "tests/net/netns.h"

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>

#include <gtest/gtest.h>

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
