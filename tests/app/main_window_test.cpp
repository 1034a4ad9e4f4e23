// The main window on Qt's offscreen platform with a scratch stbmate.ini: start-up, language
// box rules, language switch, port box, address field, refused writes, small commands.
#include "app/status_light.h"
#include "app/terminal_hint.h"
#include "log/session_log.h"
#include "net/telnet_data_handler.h"
#include "serial/com_port.h"
#include "terminal/terminal_widget.h"
#include "tests/support/fake_dialogs.h"
#include "tests/support/fake_main_view.h"
#include "tests/support/program_rig.h"
#include "tests/support/pty_pair.h"
#include "tests/support/test_support.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <vector>

#include <poll.h>
#include <unistd.h>

namespace {

using stbtest::widget;

const char* kGerman[] = {"Datei",
                         "Beenden",
                         "Funktionen",
                         "IP-Adresse setzen/ändern",
                         "FTP-Server installieren",
                         "Notfall-Image aufspielen",
                         "Hilfe",
                         "IP-Adresse UFS910",
                         "Sprache",
                         "Port",
                         "serielle Verbindung",
                         "Netzwerkverbindung",
                         "eigene IP-Adresse",
                         "Verbindungsstatus",
                         "Prüfen"};
const char* kEnglish[] = {"File",
                          "Exit",
                          "Functions",
                          "Set/change IP address",
                          "Install FTP server",
                          "Load emergency image",
                          "Help",
                          "IP address UFS910",
                          "Language",
                          "Port",
                          "serial connection",
                          "network connection",
                          "own IP address",
                          "Connection status",
                          "Check"};

QByteArray languageSection(const char* name, const char* const* captions) {
    QByteArray s = QByteArray("[") + name + "]\n";
    for (size_t i = 0; i < kCaptionKeys.size(); ++i)
        s += QByteArray(kCaptionKeys[i]) + "=" + captions[i] + "\n";
    for (int n : {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13,
                  14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, int(MessageId::PleaseWait)})
        s +=
            "Msg" + QByteArray::number(n) + "=" + name + " message " + QByteArray::number(n) + "\n";
    return s;
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {}
    void TearDown() override {
        // The machine's own serial ports are never to be touched by these tests.
        const QDir fds(QStringLiteral("/proc/self/fd"));
        for (const QString& fd : fds.entryList(QDir::System | QDir::NoDotAndDotDot))
            EXPECT_FALSE(QFile::symLinkTarget(fds.filePath(fd)).startsWith("/dev/ttyS"));
    }

    void writeIni(const QByteArray& text) {
        QFile f(iniPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
    }
    // The stored port is a pseudo-terminal the test holds, so that whatever the port does
    // with it stays inside the test.
    void writeStandardIni(QByteArray comPort = QByteArray()) {
        if (comPort.isEmpty())
            comPort = QFile::encodeName(pty.path());
        writeIni("[Main]\nLanguage=Deutsch\nIP=192.168.0.20\nDelay=$10\nComPort=" + comPort +
                 "\n\n" + languageSection("Deutsch", kGerman) + "\n" +
                 languageSection("English", kEnglish));
    }
    QString iniPath() const { return dir.file(QStringLiteral("stbmate.ini")); }
    QString logText() const {
        return QString::fromUtf8(readFile(dir.file(QStringLiteral("Logs/stbmate-2026-12-06.log"))));
    }
    // A whole program each: a test may hold two windows at once.
    TForm1* makeForm() {
        return &programs.emplace_back(std::make_unique<ProgramRig>(dialogs, log))
                    ->start(dir.path());
    }
    // The wiring of the window made last.
    ReceiverWiring& lastWiring() { return programs.back()->wiring(); }
    // The keyed captions in the order of kCaptionKeys: a menu's or a group's title, else the
    // control's text.
    static QStringList captions(TForm1& f) {
        QStringList texts;
        for (const char* name :
             {"Datei1", "Beenden1", "Funktionen1", "IPAdressesetzenndern1",
              "FTPServerinstallieren1", "NotfallImageaufspielen1", "Hilfe1", "Label1", "Label2",
              "Label3", "Label4", "Label5", "Label6", "GroupBox1", "Button2"}) {
            const QObject* control = widget<QObject>(f, name);
            const QVariant title = control->property("title");
            texts << (title.isValid() ? title : control->property("text")).toString();
        }
        return texts;
    }
    static QStringList expected(const char* const* texts) {
        QStringList list;
        for (size_t i = 0; i < kCaptionKeys.size(); ++i)
            list << QString::fromUtf8(texts[i]);
        return list;
    }
    static QStringList items(QComboBox* box) {
        QStringList list;
        for (int i = 0; i < box->count(); ++i)
            list << box->itemText(i);
        return list;
    }

    stbtest::ScratchDir dir;
    SessionLog log{dir.path(), [] { return QDateTime(QDate(2026, 12, 6), QTime(14, 3, 27)); }};
    PtyPair pty;
    FakeDialogs dialogs;
    std::vector<std::unique_ptr<ProgramRig>> programs;
};

TEST_F(MainWindowTest, StartUpReadsSettingsAndAppliesTheLanguage) {
    writeStandardIni();
    auto form = makeForm();
    ASSERT_TRUE(form->created());
    EXPECT_TRUE(dialogs.transcript().empty());
    EXPECT_EQ(items(widget<QComboBox>(*form, "ComboBox1")), (QStringList{"Deutsch", "English"}));
    EXPECT_EQ(widget<QComboBox>(*form, "ComboBox1")->currentText(), "Deutsch");
    EXPECT_EQ(form->currentLanguage(), "Deutsch");
    EXPECT_EQ(widget<QLineEdit>(*form, "Edit1")->text(), "192.168.0.20");
    EXPECT_EQ(form->settleDelay(), 16);
    EXPECT_EQ(form->portNumber(), 0) << "a device path names no entry";
    EXPECT_EQ(form->portText(), pty.path());
    EXPECT_EQ(captions(*form), expected(kGerman));
    EXPECT_EQ(form->messages().text(MessageId::PleaseWait), "Deutsch message 40");
    EXPECT_EQ(widget<QTabWidget>(*form, "PageControl1")->currentIndex(), 0);
    EXPECT_EQ(widget<QTabWidget>(*form, "PageControl1")->tabText(0), "Seriell");
    EXPECT_EQ(widget<QTabWidget>(*form, "PageControl1")->tabText(1), "Netzwerk");

    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d$"))
                    .match(widget<QLabel>(*form, "StatusPanel0")->text())
                    .hasMatch())
        << widget<QLabel>(*form, "StatusPanel0")->text().toStdString();
    EXPECT_EQ(widget<QLabel>(*form, "StatusPanel1")->text(), "stbmate.exe");
    // The test program carries no version record, so the panel holds the prefix alone.
    EXPECT_EQ(widget<QLabel>(*form, "StatusPanel2")->text(), "Version: ");
    EXPECT_EQ(widget<QLabel>(*form, "StatusPanel3")->text(), QString());
    EXPECT_EQ(logText(), "14:03:27 - ****** start programm ******\r\n");
    // Start-up fills the boxes without storing anything.
    EXPECT_EQ(QFile(iniPath()).size(), qint64(readFile(iniPath()).size()));
    EXPECT_TRUE(readFile(iniPath()).startsWith("[Main]\nLanguage=Deutsch\nIP=192.168.0.20\n"));
}

TEST_F(MainWindowTest, FirstLookHintShowsOverTheTerminalUntilTheFirstByte) {
    writeStandardIni();
    {
        QFile f(iniPath());
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write("\n[Plattdeutsch]\nHint1=Enter drücken\n");
    }
    auto form = makeForm();
    ASSERT_TRUE(form->created());
    auto* hint = widget<TTerminal>(*form, "Terminal1")->viewport()->findChild<TTerminalHint*>();
    ASSERT_NE(hint, nullptr);
    ASSERT_TRUE(stbtest::spinUntil([&] { return lastWiring().comPort().isOpen(); }));
    ASSERT_TRUE(stbtest::spinUntil([&] { return !hint->isHidden(); }));
    EXPECT_EQ(hint->text(),
              QString::fromUtf8("Eingabetaste drücken, um die Eingabeaufforderung des Receivers "
                                "zu sehen"));
    // The key of the active language wins over the built-in text; any other language without
    // the key gets the English one.
    const struct {
        const char* language;
        const char* text;
    } texts[] = {{"Plattdeutsch", "Enter drücken"},
                 {"English", "Press Enter to see the receiver's prompt"}};
    for (const auto& t : texts) {
        widget<QComboBox>(*form, "ComboBox1")->setEditText(QString::fromUtf8(t.language));
        EXPECT_EQ(hint->text(), QString::fromUtf8(t.text)) << t.language;
    }

    // Nothing went to the receiver, and the hint is not part of the terminal's screen.
    char sent[16];
    EXPECT_LT(::read(pty.master(), sent, sizeof sent), 0);
    for (const terminal::Cell& cell :
         widget<TTerminal>(*form, "Terminal1")->buffer().screenRow(0).cells)
        ASSERT_EQ(cell.ch, ' ');

    ASSERT_TRUE(pty.write("x"));
    EXPECT_TRUE(stbtest::spinUntil([&] { return hint->isHidden(); }));
    // A reopen (a replug, a port change) shows it again until that open's first byte.
    lastWiring().comPort().Close();
    lastWiring().comPort().Open();
    EXPECT_TRUE(stbtest::spinUntil([&] { return !hint->isHidden(); }));
    ASSERT_TRUE(pty.write("y"));
    EXPECT_TRUE(stbtest::spinUntil([&] { return hint->isHidden(); }));
}

TEST_F(MainWindowTest, LanguageBoxListsSectionsWithoutMainInAnyCase) {
    writeIni("[Klingon]\nL2=x\n[main]\nLanguage=Klingon\n[Deutsch]\n[English]\n");
    auto form = makeForm();
    ASSERT_TRUE(form->created());
    EXPECT_EQ(items(widget<QComboBox>(*form, "ComboBox1")),
              (QStringList{"Klingon", "Deutsch", "English"}));
    EXPECT_EQ(widget<QComboBox>(*form, "ComboBox1")->currentText(), "Klingon");
    EXPECT_EQ(widget<QLabel>(*form, "Label2")->text(), "x");
    // A language lacking a key shows that caption empty.
    EXPECT_EQ(widget<QAction>(*form, "FTPServerinstallieren1")->text(), QString());
}

TEST_F(MainWindowTest, WithoutMainEverySectionIsALanguageAndEveryCaptionIsEmpty) {
    writeIni(languageSection("Deutsch", kGerman) + languageSection("English", kEnglish));
    auto form = makeForm();
    ASSERT_TRUE(form->created());
    EXPECT_EQ(items(widget<QComboBox>(*form, "ComboBox1")), (QStringList{"Deutsch", "English"}));
    EXPECT_EQ(form->currentLanguage(), QString());
    EXPECT_EQ(widget<QComboBox>(*form, "ComboBox1")->currentText(), QString());
    EXPECT_EQ(captions(*form), QStringList(15, QString()));
    for (int n = 1; n <= 25; ++n)
        EXPECT_EQ(form->messages().text(MessageId(n)), QString()) << n;
    // The "please wait" text is never blank: a running job's status and refusals show it.
    EXPECT_EQ(form->messages().text(MessageId::PleaseWait),
              MessageCatalogue::builtInText(MessageId::PleaseWait));
    // A key newer than the settings file falls back to its built-in text.
    EXPECT_EQ(form->messages().text(MessageId::InvalidAddress),
              MessageCatalogue::builtInText(MessageId::InvalidAddress));
    EXPECT_FALSE(form->messages().text(MessageId::InvalidAddress).isEmpty());
    EXPECT_EQ(form->portNumber(), 0);
    EXPECT_EQ(form->settleDelay(), 0);
    EXPECT_EQ(widget<QTabWidget>(*form, "PageControl1")->tabText(0), "Seriell");
}

TEST_F(MainWindowTest, NegativeDelayCountsAsZeroAndIsLoggedOnce) {
    writeIni("[Main]\nLanguage=Deutsch\nDelay=-8\n\n" + languageSection("Deutsch", kGerman));
    auto form = makeForm();
    ASSERT_TRUE(form->created());
    EXPECT_EQ(form->settleDelay(), 0);
    EXPECT_EQ(logText().count(QStringLiteral("Delay -8 is below 0, 0 is used")), 1)
        << logText().toStdString();
}

TEST_F(MainWindowTest, SwitchingToEnglishStoresItAndChangesEveryKeyedCaption) {
    writeStandardIni();
    auto form = makeForm();
    ASSERT_TRUE(form->created());
    widget<QComboBox>(*form, "ComboBox1")->setCurrentIndex(1); // as when the user picks "English"
    IniFile ini(iniPath());
    EXPECT_EQ(ini.ReadString("Main", "Language"), "English");
    EXPECT_EQ(form->currentLanguage(), "English");
    EXPECT_EQ(captions(*form), expected(kEnglish));
    EXPECT_EQ(form->messages().text(MessageId::DownloadFailed), "English message 25");
    // Texts without a key stay as they are in every language.
    EXPECT_EQ(widget<QTabWidget>(*form, "PageControl1")->tabText(0), "Seriell");
    EXPECT_EQ(widget<QTabWidget>(*form, "PageControl1")->tabText(1), "Netzwerk");
    EXPECT_EQ(widget<QAction>(*form, "N1")->text(), "?");
    EXPECT_EQ(widget<QAction>(*form, "SatChannelListEditor1")->text(),
              "SatChannelListEditor starten");
    // Screen readers hear the new captions.
    EXPECT_EQ(widget<QLineEdit>(*form, "Edit1")->accessibleName(), "IP address UFS910");
    // Nothing else in the file changed.
    EXPECT_EQ(ini.ReadString("Main", "IP"), "192.168.0.20");
    EXPECT_EQ(ini.ReadString("Main", "Delay"), "$10");
}

// Text that names no language of the file changes nothing and is not stored: a half-typed
// name would blank every caption, and stored, the next start too.
TEST_F(MainWindowTest, TheLanguageBoxTakesOnlyALanguageTheFileHas) {
    writeStandardIni();
    auto form = makeForm();
    ASSERT_TRUE(form->created());
    QComboBox* box = widget<QComboBox>(*form, "ComboBox1");
    box->lineEdit()->clear();
    QTest::keyClicks(box->lineEdit(), QStringLiteral("Fr"));
    EXPECT_EQ(captions(*form), expected(kGerman));
    EXPECT_EQ(IniFile(iniPath()).ReadString("Main", "Language"), "Deutsch");
    box->lineEdit()->clear();
    QTest::keyClicks(box->lineEdit(), QStringLiteral("english"));
    EXPECT_EQ(captions(*form), expected(kEnglish));
    EXPECT_EQ(IniFile(iniPath()).ReadString("Main", "Language"), "English");
}

TEST_F(MainWindowTest, PortBoxStoresItsTextAndSetsThePortNumber) {
    writeStandardIni();
    auto form = makeForm();
    ASSERT_TRUE(form->created());
    widget<QComboBox>(*form, "ComboBox2")->setCurrentIndex(2);
    EXPECT_EQ(IniFile(iniPath()).ReadString("Main", "ComPort"), "COM3");
    EXPECT_EQ(form->portNumber(), 3);
    EXPECT_EQ(form->portText(), "COM3");
    // The closed port only records the number; nothing is opened.
    EXPECT_EQ(lastWiring().comPort().ComNumber(), 3);
    EXPECT_FALSE(lastWiring().comPort().isOpen());

    // A device path names no entry: number 0, the text kept for the port to open.
    widget<QComboBox>(*form, "ComboBox2")->setEditText(QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(IniFile(iniPath()).ReadString("Main", "ComPort"), "/dev/ttyUSB0");
    EXPECT_EQ(form->portNumber(), 0);
    EXPECT_EQ(form->portText(), "/dev/ttyUSB0");
}

TEST_F(MainWindowTest, StoredPortTextSelectsItsEntryAtStartUp) {
    writeStandardIni("com4");
    auto form = makeForm();
    EXPECT_EQ(form->portNumber(), 4);
    EXPECT_EQ(form->portText(), "com4");
    writeStandardIni("/dev/nonexistent-port");
    auto second = makeForm();
    EXPECT_EQ(second->portNumber(), 0);
    EXPECT_EQ(second->portText(), "/dev/nonexistent-port");
}

TEST_F(MainWindowTest, LeavingTheAddressFieldStoresItOwnAddressNever) {
    writeStandardIni();
    auto form = makeForm();
    ASSERT_TRUE(form->created());
    widget<QLineEdit>(*form, "Edit1")->setText(QStringLiteral("10.1.1.1"));
    widget<QLineEdit>(*form, "Edit2")->setText(QStringLiteral("10.1.1.2"));
    EXPECT_EQ(IniFile(iniPath()).ReadString("Main", "IP"), "192.168.0.20");
    QFocusEvent out(QEvent::FocusOut);
    QApplication::sendEvent(widget<QLineEdit>(*form, "Edit1"), &out);
    EXPECT_EQ(IniFile(iniPath()).ReadString("Main", "IP"), "10.1.1.1");
    EXPECT_FALSE(readFile(iniPath()).contains("10.1.1.2"));
}

TEST_F(MainWindowTest, RefusedWritesShowTheErrorAndStopTheHandler) {
    writeStandardIni();
    auto form = makeForm();
    ASSERT_TRUE(form->created());
    // The settings file's folder disappears under the running program.
    ASSERT_TRUE(QDir(dir.path()).removeRecursively());
    const QString message = "In " + iniPath() + " kann nicht geschrieben werden";

    widget<QComboBox>(*form, "ComboBox1")->setCurrentIndex(1);
    EXPECT_EQ(dialogs.transcriptLines(), QStringList{"error: " + message});
    EXPECT_EQ(captions(*form), expected(kGerman)) << "texts must not be re-applied";

    const int portBefore = form->portNumber();
    widget<QComboBox>(*form, "ComboBox2")->setCurrentIndex(2);
    EXPECT_EQ(form->portNumber(), portBefore) << "the port number must not change";
    EXPECT_EQ(lastWiring().comPort().ComNumber(), 0);
    EXPECT_EQ(lastWiring().comPort().devicePath(), pty.path());
    EXPECT_EQ(dialogs.transcript().size(), 2u);
}

TEST_F(MainWindowTest, MissingSettingsFileLogsShowsTheBoxAndStops) {
    auto form = makeForm();
    EXPECT_FALSE(form->created());
    EXPECT_EQ(dialogs.transcriptLines(), QStringList{"error: stbmate.ini fehlt"});
    EXPECT_EQ(logText(), "14:03:27 - ****** start programm ******\r\n"
                         "14:03:27 - ###### stbmate.ini is missing ! --> EXIT\r\n");
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(QFile::exists(iniPath())) << "the program must not create the file";
}

TEST_F(MainWindowTest, QuitFromTheMenuLogsTheEnd) {
    writeStandardIni();
    auto form = makeForm();
    form->Beenden1Click();
    EXPECT_TRUE(logText().endsWith("14:03:27 - ****** end programm *******\r\n"));
}

TEST_F(MainWindowTest, ChannelListEditorStartsDetachedOrShowsTheError) {
    writeStandardIni();
    auto form = makeForm();
    const QString failure = QStringLiteral(
        "error: Es ist ein Fehler aufgetreten. \nSatEditor konnte nicht gestartet werden.");

    // Not installed (no file beside the program; PATH without it).
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(dir.path()));
    form->SatChannelListEditor1Click();
    EXPECT_EQ(dialogs.transcriptLines(), QStringList{failure});
    EXPECT_TRUE(programs.back()->starter.started.isEmpty());

    // Installed beside the program.
    const QString editor = dir.file(QStringLiteral("SatChannelListEditor"));
    QFile file(editor);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n");
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    dialogs.clear();
    form->SatChannelListEditor1Click();
    EXPECT_TRUE(dialogs.transcript().empty());
    EXPECT_EQ(programs.back()->starter.started, QStringList{editor});

    // Found but the start fails.
    programs.back()->starter.result = false;
    form->SatChannelListEditor1Click();
    EXPECT_EQ(dialogs.transcriptLines(), QStringList{failure});
    qputenv("PATH", oldPath);
}

TEST_F(MainWindowTest, AboutShowsNameVersionAuthorAndPurpose) {
    writeStandardIni();
    auto form = makeForm();
    form->N1Click();
    ASSERT_EQ(dialogs.transcript().size(), 1u);
    EXPECT_EQ(dialogs.transcript()[0].kind, FakeDialogs::Kind::Message);
    const QStringList lines = dialogs.transcript()[0].text.split(QLatin1Char('\n'));
    EXPECT_EQ(lines.value(0), "stbmate");
    EXPECT_TRUE(lines.value(1).startsWith("Version ")) << lines.value(1).toStdString();
    EXPECT_EQ(lines.value(2), "Autor: stbmate developers");
    EXPECT_FALSE(lines.last().isEmpty());
}

TEST_F(MainWindowTest, ViewState) {
    writeStandardIni();
    auto form = makeForm();
    MainView& view = *form;
    EXPECT_FALSE(widget<TStatusLight>(*form, "StatusLight1")->Lit());
    EXPECT_FALSE(widget<TStatusLight>(*form, "StatusLight2")->Lit());
    view.setSerialLight(true);
    view.setNetworkLight(true);
    EXPECT_TRUE(widget<TStatusLight>(*form, "StatusLight1")->Lit());
    EXPECT_TRUE(widget<TStatusLight>(*form, "StatusLight2")->Lit());
    view.setOwnAddress(QStringLiteral("192.168.0.5"));
    EXPECT_EQ(widget<QLineEdit>(*form, "Edit2")->text(), "192.168.0.5");
    EXPECT_EQ(view.receiverAddress(), "192.168.0.20");
    view.showPage(1);
    EXPECT_EQ(widget<QTabWidget>(*form, "PageControl1")->currentIndex(), 1);

    EXPECT_EQ(view.networkLines(), QStringList{QString()});
    view.appendNetworkText(QStringLiteral("login: "));
    view.appendNetworkText(QStringLiteral("root"));
    view.appendNetworkLine(QStringLiteral("next"));
    EXPECT_EQ(view.networkLines(), (QStringList{"login: root", "next"}));
    view.clearNetworkText();
    EXPECT_EQ(view.networkLines(), QStringList{QString()});
}

// Telnet output reaches Memo1 a block at a time; the lines must be those a line-by-line text
// view shows, and only the newest 10,000 of them stay.
TEST_F(MainWindowTest, TelnetBlocksShowTheirLinesAndKeepTheNewestTenThousand) {
    writeStandardIni();
    auto form = makeForm();
    FakeMainView reference;
    const QStringList blocks{QStringLiteral("login: "), QStringLiteral("root\r\n# ls\r\nbin\r"),
                             QStringLiteral("\nx\ny\r\r# "), QString(), QStringLiteral("\r\n")};
    for (const QString& block : blocks) {
        showTelnetOutput(*form, log, block);
        showTelnetOutput(reference, log, block);
    }
    EXPECT_EQ(form->networkLines(), reference.networkLines());

    QString flood;
    for (int i = 0; i < 10005; ++i)
        flood += QStringLiteral("line %1\r\n").arg(i);
    showTelnetOutput(*form, log, flood + QStringLiteral("tail"));
    const QStringList lines = form->networkLines();
    ASSERT_EQ(lines.size(), TForm1::kNetworkViewLines);
    EXPECT_EQ(lines.front(), QStringLiteral("line 6"));
    EXPECT_EQ(lines[lines.size() - 2], QStringLiteral("line 10004"));
    EXPECT_EQ(lines.last(), QStringLiteral("tail"));

    // Output without line ends: broken for the view, and only the newest text is kept.
    form->clearNetworkText();
    QString endless;
    for (int i = 0; endless.size() < 3 * TForm1::kNetworkViewChars; ++i)
        endless += QString::number(i) + QLatin1Char(' ');
    for (qsizetype at = 0; at < endless.size(); at += 65536)
        showTelnetOutput(*form, log, endless.mid(at, 65536));
    const QString shown = widget<QPlainTextEdit>(*form, "Memo1")->toPlainText();
    EXPECT_LE(shown.size(), TForm1::kNetworkViewChars * 5 / 4 + TForm1::kNetworkViewLines);
    EXPECT_GE(shown.size(), TForm1::kNetworkViewChars);
    const QString tail = shown.right(2000);
    EXPECT_TRUE(endless.endsWith(QString(tail).remove(QLatin1Char('\n'))));
    EXPECT_LE(form->networkLines().first().size(), TForm1::kNetworkViewLineChars);
}

TEST_F(MainWindowTest, EveryControlHasAnAccessibleNameAndLabelsAreBuddies) {
    writeStandardIni();
    auto form = makeForm();
    const QList<QWidget*> controls = {widget<QGroupBox>(*form, "GroupBox1"),
                                      widget<TStatusLight>(*form, "StatusLight1"),
                                      widget<TStatusLight>(*form, "StatusLight2"),
                                      widget<QPushButton>(*form, "Button2"),
                                      widget<QComboBox>(*form, "ComboBox2"),
                                      widget<QLineEdit>(*form, "Edit1"),
                                      widget<QLineEdit>(*form, "Edit2"),
                                      widget<QComboBox>(*form, "ComboBox1"),
                                      widget<QTabWidget>(*form, "PageControl1"),
                                      widget<QPlainTextEdit>(*form, "Memo1"),
                                      widget<QPushButton>(*form, "Button1"),
                                      widget<QLabel>(*form, "Label1"),
                                      widget<QLabel>(*form, "Label2"),
                                      widget<QLabel>(*form, "Label3"),
                                      widget<QLabel>(*form, "Label4"),
                                      widget<QLabel>(*form, "Label5"),
                                      widget<QLabel>(*form, "Label6")};
    for (QWidget* w : controls)
        EXPECT_FALSE(w->accessibleName().isEmpty()) << w->objectName().toStdString();
    EXPECT_EQ(widget<QLabel>(*form, "Label1")->buddy(), widget<QLineEdit>(*form, "Edit1"));
    EXPECT_EQ(widget<QLabel>(*form, "Label2")->buddy(), widget<QComboBox>(*form, "ComboBox1"));
    EXPECT_EQ(widget<QLabel>(*form, "Label3")->buddy(), widget<QComboBox>(*form, "ComboBox2"));
    EXPECT_EQ(widget<QLabel>(*form, "Label4")->buddy(),
              widget<TStatusLight>(*form, "StatusLight1"));
    EXPECT_EQ(widget<QLabel>(*form, "Label5")->buddy(),
              widget<TStatusLight>(*form, "StatusLight2"));
    EXPECT_EQ(widget<QLabel>(*form, "Label6")->buddy(), widget<QLineEdit>(*form, "Edit2"));
    EXPECT_EQ(widget<TStatusLight>(*form, "StatusLight1")->accessibleDescription(),
              "leuchtet nicht");
    widget<TStatusLight>(*form, "StatusLight1")->setLit(true);
    EXPECT_EQ(widget<TStatusLight>(*form, "StatusLight1")->accessibleDescription(), "leuchtet");
}

TEST_F(MainWindowTest, ArrangementFollowsTheLayout) {
    writeStandardIni();
    auto form = makeForm();
    EXPECT_EQ(form->size(), QSize(818, 467));
    EXPECT_EQ(widget<QTabWidget>(*form, "PageControl1")->size(), QSize(601, 385));
    EXPECT_EQ(widget<TStatusLight>(*form, "StatusLight1")->size(), QSize(17, 17));
    // Wide enough for a whole address.
    const int address = form->fontMetrics().horizontalAdvance(QStringLiteral("255.255.255.255"));
    EXPECT_GT(widget<QLineEdit>(*form, "Edit1")->width(), address);
    EXPECT_GT(widget<QComboBox>(*form, "ComboBox2")->width(), address);
    // Fields on the left, their captions to the right; the column is left of the pages.
    EXPECT_LT(widget<QLineEdit>(*form, "Edit1")->x(), widget<QLabel>(*form, "Label1")->x());
    EXPECT_LE(widget<QLabel>(*form, "Label1")->geometry().right(),
              widget<QTabWidget>(*form, "PageControl1")->x());
    EXPECT_LT(widget<QComboBox>(*form, "ComboBox2")->y(), widget<QLineEdit>(*form, "Edit1")->y());
    EXPECT_LT(widget<QLineEdit>(*form, "Edit1")->y(), widget<QLineEdit>(*form, "Edit2")->y());
    EXPECT_LT(widget<QLineEdit>(*form, "Edit2")->y(), widget<QComboBox>(*form, "ComboBox1")->y());
    const int widths[4] = {100, 100, 100, 50};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(widget<QLabel>(*form, QStringLiteral("StatusPanel%1").arg(i))->width(),
                  widths[i]);
    EXPECT_FALSE(widget<QPushButton>(*form, "Button1")->isVisibleTo(form));
    EXPECT_FALSE(widget<QAction>(*form, "SatChannelListEditor1")->isVisible());
    EXPECT_EQ(widget<QPushButton>(*form, "Button2")->focusPolicy() & Qt::TabFocus, 0);
    EXPECT_EQ(widget<QPlainTextEdit>(*form, "Memo1")->font().family(), "DejaVu Sans Mono");
}

TEST_F(MainWindowTest, JobsRunThroughTheWiringsOneEntrance) {
    writeStandardIni();
    auto form = makeForm();
    ReceiverWiring& wiring = lastWiring();
    // A handler's job is marked while its first box is up, and no longer afterwards.
    std::optional<JobKind> duringBox;
    dialogs.setOnShow([&](const FakeDialogs::Shown&) { duringBox = wiring.runningJob(); });
    form->Label3ContextPopup(QPoint());
    EXPECT_EQ(duringBox, JobKind::DeleteStartScript);
    EXPECT_FALSE(wiring.jobRunning());
    // What a job lets out ends it with the error box; the mark is cleared all the same.
    dialogs.setOnShow({});
    dialogs.clear();
    wiring.runJob(JobKind::SetAddress,
                  [](JobGate::Hold&) { throw std::runtime_error("port gone"); });
    EXPECT_EQ(dialogs.transcriptLines(), QStringList{"error: port gone"});
    EXPECT_FALSE(wiring.jobRunning());
}

// Reads what reached the receiver's side of the pty within a short while. The window is real
// time by nature (it also proves that nothing came), but each pass wakes as soon as bytes do.
QByteArray drainPty(PtyPair& pty, int waitMs) {
    QByteArray got;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < waitMs) {
        QCoreApplication::processEvents();
        char buf[256];
        const ssize_t n = ::read(pty.master(), buf, sizeof buf);
        if (n > 0) {
            got.append(buf, n);
            continue;
        }
        // Short passes: the key presses that write to the port arrive through events.
        pollfd ready{pty.master(), POLLIN, 0};
        ::poll(&ready, 1, int(std::clamp<qint64>(waitMs - t.elapsed(), 0, 10)));
    }
    return got;
}

