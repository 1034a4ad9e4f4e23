#pragma once
// The session log: one dated file per day in the folder "Logs/" of the settings location (beside
// the program when it runs portable, the user's state folder when installed), one line per entry.
// Each entry is written to the file with one write call before the call returns, so a crash
// loses nothing already logged. The day's file stays open between entries (opening and
// closing it for every received console line was a fifth of the program's work under a
// busy console); before each entry the log makes sure the path still names the file it
// holds, so a file that was deleted, renamed or replaced meanwhile is made again exactly as
// when every entry opened it afresh. Every failure is silent because logging must never
// stop the work it records.
#include "core/posix_io.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <functional>

// The program makes one and hands it to everything that logs. UI thread only.
class SessionLog {
public:
    using Clock = std::function<QDateTime()>;

    // baseDir: the folder "Logs/" is made in (chosen at start-up with the settings), with or
    // without a trailing separator. clock: the local time of each entry; empty = the system clock.
    explicit SessionLog(const QString& baseDir, Clock clock = {});
    SessionLog(const SessionLog&) = delete;
    SessionLog& operator=(const SessionLog&) = delete;

    // Appends "$h:$m:$s - text".
    void WriteLogEntry(const QString& text);
    // Appends "$h:$m:$s - ###### text".
    void WriteLogError(const QString& text);
    // Replaces the file-name template ("$Y-$M-$D" until the program sets its own).
    void SetLogNameTemplate(const QString& nameTemplate) { m_nameTemplate = nameTemplate; }
    // The folder the day's files go into, ending in "Logs/".
    QString folder() const;

private:
    void writeEntry(const QString& entryTemplate, const QString& text);
    void localNow(QDate& date, QTime& time);
    void appendToDayFile(const QString& fileName, const QByteArray& bytes);
    bool heldFileIsAt(const QByteArray& path);
    void watchHeldFile(const QByteArray& path);
    void closeHeldFile();

    QString m_baseDir; // ends in a separator
    Clock m_clock;
    QString m_nameTemplate = QStringLiteral("$Y-$M-$D");
    UniqueFd m_fd;         // the day's file while it is held open
    QByteArray m_heldPath; // the path m_fd was opened by
    // Told by the kernel when the held file or its folder is unlinked or renamed, so the
    // path need not be looked up for every entry; invalid when watching is not possible.
    UniqueFd m_watchFd;
    bool m_watching = false; // the held file and its folder are watched
    // The local time of the last whole second asked for: the zone rules are looked up once a
    // second instead of for every entry.
    qint64 m_second = -1;
    QDate m_secondDate;
    QTime m_secondTime;
};

// Replaces the tokens $Y $M $D $h $m $s $k and finally $t (the entry text), in that order, so a
// dollar sequence inside the entry text is never expanded.
QString ExpandLogTemplate(const QString& logTemplate, const QDateTime& instant,
                          const QString& entryText);
QString ExpandLogTemplate(const QString& logTemplate, QDate date, QTime time,
                          const QString& entryText);
