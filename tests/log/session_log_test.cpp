// The session log: file per day beside the program, exact line format, CR LF, nothing ever
// truncated, silent when the folder cannot be made.
#include "log/log_line.h"
#include "log/session_log.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <functional>

namespace {

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class SessionLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        log.SetLogNameTemplate(QStringLiteral("stbmate-$Y-$M-$D"));
        setNow(QDateTime(QDate(2026, 12, 6), QTime(14, 3, 27, 45)));
    }
    void setNow(const QDateTime& when) { m_now = when; }
    QString logFile(const QString& day) const {
        return dir.file(QStringLiteral("Logs/stbmate-") + day + QStringLiteral(".log"));
    }

    stbtest::ScratchDir dir;

private:
    QDateTime m_now;

protected:
    SessionLog log{dir.path(), [this] { return m_now; }};
};

TEST_F(SessionLogTest, FirstEntryCreatesFolderAndDayFileWithExactLines) {
    ASSERT_FALSE(QFileInfo::exists(dir.file(QStringLiteral("Logs"))));
    const mode_t mask = ::umask(002); // a group that shares the folder also shares the log
    log.WriteLogEntry(QStringLiteral("****** start programm ******"));
    ::umask(mask);
    log.WriteLogError(QStringLiteral("stbmate.ini is missing ! --> EXIT"));
    log.WriteLogEntry(QStringLiteral("****** RESULT: serial connection ok ******"));
    EXPECT_EQ(readFile(logFile(QStringLiteral("2026-12-06"))),
              "14:03:27 - ****** start programm ******\r\n"
              "14:03:27 - ###### stbmate.ini is missing ! --> EXIT\r\n"
              "14:03:27 - ****** RESULT: serial connection ok ******\r\n");
    EXPECT_EQ(QFile::permissions(logFile(QStringLiteral("2026-12-06"))) & 0x0777, 0x0664);
}

TEST_F(SessionLogTest, EntriesOnBothSidesOfMidnightLandInTwoFiles) {
    setNow(QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59, 999)));
    log.WriteLogEntry(QStringLiteral("before"));
    setNow(QDateTime(QDate(2027, 1, 1), QTime(0, 0, 0)));
    log.WriteLogEntry(QStringLiteral("after"));
    EXPECT_EQ(readFile(logFile(QStringLiteral("2026-12-31"))), "23:59:59 - before\r\n");
    EXPECT_EQ(readFile(logFile(QStringLiteral("2027-01-01"))), "00:00:00 - after\r\n");
}

TEST_F(SessionLogTest, TextIsWrittenUnchangedEvenWithTokensOrEmpty) {
    log.WriteLogEntry(QStringLiteral("cost $h and $t at $Y-$M-$D $k$"));
    log.WriteLogEntry(QString());
    log.WriteLogError(QString());
    log.WriteLogEntry(QStringLiteral("Prüfung ok"));
    EXPECT_EQ(readFile(logFile(QStringLiteral("2026-12-06"))),
              QByteArray("14:03:27 - cost $h and $t at $Y-$M-$D $k$\r\n"
                         "14:03:27 - \r\n"
                         "14:03:27 - ###### \r\n"
                         "14:03:27 - Prüfung ok\r\n"));
}

