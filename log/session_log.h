#pragma once
// The session log: one dated file per day in "Logs/" beside the program, one line per entry.
// Every call opens, appends and closes the file so that a crash loses nothing already logged;
// every failure is silent because logging must never stop the work it records.
#include <QDateTime>
#include <QString>

#include <functional>

// The program makes one and hands it to everything that logs. UI thread only.
class SessionLog {
public:
    using Clock = std::function<QDateTime()>;

    // baseDir: the folder "Logs/" is made in (the program's own folder), with or without a
    // trailing separator. clock: the local time of each entry; empty = the system clock.
    explicit SessionLog(const QString& baseDir, Clock clock = {});

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

    QString m_baseDir; // ends in a separator
    Clock m_clock;
    QString m_nameTemplate = QStringLiteral("$Y-$M-$D");
};

// Replaces the tokens $Y $M $D $h $m $s $k and finally $t (the entry text), in that order, so a
// dollar sequence inside the entry text is never expanded.
QString ExpandLogTemplate(const QString& logTemplate, const QDateTime& instant,
                          const QString& entryText);

// Appends line + CR LF to baseDir + folderName + fileName, creating folders as needed.
// Returns false on any failure (the log's entries ignore it).
bool AppendLogLine(const QString& baseDir, const QString& line, const QString& folderName,
                   const QString& fileName);
