// The first minute on a desktop, through the real window on a 1920x1080 offscreen screen: the
// PC's serial adapters in the port box, a window that grows, the keys a desktop terminal
// keeps for itself.
#include "app/ini_file.h"
#include "log/session_log.h"
#include "terminal/terminal_widget.h"
#include "tests/support/fake_dialogs.h"
#include "tests/support/program_rig.h"
#include "tests/support/pty_pair.h"
#include "tests/support/test_support.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QTest>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

using stbtest::widget;

// Every accessible name below iface, depth first.
void accessibleNames(QAccessibleInterface* iface, QStringList& names) {
    names << iface->text(QAccessible::Name);
    for (int i = 0; i < iface->childCount(); ++i)
        accessibleNames(iface->child(i), names);
}

class DesktopWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* d : {"dev", "by-id", "sys"})
            QDir().mkpath(rig.devices.file(QString::fromLatin1(d)));
    }
    void start(const QByteArray& language, const QByteArray& comPort) {
        QFile f(dir.file(QStringLiteral("stbmate.ini")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[Main]\nLanguage=" + language + "\nComPort=" + comPort +
                "\n[Deutsch]\nL3=Port\n[English]\nL3=Port\n");
        f.close();
        form = &rig.start(dir.path());
        form->show();
    }
    QString dev(const QString& name) const {
        return rig.devices.file(QStringLiteral("dev/") + name);
    }
    QStringList portItems() const {
        QComboBox* box = widget<QComboBox>(*form, "ComboBox2");
        QStringList list;
        for (int i = 0; i < box->count(); ++i)
            list << box->itemText(i);
        return list;
    }
    // Nothing arrives at the receiver's end for a moment.
    bool receiverGotNothing() {
        QTest::qWait(100);
        char byte;
        return ::read(pty.master(), &byte, 1) < 0;
    }

    stbtest::ScratchDir dir;
    SessionLog log{dir.path(), [] { return QDateTime(QDate(2026, 12, 6), QTime(9, 0)); }};
    PtyPair pty;
    FakeDialogs dialogs;
    ProgramRig rig{dialogs, log};
    TForm1* form = nullptr;
};

TEST_F(DesktopWindowTest, PortBoxOffersTheAdaptersOfThisPcByTheirStableNames) {
    QFile::link(pty.path(), dev(QStringLiteral("ttyUSB0")));
    const QString byId = rig.devices.file(QStringLiteral("by-id/usb-Adapter_A1-if00-port0"));
    QFile::link(dev(QStringLiteral("ttyUSB0")), byId);
    QFile::link(QStringLiteral("/dev/null"), dev(QStringLiteral("ttyS1"))); // COM2 already
    QFile::link(QStringLiteral("/dev/null"), dev(QStringLiteral("ttyS5")));
    for (const char* s : {"ttyS1", "ttyS5"}) {
        QDir().mkpath(rig.devices.file(QStringLiteral("sys/") + QLatin1String(s)));
        QFile type(rig.devices.file(QStringLiteral("sys/%1/type").arg(QLatin1String(s))));
        ASSERT_TRUE(type.open(QIODevice::WriteOnly));
        type.write("4\n");
    }
    start("Deutsch", QFile::encodeName(pty.path()));
    const QStringList com = {"COM1", "COM2", "COM3", "COM4"};
    EXPECT_EQ(portItems(), com + QStringList({dev(QStringLiteral("ttyS5")), byId}));

    // Plugged in and out while the program runs.
    QFile::link(QStringLiteral("/dev/null"), dev(QStringLiteral("ttyACM0")));
    EXPECT_TRUE(stbtest::spinUntil([&] { return portItems().size() == 7; }));
    EXPECT_EQ(portItems().at(4), dev(QStringLiteral("ttyACM0")));
    QFile::remove(dev(QStringLiteral("ttyACM0")));
    EXPECT_TRUE(stbtest::spinUntil([&] { return portItems().size() == 6; }));

    // Picking the adapter opens it; its entry is no COM number.
    QComboBox* box = widget<QComboBox>(*form, "ComboBox2");
    box->setCurrentIndex(5);
    emit box->activated(5);
    EXPECT_TRUE(rig.wiring().comPort().isOpen());
    EXPECT_EQ(form->portNumber(), 0);
    EXPECT_EQ(IniFile(dir.file(QStringLiteral("stbmate.ini"))).ReadString("Main", "ComPort"), byId);
}

TEST_F(DesktopWindowTest, APortThatDoesNotOpenAtStartIsToldInTheWindowsLanguage) {
    start("English", "/nonexistent/ttyUSB7");
    ASSERT_TRUE(stbtest::spinUntil([&] { return !dialogs.transcriptLines().isEmpty(); }));
    EXPECT_EQ(dialogs.transcriptLines().first(),
              "error: Port /nonexistent/ttyUSB7 is not open: there is no such device.\nPlease "
              "choose one of the connected ports in the \"Port\" box on the left, or type a "
              "device path.");
    EXPECT_TRUE(widget<QComboBox>(*form, "ComboBox2")->view()->isVisible()) << "list offered";
}

