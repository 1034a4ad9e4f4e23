// Terminal1 inside the real main window, with a pseudo-terminal as the receiver's cable: what
// the receiver prints shows in the terminal, keys and replies reach the receiver, and a port
// change keeps the terminal attached to the port in use.
#include "log/session_log.h"
#include "terminal/terminal_widget.h"
#include "tests/support/fake_dialogs.h"
#include "tests/support/program_rig.h"
#include "tests/support/pty_pair.h"
#include "tests/support/test_support.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTabWidget>

#include <gtest/gtest.h>

namespace {

using stbtest::spinUntil;
using stbtest::widget;

std::string rowText(const TTerminal& t, int row) {
    const auto& cells = t.buffer().line(row).cells;
    std::string s;
    for (int c = 0; c < t.buffer().columns(); ++c)
        s += static_cast<char>(cells[static_cast<std::size_t>(c)].ch);
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

// Reads from the receiver's side while the window keeps running.
QByteArray readWhileSpinning(PtyPair& pty, qsizetype want, int timeoutMs) {
    QByteArray got;
    spinUntil(
        [&] {
            got += pty.read(want - got.size(), 5);
            return got.size() >= want;
        },
        timeoutMs);
    return got;
}

class TerminalWiring : public ::testing::Test {
protected:
    void SetUp() override {
        QFile ini(dir.file(QStringLiteral("stbmate.ini")));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write("[Main]\nLanguage=Deutsch\nIP=192.168.0.20\nDelay=0\nComPort=" +
                  QFile::encodeName(pty.path()) + "\n\n[Deutsch]\n");
        ini.close();
        form = &rig.start(dir.path());
        form->show();
        // The port opens on the first pass of the message loop.
        ASSERT_TRUE(spinUntil([&] { return rig.wiring().comPort().isOpen(); }, 5000));
    }

    stbtest::ScratchDir dir;
    SessionLog log{dir.path()};
    PtyPair pty;
    FakeDialogs dialogs;
    ProgramRig rig{dialogs, log};
    TForm1* form = nullptr;
};

TEST_F(TerminalWiring, ReceiverOutputShowsAndRepliesGoBack) {
    TTerminal* t = widget<TTerminal>(*form, "Terminal1");
    EXPECT_EQ(widget<QTabWidget>(*form, "PageControl1")->widget(0)->findChild<TTerminal*>(), t);
    ASSERT_TRUE(pty.write("BusyBox v1.00 built-in shell\r\n/ # \x1b[6n"));
    ASSERT_TRUE(spinUntil([&] { return rowText(*t, 1) == "/ #"; }, 5000));
    EXPECT_EQ(rowText(*t, 0), "BusyBox v1.00 built-in shell");
    EXPECT_EQ(readWhileSpinning(pty, 6, 5000), QByteArray("\x1b[2;5R"));
    {
        // While a job holds the receiver, the terminal's answers (ENQ, DA, DSR, cursor
        // report, DECREQTPARM) would be typed into the job's shell or editor.
        const auto hold = rig.wiring().gate().tryEnter(JobKind::SetAddress);
        ASSERT_TRUE(pty.write("\x05\x1b[c\x1b[5n\x1b[6n\x1b[x"));
        EXPECT_EQ(readWhileSpinning(pty, 1, 1000), QByteArray());
    }
    ASSERT_TRUE(pty.write("\x1b[5n"));
    EXPECT_EQ(readWhileSpinning(pty, 4, 5000), QByteArray("\x1b[0n"));

    QKeyEvent left(QEvent::KeyPress, Qt::Key_Left, Qt::NoModifier);
    QApplication::sendEvent(t, &left);
    QKeyEvent letter(QEvent::KeyPress, Qt::Key_L, Qt::NoModifier, QStringLiteral("l"));
    QApplication::sendEvent(t, &letter);
    EXPECT_EQ(readWhileSpinning(pty, 4, 5000), QByteArray("\x1b[Dl"));
}

TEST_F(TerminalWiring, KeysTypedWhileThePortIsClosedAreDropped) {
    rig.wiring().comPort().Close();
    QKeyEvent letter(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QApplication::sendEvent(widget<TTerminal>(*form, "Terminal1"), &letter);
    EXPECT_FALSE(rig.wiring().comPort().isOpen()); // the terminal does not open it
    EXPECT_TRUE(dialogs.transcript().empty());
    rig.wiring().comPort().Open();
    QKeyEvent again(QEvent::KeyPress, Qt::Key_B, Qt::NoModifier, QStringLiteral("b"));
    QApplication::sendEvent(widget<TTerminal>(*form, "Terminal1"), &again);
    EXPECT_EQ(readWhileSpinning(pty, 2, 1000), QByteArray("b"));
    // Registered again after the reopen: the receiver's output shows once more.
    ASSERT_TRUE(pty.write("reopened"));
    EXPECT_TRUE(spinUntil(
        [&] { return rowText(*widget<TTerminal>(*form, "Terminal1"), 0) == "reopened"; }, 5000));
}

TEST_F(TerminalWiring, PortChangeKeepsTheTerminalAttached) {
    PtyPair second;
    widget<QComboBox>(*form, "ComboBox2")->setEditText(second.path());
    emit widget<QComboBox>(*form, "ComboBox2")->lineEdit()->editingFinished();
    ASSERT_TRUE(spinUntil([&] { return rig.wiring().comPort().isOpen(); }, 5000));
    ASSERT_EQ(rig.wiring().comPort().devicePath(), second.path());
    ASSERT_TRUE(second.write("after the change\r\n"));
    ASSERT_TRUE(spinUntil(
        [&] { return rowText(*widget<TTerminal>(*form, "Terminal1"), 0) == "after the change"; },
        5000));
    // Exactly once: a second registration would have doubled every byte.
    ASSERT_TRUE(second.write("x"));
    spinUntil([&] { return rowText(*widget<TTerminal>(*form, "Terminal1"), 1) == "xx"; }, 600);
    EXPECT_EQ(rowText(*widget<TTerminal>(*form, "Terminal1"), 1), "x");
}

} // namespace