TEST_F(MainWindowTest, ARunningJobLocksTheWindowRefusesTheRestAndHoldsTheClose) {
    writeStandardIni();
    auto form = makeForm();
    form->show();
    ASSERT_TRUE(stbtest::spinUntil([&] { return lastWiring().comPort().isOpen(); }));
    drainPty(pty, 50);
    auto* jobStatus = form->findChild<QLabel*>(QStringLiteral("JobStatus"));
    ASSERT_NE(jobStatus, nullptr);
    const std::vector<QWidget*> controls{
        widget<QPushButton>(*form, "Button2"), widget<QComboBox>(*form, "ComboBox2"),
        widget<QComboBox>(*form, "ComboBox1"), widget<QLineEdit>(*form, "Edit1"),
        widget<QLineEdit>(*form, "Edit2")};
    const std::vector<QAction*> commands{widget<QAction>(*form, "IPAdressesetzenndern1"),
                                         widget<QAction>(*form, "FTPServerinstallieren1"),
                                         widget<QAction>(*form, "NotfallImageaufspielen1"),
                                         widget<QAction>(*form, "N1")};
    auto lockedState = [&] {
        QString state;
        for (QWidget* w : controls)
            state += w->isEnabled() ? u'1' : u'0';
        for (QAction* a : commands)
            state += a->isEnabled() ? u'1' : u'0';
        return state;
    };
    ASSERT_EQ(lockedState(), "111111111");

    ReceiverWiring& wiring = lastWiring();
    QStringList boxes;
    QByteArray typedDuringJob;
    bool visibleAfterClose = false;
    wiring.runJob(JobKind::SetAddress, [&](JobGate::Hold&) {
        EXPECT_EQ(lockedState(), "000000000");
        EXPECT_EQ(jobStatus->text(), "Deutsch message 40");
        // Clicks that were queued before the lock, and the box changes, reach their handlers
        // and are refused; the language stays, the job keeps running.
        form->Button2Click();
        for (const char* item :
             {"IPAdressesetzenndern1", "FTPServerinstallieren1", "NotfallImageaufspielen1"})
            emit widget<QAction>(*form, item)->triggered();
        form->Label3ContextPopup(QPoint());
        widget<QComboBox>(*form, "ComboBox1")->setEditText(QStringLiteral("English"));
        widget<QComboBox>(*form, "ComboBox2")->setEditText(QStringLiteral("COM2"));
        boxes = dialogs.transcriptLines();
        EXPECT_EQ(wiring.runningJob(), JobKind::SetAddress);
        EXPECT_EQ(widget<QComboBox>(*form, "ComboBox1")->currentText(), "Deutsch");
        EXPECT_EQ(widget<QPushButton>(*form, "Button2")->text(), "Prüfen");
        EXPECT_EQ(widget<QComboBox>(*form, "ComboBox2")->currentText(), pty.path());
        QTest::keyClicks(widget<TTerminal>(*form, "Terminal1"), QStringLiteral("ls"));
        typedDuringJob = drainPty(pty, 100);
        form->close();
        visibleAfterClose = form->isVisible();
    });
    EXPECT_EQ(boxes, QStringList(7, QStringLiteral("information: Deutsch message 40")));
    EXPECT_EQ(typedDuringJob, QByteArray());
    EXPECT_TRUE(visibleAfterClose) << "the close waits for the job";
    EXPECT_EQ(lockedState(), "111111111");
    EXPECT_EQ(jobStatus->text(), QString());
    EXPECT_TRUE(lastWiring().comPort().isOpen());
    QTest::keyClicks(widget<TTerminal>(*form, "Terminal1"), QStringLiteral("x"));
    EXPECT_EQ(drainPty(pty, 200), "x");
    EXPECT_TRUE(stbtest::spinUntil([&] { return !form->isVisible(); }))
        << "the held close happens once the job has returned";
    EXPECT_EQ(logText().count("waiting for the running job"), 1);
}

