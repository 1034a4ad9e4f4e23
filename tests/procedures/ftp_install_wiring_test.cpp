// The FTP server command as the user meets it: the real main window, its menu item, the
// language's texts, the real network check. Inside a namespace of its own the receiver's
// address answers the echo but nothing listens on the telnet port, so the run must stop
// after the check with the language's Msg8.
#include "app/status_light.h"
#include "log/session_log.h"
#include "tests/net/netns.h"
#include "tests/procedures/session_log_capture.h"
#include "tests/support/fake_dialogs.h"
#include "tests/support/program_rig.h"
#include "tests/support/test_support.h"

#include <QAction>
#include <QFile>
#include <QTabWidget>

#include <gtest/gtest.h>

#include <memory>

namespace {

using stbtest::widget;

TEST(FtpInstallWiring, MenuItemRunsTheCheckAndStopsWithTheLanguagesMessage) {
    NET_TEST_IN_PRIVATE_NETNS();
    stbtest::ScratchDir dir;
    SessionLogCapture log;
    QFile ini(dir.file(QStringLiteral("stbmate.ini")));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    // No serial port is needed; the port setting names a device that does not exist.
    ini.write("[Main]\nLanguage=Deutsch\nIP=127.0.0.2\nDelay=0\nComPort=" +
              QFile::encodeName(dir.file(QStringLiteral("no-such-port"))) +
              "\n\n[Deutsch]\nMsg8=Keine Netzwerkverbindung\nMsg9=Weiter?\n");
    ini.close();

    FakeDialogs dialogs;
    ProgramRig rig{dialogs, log};
    TForm1* form = &rig.start(dir.path());
    ASSERT_TRUE(form->created());
    form->show();
    // The port is opened on the first pass of the event loop and reports the missing device;
    // that box belongs to the start, not to the command.
    ASSERT_TRUE(stbtest::spinUntil([&] { return !dialogs.transcript().empty(); }, 5000));
    const qsizetype stepsAtStart = log.steps().size();
    dialogs.clear();
    widget<QTabWidget>(*form, "PageControl1")->setCurrentIndex(0);
    widget<TStatusLight>(*form, "StatusLight2")->setLit(true);

    widget<QAction>(*form, "FTPServerinstallieren1")->trigger();

    EXPECT_EQ(dialogs.transcriptLines().join('|').toStdString(), "error: Keine Netzwerkverbindung");
    EXPECT_EQ(log.steps().mid(stepsAtStart),
              QStringList({"****** COMMAND: check network connection ******",
                           "###### no network connection ! --> EXIT"}));
    EXPECT_FALSE(widget<TStatusLight>(*form, "StatusLight2")->Lit());
    EXPECT_EQ(widget<QTabWidget>(*form, "PageControl1")->currentIndex(), 1);
    EXPECT_EQ(form->ownAddress(), QStringLiteral("127.0.0.1"));
    EXPECT_FALSE(rig.wiring().httpServer().active());
    rig.parts.reset();
}

} // namespace
