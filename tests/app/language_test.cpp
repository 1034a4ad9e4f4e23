// Language tables and the shipped settings file; the version record read back from files.
#include "app/file_version.h"
#include "app/language.h"
#include "tests/support/test_support.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

TEST(languageNames, DropsMainInAnyCaseAndKeepsFileOrder) {
    EXPECT_EQ(languageNames({"Main", "Deutsch", "English"}), (QStringList{"Deutsch", "English"}));
    EXPECT_EQ(languageNames({"Deutsch", "main", "English"}), (QStringList{"Deutsch", "English"}));
    EXPECT_EQ(languageNames({"Deutsch", "English"}), (QStringList{"Deutsch", "English"}));
    EXPECT_EQ(languageNames({"MAIN"}), QStringList());
    EXPECT_EQ(languageNames({"Mainly", "Main2"}), (QStringList{"Mainly", "Main2"}));
}

TEST(portNumberForText, EntryPositionPlusOneElseZero) {
    const QStringList entries{"COM1", "COM2", "COM3", "COM4"};
    EXPECT_EQ(portNumberForText(entries, "COM1"), 1);
    EXPECT_EQ(portNumberForText(entries, "COM3"), 3);
    EXPECT_EQ(portNumberForText(entries, "com4"), 4);
    EXPECT_EQ(portNumberForText(entries, "COM5"), 0);
    EXPECT_EQ(portNumberForText(entries, ""), 0);
    EXPECT_EQ(portNumberForText(entries, "/dev/ttyUSB0"), 0);
}

TEST(readLanguageTexts, MissingKeysAndUnknownSectionsGiveEmptyTexts) {
    stbtest::ScratchDir dir;
    const QString path = dir.file(QStringLiteral("stbmate.ini"));
    const int beyond = MessageCatalogue::kCount + 1;
    writeFile(path, "[Deutsch]\nM1_1=Datei\nL8=Prüfen\nL9=Formatieren\nMsg6=Adresse fehlt\nMsg" +
                        QByteArray::number(beyond) + "=zu viel\n");
    IniFile ini(path);
    const LanguageTexts de = readLanguageTexts(ini, QStringLiteral("deutsch"));
    EXPECT_EQ(de.caption(CaptionKey::M1_1), "Datei");
    EXPECT_EQ(de.caption(CaptionKey::L8), QString::fromUtf8("Prüfen"));
    EXPECT_EQ(de.caption(CaptionKey::M2_3), QString());
    EXPECT_EQ(de.formatButton, "Formatieren");
    EXPECT_EQ(de.messages.text(MessageId::NoReceiverAddress), "Adresse fehlt");
    EXPECT_EQ(de.messages.text(MessageId::Unused5), QString());
    EXPECT_EQ(de.messages.text(MessageId(beyond)), QString());
    // A key the file is too old to have: its built-in text.
    EXPECT_EQ(de.messages.text(MessageId::SetAddressFirst),
              MessageCatalogue::builtInText(MessageId::SetAddressFirst));
    // In the language the user chose, not German under English.
    writeFile(path, "[English]\nMsg6=No address\n");
    EXPECT_EQ(readLanguageTexts(IniFile(path), QStringLiteral("English"))
                  .messages.text(MessageId::PleaseWait),
              "Please wait until the running operation has finished.");
    const LanguageTexts none = readLanguageTexts(ini, QStringLiteral("Klingon"));
    for (const QString& caption : none.captions)
        EXPECT_TRUE(caption.isEmpty());
    EXPECT_EQ(none.messages.text(MessageId::NoReceiverAddress), QString());
    EXPECT_EQ(none.formatButton, QString());
}

TEST(readMainSettings, TerminalKeysTakeDefaultsAndBounds) {
    struct Case {
        const char* value;
        int history, charDelay;
    };
    for (const Case& c :
         {Case{nullptr, 200, 2}, Case{"abc", 200, 2}, Case{"10", 24, 10}, Case{"5000", 5000, 1000},
          Case{"100001", 100000, 1000}, Case{"-3", 24, 0}}) {
        stbtest::ScratchDir dir;
        const QString path = dir.file(QStringLiteral("stbmate.ini"));
        const QByteArray value = c.value ? QByteArray(c.value) : QByteArray();
        writeFile(path, c.value
                            ? "[Main]\nHistoryLines=" + value + "\nPasteCharDelay=" + value + "\n"
                            : QByteArray("[Main]\n"));
        const MainSettings main = readMainSettings(IniFile(path));
        EXPECT_EQ(main.historyLines, c.history) << (c.value ? c.value : "missing");
        EXPECT_EQ(main.pasteCharDelayMs, c.charDelay) << (c.value ? c.value : "missing");
        EXPECT_EQ(main.pasteLineDelayMs, 50);
    }
}