TEST_F(SessionLogTest, SameSecondEntriesKeepCallOrderAndOldContentIsNeverLost) {
    const QString path = logFile(QStringLiteral("2026-12-06"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("earlier run\r\n");
    }
    for (int i = 0; i < 50; ++i)
        log.WriteLogEntry(QString::number(i));
    QByteArray expected = "earlier run\r\n";
    for (int i = 0; i < 50; ++i)
        expected += "14:03:27 - " + QByteArray::number(i) + "\r\n";
    EXPECT_EQ(readFile(path), expected);
}

TEST_F(SessionLogTest, FileRemovedOrReplacedBetweenEntriesIsMadeAgain) {
    // The log keeps the day's file open; whatever happens to the path between two entries,
    // the next entry must land in the file that path names, as a fresh open would.
    const QString path = logFile(QStringLiteral("2026-12-06"));
    const QString moved = dir.file(QStringLiteral("moved.log"));
    const struct {
        const char* name;
        std::function<void()> meddle;
        QByteArray expected; // at the path, after the second entry
    } cases[] = {
        {"deleted", [&] { QFile::remove(path); }, "14:03:27 - second\r\n"},
        {"folder deleted", [&] { QDir(QFileInfo(path).absolutePath()).removeRecursively(); },
         "14:03:27 - second\r\n"},
        {"renamed away", [&] { QFile::rename(path, moved); }, "14:03:27 - second\r\n"},
        {"replaced",
         [&] {
             QFile::remove(path);
             QFile f(path);
             ASSERT_TRUE(f.open(QIODevice::WriteOnly));
             f.write("by hand\r\n");
         },
         "by hand\r\n14:03:27 - second\r\n"},
        {"left alone", [] {}, "14:03:27 - first\r\n14:03:27 - second\r\n"},
        {"permissions changed", // noticed, looked up again, and still the same file
         [&] { QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner); },
         "14:03:27 - first\r\n14:03:27 - second\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(path);
        QFile::remove(moved);
        log.WriteLogEntry(QStringLiteral("first"));
        ASSERT_EQ(readFile(path), "14:03:27 - first\r\n"); // there before the next entry
        c.meddle();
        log.WriteLogEntry(QStringLiteral("second"));
        EXPECT_EQ(readFile(path), c.expected);
    }
}

TEST_F(SessionLogTest, UnwritableLocationLosesTheEntrySilently) {
    // A plain file where the folder should go: nothing can be created below it.
    const QString blocker = dir.file(QStringLiteral("blocker"));
    {
        QFile f(blocker);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    SessionLog blocked(blocker);
    blocked.WriteLogEntry(QStringLiteral("lost"));
    blocked.WriteLogError(QStringLiteral("lost too"));
    EXPECT_EQ(QFileInfo(blocker).size(), 0);

    // A read-only file system (procfs refuses new folders even to root).
    SessionLog(QStringLiteral("/proc/self/")).WriteLogEntry(QStringLiteral("lost"));
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/proc/self/Logs")));

    // A folder without write permission, where permissions bind (not as root).
    if (::geteuid() != 0) {
        const QString readOnly = dir.file(QStringLiteral("ro"));
        ASSERT_TRUE(QDir().mkpath(readOnly));
        QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ExeOwner);
        SessionLog(readOnly).WriteLogEntry(QStringLiteral("lost"));
        EXPECT_FALSE(QFileInfo::exists(readOnly + QStringLiteral("/Logs")));
        QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
}

// Without a clock of its own the log takes the system's local time, zone included.
TEST(SessionLogSystemClock, EntriesCarryTheLocalTimeOfTheirZone) {
    const QByteArray oldZone = qgetenv("TZ");
    qputenv("TZ", "STB-5"); // five hours ahead of UTC, no daylight saving
    stbtest::ScratchDir dir;
    SessionLog log(dir.path());
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(5 * 3600);
    log.WriteLogEntry(QStringLiteral("zoned"));
    const QDateTime after = QDateTime::currentDateTimeUtc().addSecs(5 * 3600);
    if (oldZone.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", oldZone);
    const QString name = after.date().toString(QStringLiteral("yyyy-MM-dd"));
    const QByteArray line = readFile(dir.file(QStringLiteral("Logs/") + name + ".log"));
    const QByteArray a = before.time().toString(QStringLiteral("hh:mm:ss")).toLatin1();
    const QByteArray b = after.time().toString(QStringLiteral("hh:mm:ss")).toLatin1();
    EXPECT_TRUE(line == a + " - zoned\r\n" || line == b + " - zoned\r\n") << line.toStdString();
}

TEST(ExpandLogTemplate, EveryTokenHasItsFixedWidth) {
    const QDateTime when(QDate(7, 3, 4), QTime(5, 6, 8, 9));
    EXPECT_EQ(ExpandLogTemplate(QStringLiteral("$Y|$M|$D|$h|$m|$s|$k|$t|$x|$"), when,
                                QStringLiteral("$Y")),
              "0007|03|04|05|06|08|009|$Y|$x|$");
    // Letters are case-sensitive: $M is the month, $m the minute.
    EXPECT_EQ(ExpandLogTemplate(QStringLiteral("$M$m"), when, QString()), "0306");
}

} // namespace

// Lines from the console and telnet reach the log without sequences a terminal replaying it
// would act on, and without control characters other than TAB.
TEST(CleanLogLine, DropsEscapeSequencesAndControlsKeepsTab) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"plain\ttext", "plain\ttext"},
        {"\x1b[1;32mgreen\x1b[0m /config #", "green /config #"},
        {"\x1b]0;title\x07prompt", "prompt"},
        {"\x1b]52;c;c2VjcmV0\x1b\\after", "after"},
        {"\x1b[2J\x1b[Hhome", "home"},
        {"\x1b(Bset\x1b"
         "7x",
         "setx"},
        {"bell\x07 back\x08space\x7f", "bell backspace"},
        {"\x1b]0;never ended", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(cleanLogLine(QString::fromLatin1(c.in)), QString::fromLatin1(c.out)) << c.in;
}