// The emergency image job keeps the gate past its menu command, for the whole transfer: the
// window stays locked and the terminal deaf until the job gives the gate back.
TEST_F(MainWindowTest, AJobThatKeepsTheGateAfterItsCommandKeepsTheWindowLocked) {
    writeStandardIni();
    auto form = makeForm();
    form->show();
    ASSERT_TRUE(stbtest::spinUntil([&] { return lastWiring().comPort().isOpen(); }));
    drainPty(pty, 50);
    std::optional<JobGate::Hold> kept;
    lastWiring().runJob(JobKind::LoadEmergencyImage,
                        [&](JobGate::Hold& hold) { kept = std::move(hold); });
    EXPECT_FALSE(widget<QPushButton>(*form, "Button2")->isEnabled() ||
                 widget<QAction>(*form, "IPAdressesetzenndern1")->isEnabled());
    form->Button2Click();
    QTest::keyClicks(widget<TTerminal>(*form, "Terminal1"), QStringLiteral("ls"));
    EXPECT_EQ(drainPty(pty, 100), QByteArray());
    EXPECT_EQ(dialogs.transcriptLines(), QStringList{"information: Deutsch message 40"});
    kept.reset();
    EXPECT_TRUE(widget<QPushButton>(*form, "Button2")->isEnabled() &&
                widget<QAction>(*form, "IPAdressesetzenndern1")->isEnabled());
}

TEST_F(MainWindowTest, QuitFromTheMenuDuringAJobWaitsForItsEnd) {
    writeStandardIni();
    auto form = makeForm();
    QString logDuringJob;
    lastWiring().runJob(JobKind::CheckConnections, [&](JobGate::Hold&) {
        form->Beenden1Click();
        logDuringJob = logText();
    });
    EXPECT_FALSE(logDuringJob.contains("end programm"));
    EXPECT_TRUE(logDuringJob.contains("waiting for the running job"));
    EXPECT_TRUE(stbtest::spinUntil([&] { return logText().contains("end programm"); }));
}

} // namespace
