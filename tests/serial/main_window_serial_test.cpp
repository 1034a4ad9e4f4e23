// The serial port inside the main window: opened on the first pass of the message loop,
// console lines in the session log from the start, the port box, the check button's serial
// light and the error box for failures no command catches.
#include "app/status_light.h"
#include "log/session_log.h"
#include "tests/support/fake_dialogs.h"
#include "tests/support/program_rig.h"
#include "tests/support/pty_pair.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <QStatusBar>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>

#include <atomic>
#include <thread>

namespace {

using stbtest::spinUntil;
using stbtest::widget;

class MainWindowSerial : public ::testing::Test {
protected:
    stbtest::ScratchDir dir;
    SessionLog log{dir.path()};
    FakeDialogs dialogs;
    ProgramRig rig{dialogs, log};

    TForm1* makeForm(const QString& comPort) {
        QFile ini(dir.file(QStringLiteral("stbmate.ini")));
        EXPECT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write("[Main]\nLanguage=Deutsch\nIP=192.168.0.20\nDelay=0\nComPort=" +
                  comPort.toUtf8() + "\n\n[Deutsch]\nL9=Port\n");
        ini.close();
        return &rig.start(dir.path());
    }
    QString logText() const {
        QString text;
        const QDir logs(dir.file(QStringLiteral("Logs")));
        for (const QString& name : logs.entryList(QDir::Files)) {
            QFile f(logs.filePath(name));
            if (f.open(QIODevice::ReadOnly))
                text += QString::fromUtf8(f.readAll());
        }
        return text;
    }
};

TEST_F(MainWindowSerial, PortOpensOnTheFirstLoopPassAndConsoleLinesAreLogged) {
    PtyPair pty;
    auto form = makeForm(pty.path());
    ASSERT_TRUE(form->created());
    EXPECT_FALSE(rig.wiring().comPort().isOpen()); // not before the message loop runs
    QApplication::processEvents();
    EXPECT_TRUE(rig.wiring().comPort().isOpen());
    ASSERT_TRUE(pty.write("BusyBox v1.00 built-in shell\r\n"));
    ASSERT_TRUE(spinUntil([&] { return logText().contains("BusyBox v1.00 built-in shell"); }));
    EXPECT_TRUE(dialogs.transcript().empty());
}

TEST_F(MainWindowSerial, FailedStartupOpenShowsOneErrorBoxAndTheProgramGoesOn) {
    auto form = makeForm(QStringLiteral("/dev/stbmate-no-such-port"));
    ASSERT_TRUE(form->created());
    spinUntil([] { return false; }, 200);
    // One box, in the window's language, naming the port.
    ASSERT_EQ(dialogs.transcriptLines().size(), 1);
    EXPECT_TRUE(dialogs.transcriptLines().first().startsWith(
        QStringLiteral("error: Port /dev/stbmate-no-such-port")));
    EXPECT_FALSE(rig.wiring().comPort().isOpen());
}

TEST_F(MainWindowSerial, CheckButtonSetsTheSerialLightFromTheCheck) {
    PtyPair pty;
    auto form = makeForm(pty.path());
    QApplication::processEvents();
    {
        EchoPeer peer(pty);
        widget<QPushButton>(*form, "Button2")->click();
        EXPECT_TRUE(widget<TStatusLight>(*form, "StatusLight1")->Lit());
    }
    pty.read(4096, 100);                            // whatever the echo left behind
    widget<QPushButton>(*form, "Button2")->click(); // nobody answers now
    EXPECT_FALSE(widget<TStatusLight>(*form, "StatusLight1")->Lit());
    EXPECT_TRUE(dialogs.transcript().empty()) << dialogs.transcriptLines().join('\n').toStdString();
}

TEST_F(MainWindowSerial, PortBoxWithADevicePathMovesThePortThere) {
    PtyPair first;
    PtyPair second;
    auto form = makeForm(first.path());
    QApplication::processEvents();
    ASSERT_TRUE(rig.wiring().comPort().isOpen());
    // Typed: the open port stays until editing ends, then moves there.
    widget<QComboBox>(*form, "ComboBox2")->setEditText(second.path());
    EXPECT_EQ(rig.wiring().comPort().devicePath(), first.path());
    emit widget<QComboBox>(*form, "ComboBox2")->lineEdit()->editingFinished();
    EXPECT_TRUE(rig.wiring().comPort().isOpen());
    EXPECT_EQ(rig.wiring().comPort().devicePath(), second.path());
    rig.wiring().consoleDialogue().sendKeys("ls\r");
    EXPECT_EQ(second.read(3, 2000), QByteArray("ls\r"));
    EXPECT_TRUE(first.read(3, 200).isEmpty());
    // A half-typed name leaves the open port alone.
    widget<QComboBox>(*form, "ComboBox2")->setEditText(QStringLiteral("/dev/ttyUS"));
    EXPECT_EQ(rig.wiring().comPort().devicePath(), second.path());
    EXPECT_TRUE(dialogs.transcript().empty()) << dialogs.transcriptLines().join('\n').toStdString();

    // Ended on a closed port: opened at once; a wrong name is reported with the path.
    rig.wiring().comPort().Close();
    widget<QComboBox>(*form, "ComboBox2")->setEditText(first.path());
    EXPECT_FALSE(rig.wiring().comPort().isOpen());
    emit widget<QComboBox>(*form, "ComboBox2")->lineEdit()->editingFinished();
    EXPECT_TRUE(rig.wiring().comPort().isOpen());
    EXPECT_EQ(rig.wiring().comPort().devicePath(), first.path());
    rig.wiring().comPort().Close();
    widget<QComboBox>(*form, "ComboBox2")->setEditText(QStringLiteral("/dev/stbmate-no-such-port"));
    emit widget<QComboBox>(*form, "ComboBox2")->lineEdit()->editingFinished();
    ASSERT_EQ(dialogs.transcriptLines().size(), 1);
    EXPECT_TRUE(dialogs.transcriptLines().first().startsWith(
        QStringLiteral("error: Port /dev/stbmate-no-such-port")));
}

// With no job running, an unplugged device is told in the status bar, not in a box that
// would wait for a click: the port comes back by itself when the device does.
TEST_F(MainWindowSerial, VanishedDeviceIsToldInTheStatusBar) {
    auto pty = std::make_unique<PtyPair>();
    const QString path = pty->path();
    auto form = makeForm(path);
    QApplication::processEvents();
    ASSERT_TRUE(rig.wiring().comPort().isOpen());
    form->setSerialLight(true);
    pty.reset();
    ASSERT_TRUE(spinUntil([&] { return !rig.wiring().comPort().isOpen(); }));
    // A pseudo-terminal is not waited for: its number goes to the next terminal anyone opens.
    ASSERT_TRUE(spinUntil([&] {
        return form->statusBar()->currentMessage() ==
               path + " getrennt – bitte den Port neu wählen";
    }));
    spinUntil([] { return false; }, 300);
    EXPECT_TRUE(dialogs.transcript().empty()) << dialogs.transcriptLines().join('\n').toStdString();
    EXPECT_FALSE(widget<TStatusLight>(*form, "StatusLight1")->Lit())
        << "the serial light goes red with the port";
}

} // namespace