TEST_F(DesktopWindowTest, MaximisedTheTerminalTakesTheNewRowsAndColumns) {
    start("Deutsch", QFile::encodeName(pty.path()));
    auto* terminal = widget<TTerminal>(*form, "Terminal1");
    ASSERT_TRUE(stbtest::spinUntil([&] { return rig.wiring().comPort().isOpen(); }));
    QByteArray lines;
    for (int i = 1; i <= 60; ++i)
        lines += "line " + QByteArray::number(i) + "\r\n";
    ASSERT_TRUE(pty.write(lines));
    ASSERT_TRUE(stbtest::spinUntil([&] { return terminal->buffer().historyCount() > 0; }));
    EXPECT_EQ(form->size(), QSize(818, 467));
    const QSize first = terminal->size();
    const int rows = terminal->buffer().rows();
    EXPECT_GE(rows, 24);
    EXPECT_GE(terminal->buffer().columns(), 80);

    form->showMaximized();
    ASSERT_TRUE(stbtest::spinUntil([&] { return terminal->width() > first.width() * 3 / 2; }));
    EXPECT_GT(terminal->height(), first.height() * 3 / 2);
    EXPECT_GT(terminal->buffer().rows(), rows * 3 / 2);
    EXPECT_GT(terminal->buffer().columns(), 80 * 3 / 2);
    // The lines that had scrolled away come back onto the taller screen.
    EXPECT_EQ(terminal->buffer().historyCount(), 0);
    EXPECT_TRUE(terminal->plainText().startsWith(QStringLiteral("line 1\n")));
}

TEST_F(DesktopWindowTest, DesktopKeysStayInTheProgram) {
    start("Deutsch", QFile::encodeName(pty.path()));
    auto* terminal = widget<TTerminal>(*form, "Terminal1");
    ASSERT_TRUE(stbtest::spinUntil([&] { return rig.wiring().comPort().isOpen(); }));
    QByteArray lines = "hello\r\n";
    for (int i = 1; i <= 60; ++i)
        lines += "line " + QByteArray::number(i) + "\r\n";
    ASSERT_TRUE(pty.write(lines));
    ASSERT_TRUE(stbtest::spinUntil([&] { return terminal->buffer().historyCount() > 30; }));
    terminal->setFocus();

    const int size = terminal->fontPointSize();
    QTest::keyClick(terminal, Qt::Key_Plus, Qt::ControlModifier);
    EXPECT_EQ(terminal->fontPointSize(), size + 1);
    EXPECT_EQ(IniFile(dir.file(QStringLiteral("stbmate.ini"))).ReadString("Main", "FontSize"),
              QString::number(size + 1));
    QTest::keyClick(terminal, Qt::Key_Minus, Qt::ControlModifier);
    EXPECT_EQ(terminal->fontPointSize(), size);

    QTest::keyClick(terminal, Qt::Key_PageUp, Qt::ShiftModifier);
    EXPECT_GT(terminal->scrollBackLines(), 0);
    QTest::keyClick(terminal, Qt::Key_Home, Qt::ShiftModifier);
    EXPECT_EQ(terminal->scrollBackLines(), terminal->buffer().historyCount());
    // A click on "hello" selects nothing; a drag over it does, and Ctrl+Shift+C copies it.
    const QPoint h(2, 4);
    QTest::mouseClick(terminal->viewport(), Qt::LeftButton, {}, h);
    EXPECT_EQ(terminal->selectedText(), QString());
    QTest::mousePress(terminal->viewport(), Qt::LeftButton, {}, h);
    QTest::mouseMove(terminal->viewport(), h + QPoint(30, 0));
    QTest::mouseRelease(terminal->viewport(), Qt::LeftButton, {}, h + QPoint(30, 0));
    ASSERT_TRUE(terminal->selectedText().startsWith(QStringLiteral("hel")));
    QApplication::clipboard()->clear();
    QTest::keyClick(terminal, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), terminal->selectedText());
    QTest::keyClick(terminal, Qt::Key_End, Qt::ShiftModifier);
    EXPECT_EQ(terminal->scrollBackLines(), 0);
    EXPECT_TRUE(receiverGotNothing());
}

} // namespace

namespace {

// In English the terminal speaks English too, its find bar is reachable by a screen reader,
// and Hilfe opens the log folder in the file manager.
TEST_F(DesktopWindowTest, EnglishThroughoutFindBarAccessibleLogFolderOpens) {
    start("English", QFile::encodeName(pty.path()));
    auto* terminal = widget<TTerminal>(*form, "Terminal1");
    QMenu menu;
    terminal->fillContextMenu(menu);
    QStringList texts;
    for (QAction* action : menu.actions())
        texts << action->text();
    EXPECT_EQ(texts, (QStringList{"Copy", "Paste", "Select all", "", "Find …", "Save to file …"}));

    terminal->showFindBar();
    QStringList names;
    accessibleNames(QAccessible::queryAccessibleInterface(form), names);
    EXPECT_TRUE(names.contains("Find")) << names.join(u'|').toStdString();
    EXPECT_TRUE(names.contains("Next match"));

    QAction* logFolder = widget<QAction>(*form, "LogFolder1");
    EXPECT_EQ(logFolder->text(), "Open log folder");
    logFolder->trigger();
    EXPECT_EQ(rig.starter.started, QStringList{"xdg-open " + log.folder()});
    form->N1Click();
    EXPECT_TRUE(dialogs.transcriptLines().last().contains("\nAuthor: stbmate developers\n"));
}

} // namespace