TEST(ShippedSettingsFile, HasMainAndTwoCompleteLanguages) {
    IniFile ini(stbtest::sourceDir() + QStringLiteral("/app/stbmate.ini"));
    EXPECT_EQ(ini.ReadSections(), (QStringList{"Main", "Deutsch", "English"}));
    const MainSettings main = readMainSettings(ini);
    EXPECT_EQ(main.language, "Deutsch");
    EXPECT_EQ(main.ip, QString());
    EXPECT_EQ(main.settleDelay, 0);
    EXPECT_EQ(main.comPort, "COM1");
    EXPECT_EQ(main.historyLines, 200);
    EXPECT_EQ(main.pasteCharDelayMs, 2);
    EXPECT_EQ(main.pasteLineDelayMs, 50);

    QStringList keys;
    for (const char* key : kCaptionKeys)
        keys << QString::fromLatin1(key);
    keys << QStringLiteral("L9");
    for (int n = 1; n <= MessageCatalogue::kCount; ++n)
        keys << QStringLiteral("Msg%1").arg(n);
    for (const QString& language : {QStringLiteral("Deutsch"), QStringLiteral("English")}) {
        QStringList seen;
        for (const QString& key : keys) {
            const QString text = ini.ReadString(language, key);
            EXPECT_FALSE(text.isEmpty()) << language.toStdString() << "/" << key.toStdString();
            seen << text;
        }
        // Every message says something of its own.
        QStringList messages = seen.mid(16);
        messages.removeDuplicates();
        EXPECT_EQ(messages.size(), MessageCatalogue::kCount) << language.toStdString();
        // Msg2 is also the box for a console that answers but cannot reach /config, so it
        // must not tell that user the console is silent and nothing more.
        EXPECT_TRUE(ini.ReadString(language, QStringLiteral("Msg2")).contains(u"/config"))
            << language.toStdString();
    }

    // A settings file without the boot image check's keys and the later ones shows the same
    // texts in both languages.
    for (int n = int(MessageId::BootImageTooShort); n <= MessageCatalogue::kCount; ++n) {
        EXPECT_EQ(ini.ReadString(QStringLiteral("Deutsch"), QStringLiteral("Msg%1").arg(n)),
                  MessageCatalogue::builtInText(MessageId(n)));
        EXPECT_EQ(ini.ReadString(QStringLiteral("English"), QStringLiteral("Msg%1").arg(n)),
                  MessageCatalogue::builtInText(MessageId(n), BuiltInLanguage::English));
    }

    // The German captions are the window's built-in ones.
    const LanguageTexts de = readLanguageTexts(ini, QStringLiteral("Deutsch"));
    const char* builtIn[] = {"Datei",
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
    for (size_t i = 0; i < kCaptionKeys.size(); ++i)
        EXPECT_EQ(de.captions[i], QString::fromUtf8(builtIn[i])) << kCaptionKeys[i];
    EXPECT_EQ(de.formatButton, "Formatieren");
}

TEST(ShippedSettingsFile, IsPlacedBesideTheProgramButNeverOverwritesOne) {
    const QString beside = QStringLiteral(STBMATE_EXE_DIR "/stbmate.ini");
    ASSERT_TRUE(QFile::exists(beside));

    stbtest::ScratchDir dir;
    const QString target = dir.file(QStringLiteral("stbmate.ini"));
    auto runCopy = [&] {
        return QProcess::execute(QStringLiteral(STBMATE_CMAKE_COMMAND),
                                 {"-DSRC=" + stbtest::sourceDir() + "/app/stbmate.ini",
                                  "-DDST=" + target, "-P",
                                  stbtest::sourceDir() + "/app/copy_if_missing.cmake"});
    };
    ASSERT_EQ(runCopy(), 0);
    EXPECT_EQ(IniFile(target).ReadString("Main", "Language"), "Deutsch");
    writeFile(target, "[Main]\nLanguage=English\n");
    ASSERT_EQ(runCopy(), 0);
    EXPECT_EQ(IniFile(target).ReadString("Main", "Language"), "English");
}

TEST(FileVersionText, ReadsTheRecordBackFromTheProgramFile) {
    EXPECT_EQ(FileVersionText(QStringLiteral(STBMATE_EXE_PATH)), "1.0.0.56");
    stbtest::ScratchDir dir;
    EXPECT_EQ(FileVersionText(dir.file(QStringLiteral("missing"))), "-1");
    // This test program is linked without the record, although its code knows the marker.
    EXPECT_EQ(FileVersionText(QCoreApplication::applicationFilePath()), QString());
    EXPECT_EQ(FileVersionText(dir.path()), QString());

    const QString empty = dir.file(QStringLiteral("empty"));
    writeFile(empty, QByteArray());
    EXPECT_EQ(FileVersionText(empty), QString());

    // A marker without the closing signature is not a record; a later good one is found.
    const QByteArray marker("STBMVER\x01", 8);
    const QByteArray good = marker + QByteArray("\x02\x00\x01\x00\x04\x00\x03\x00", 8) +
                            QByteArray("\xBD\x04\xEF\xFE", 4);
    const QString forged = dir.file(QStringLiteral("forged"));
    writeFile(forged, "junk" + marker + QByteArray(12, '\0'));
    EXPECT_EQ(FileVersionText(forged), QString());
    writeFile(forged, "junk" + marker + QByteArray(12, '\0') + good + "tail");
    EXPECT_EQ(FileVersionText(forged), "1.2.3.4");
    // A record cut off by the end of the file is not read past it.
    writeFile(forged, good.left(good.size() - 1));
    EXPECT_EQ(FileVersionText(forged), QString());
}

} // namespace
