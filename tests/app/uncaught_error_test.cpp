// An error no handler caught is shown in an error box and the program goes on.
#include <QProcess>

#include <gtest/gtest.h>

namespace {

TEST(UncaughtError, IsShownAndTheProgramGoesOn) {
    QProcess probe;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    probe.setProcessEnvironment(env);
    probe.start(QStringLiteral(STBMATE_UNCAUGHT_PROBE), {});
    ASSERT_TRUE(probe.waitForFinished(20000));
    EXPECT_EQ(probe.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(probe.exitCode(), 0);
    EXPECT_EQ(QString::fromUtf8(probe.readAllStandardOutput()),
              "error: In /x/stbmate.ini kann nicht geschrieben werden\n"
              "error: Unbekannter Fehler\n"
              "still running\n");
}

} // namespace
