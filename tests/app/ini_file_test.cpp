// The settings file: names without regard to case, sections in file order, the value cap,
// lines kept as they were, atomic replacement surviving a kill, refused writes.
#include "app/ini_file.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

void writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

const QByteArray kSample = "; settings\r\n"
                           "[Main]\r\n"
                           "Language = Deutsch\r\n"
                           "IP=192.168.1.10\r\n"
                           "Quoted=\"  spaced  \"\r\n"
                           "\r\n"
                           "[Deutsch]\r\n"
                           "M1_1=Datei\r\n"
                           "Dup=first\r\n"
                           "Dup=second\r\n"
                           "\r\n"
                           "[English]\r\n"
                           "M1_1=File\r\n"
                           "[deutsch]\r\n"
                           "M1_2=ignored\r\n";

class IniFileTest : public ::testing::Test {
protected:
    stbtest::ScratchDir dir;
    QString path = dir.file(QStringLiteral("stbmate.ini"));
};

TEST_F(IniFileTest, ReadsNamesWithoutRegardToCaseAndFirstMatchWins) {
    writeAll(path, kSample);
    IniFile ini(path);
    EXPECT_EQ(ini.ReadString("main", "LANGUAGE"), "Deutsch");
    EXPECT_EQ(ini.ReadString("MAIN", "ip"), "192.168.1.10");
    EXPECT_EQ(ini.ReadString("Main", "Quoted"), "  spaced  ");
    EXPECT_EQ(ini.ReadString("Deutsch", "Dup"), "first");
    // Only the first section of a name counts.
    EXPECT_EQ(ini.ReadString("Deutsch", "M1_2", "default"), "default");
    EXPECT_EQ(ini.ReadString("English", "M1_1"), "File");
    EXPECT_EQ(ini.ReadString("Nowhere", "M1_1", "d"), "d");
    EXPECT_EQ(ini.ReadString("Main", "Missing"), QString());
    EXPECT_EQ(ini.ReadSections(), (QStringList{"Main", "Deutsch", "English"}));
}

TEST_F(IniFileTest, MissingFileReadsDefaultsAndNoSections) {
    IniFile ini(path);
    EXPECT_EQ(ini.ReadString("Main", "IP", "x"), "x");
    EXPECT_TRUE(ini.ReadSections().isEmpty());
}

TEST_F(IniFileTest, ValuesAreCutAt2047Characters) {
    IniFile ini(path);
    const QString longValue = QString(3000, QLatin1Char('a')) + QLatin1Char('b');
    ini.WriteString("Main", "IP", longValue);
    const QString read = ini.ReadString("Main", "IP");
    EXPECT_EQ(read.size(), 2047);
    EXPECT_EQ(read, longValue.left(2047));
    // The file keeps the whole value; only reading is capped.
    EXPECT_TRUE(readAll(path).contains(longValue.toUtf8()));
}

TEST_F(IniFileTest, WritesKeepEveryUntouchedLineByteForByte) {
    writeAll(path, kSample);
    IniFile ini(path);
    ini.WriteString("MAIN", "ip", "10.0.0.5");
    QByteArray expected = kSample;
    expected.replace("IP=192.168.1.10", "IP=10.0.0.5");
    EXPECT_EQ(readAll(path), expected);

    // A new key goes at the end of its section, before the blank separator line.
    ini.WriteString("Main", "Delay", "3");
    expected.replace("Quoted=\"  spaced  \"\r\n", "Quoted=\"  spaced  \"\r\nDelay=3\r\n");
    EXPECT_EQ(readAll(path), expected);

    // A new section goes at the end of the file, in the file's line-end style.
    ini.WriteString("Français", "M1_1", "Fichier");
    expected += "\r\n[Français]\r\nM1_1=Fichier\r\n";
    EXPECT_EQ(readAll(path), expected);
    EXPECT_EQ(ini.ReadSections().last(), "Français");
    EXPECT_EQ(ini.ReadString("français", "m1_1"), "Fichier");
}

TEST_F(IniFileTest, CreatesMissingFileAndNeverLetsAValueAddLines) {
    IniFile ini(path);
    ini.WriteString("Main", "IP", "1.2.3.4\n[Evil]\nKey=1");
    EXPECT_EQ(ini.ReadSections(), QStringList{"Main"});
    EXPECT_EQ(ini.ReadString("Main", "IP"), "1.2.3.4 [Evil] Key=1");
    EXPECT_EQ(readAll(path), "[Main]\nIP=1.2.3.4 [Evil] Key=1\n");
}

TEST_F(IniFileTest, LastLineWithoutLineEndGetsOneBeforeNewLines) {
    writeAll(path, "[Main]\nIP=1");
    IniFile ini(path);
    ini.WriteString("Main", "Delay", "2");
    EXPECT_EQ(readAll(path), "[Main]\nIP=1\nDelay=2\n");
}

TEST_F(IniFileTest, NonUtf8FileIsReadAsWindows1252AndKeptInIt) {
    // "Prüfen" and a euro sign in Windows-1252, as an older installation wrote them; the
    // line "Ã¼" alone would also be valid UTF-8, but the file as a whole is not.
    writeAll(path, "[Deutsch]\r\nL7=\xc3\xbc\r\nL8=Pr\xfc"
                   "fen \x80\r\n");
    IniFile ini(path);
    EXPECT_EQ(ini.ReadString("Deutsch", "L8"), QString::fromUtf8("Prüfen €"));
    EXPECT_EQ(ini.ReadString("Deutsch", "L7"), QString::fromUtf8("Ã¼"));
    ini.WriteString("Deutsch", "L4", QString::fromUtf8("Größe"));
    EXPECT_EQ(readAll(path), "[Deutsch]\r\nL7=\xc3\xbc\r\nL8=Pr\xfc"
                             "fen \x80\r\nL4=Gr\xf6\xdf"
                             "e\r\n");
    // A character Windows-1252 cannot hold moves the whole file to UTF-8 rather than lose it.
    ini.WriteString("Deutsch", "L5", QString::fromUtf8("Сеть"));
    EXPECT_EQ(ini.ReadString("Deutsch", "L8"), QString::fromUtf8("Prüfen €"));
    EXPECT_EQ(ini.ReadString("Deutsch", "L5"), QString::fromUtf8("Сеть"));
    EXPECT_EQ(ini.ReadString("Deutsch", "L4"), QString::fromUtf8("Größe"));
    EXPECT_EQ(ini.ReadString("Deutsch", "L7"), QString::fromUtf8("Ã¼"));
}

TEST_F(IniFileTest, WriteReplacesTheFileAtomicallyAndKeepsItsMode) {
    writeAll(path, kSample);
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
    struct stat before {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &before), 0);
    IniFile ini(path);
    ini.WriteString("Main", "IP", "1.1.1.1");
    struct stat after {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino) << "the file must be replaced, not rewritten in place";
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    // No temporary file is left behind.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST_F(IniFileTest, WriteThroughASymlinkUpdatesItsTarget) {
    const QString real = dir.file(QStringLiteral("real.ini"));
    writeAll(real, "[Main]\nIP=1\n");
    ASSERT_TRUE(QFile::link(real, path));
    IniFile ini(path);
    ini.WriteString("Main", "IP", "2");
    EXPECT_TRUE(QFileInfo(path).isSymLink());
    EXPECT_EQ(readAll(real), "[Main]\nIP=2\n");
}

TEST_F(IniFileTest, RefusedWriteThrowsWithThePathAndLeavesNothing) {
    const QString missingFolder = dir.file(QStringLiteral("gone/stbmate.ini"));
    IniFile ini(missingFolder);
    try {
        ini.WriteString("Main", "IP", "1");
        FAIL() << "a write into a missing folder must be refused";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(e.message(), "In " + missingFolder + " kann nicht geschrieben werden");
        EXPECT_STREQ(e.what(), e.message().toUtf8().constData());
    }

    // A folder in place of the file: the existing content cannot be read or replaced.
    const QString folderPath = dir.file(QStringLiteral("folder.ini"));
    ASSERT_TRUE(QDir().mkpath(folderPath));
    IniFile onFolder(folderPath);
    EXPECT_THROW(onFolder.WriteString("Main", "IP", "1"), EIniFileException);
    EXPECT_TRUE(QFileInfo(folderPath).isDir());
}

TEST_F(IniFileTest, KillDuringABurstOfWritesLeavesACompleteFile) {
    writeAll(path, "[Main]\r\nLanguage=Deutsch\r\nIP=\r\n\r\n[Deutsch]\r\nM1_1=Datei\r\n\r\n"
                   "[English]\r\nM1_1=File\r\n");
    for (int attempt = 0; attempt < 5; ++attempt) {
        QProcess child;
        child.start(QStringLiteral(STBMATE_INI_WRITE_BURST), {path});
        ASSERT_TRUE(child.waitForStarted(5000));
        ASSERT_TRUE(child.waitForReadyRead(5000)) << "the writer never got going";
        // Let it run for a varying while so the kill lands at different points of a write.
        QThread::msleep(20 + attempt * 37);
        ::kill(pid_t(child.processId()), SIGKILL);
        ASSERT_TRUE(child.waitForFinished(5000));
        EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);

        IniFile ini(path);
        EXPECT_EQ(ini.ReadSections(), (QStringList{"Main", "Deutsch", "English"}));
        EXPECT_EQ(ini.ReadString("Main", "Language"), "Deutsch");
        EXPECT_EQ(ini.ReadString("Deutsch", "M1_1"), "Datei");
        EXPECT_EQ(ini.ReadString("English", "M1_1"), "File");
        const QString ip = ini.ReadString("Main", "IP");
        EXPECT_FALSE(ip.isEmpty()) << "at least the first round's write must have landed";
    }
}

TEST(parseDelay, AcceptsDecimalAndBothHexFormsAndNothingElse) {
    struct Case {
        const char* text;
        int value;
    };
    const Case cases[] = {
        {"0x10", 16},
        {"0X10", 16},
        {"$10", 16},
        {"16", 16},
        {"abc", 0},
        {"", 0},
        {"0", 0},
        {"$ff", 255},
        {"0xFf", 255},
        {"-3", -3},
        {"+4", 4},
        {"0x", 0},
        {"$", 0},
        {"12a", 0},
        {"$1g", 0},
        {"1.5", 0},
        {" 7 ", 7},
        {"0x-1", 0},
        {"2147483647", 2147483647},
        {"2147483648", 0},
        {"$FFFFFFFFFF", 0},
        {"٣", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parseDelay(QString::fromUtf8(c.text)), c.value) << "text: " << c.text;
}

} // namespace
