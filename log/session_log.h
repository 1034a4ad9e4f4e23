#pragma once
// The session log: one dated file per day in "Logs/" beside the program, one line per entry.
// Every call opens, appends and closes the file so that a crash loses nothing already logged;
// every failure is silent because logging must never stop the work it records.
#include <QDateTime>
#include <QString>

#include <functional>

// Appends "$h:$m:$s - text" with the current local time.
void WriteLogEntry(const QString& text);
// Appends "$h:$m:$s - ###### text".
void WriteLogError(const QString& text);
// Replaces the file-name template ("$Y-$M-$D" until the program sets its own).
void SetLogNameTemplate(const QString& nameTemplate);

// Replaces the tokens $Y $M $D $h $m $s $k and finally $t (the entry text), in that order, so a
// dollar sequence inside the entry text is never expanded.
QString ExpandLogTemplate(const QString& logTemplate, const QDateTime& instant,
                          const QString& entryText);

// Appends line + CR LF to baseDir + folderName + fileName, creating folders as needed.
// Returns false on any failure (the public calls ignore it).
bool AppendLogLine(const QString& baseDir, const QString& line, const QString& folderName,
                   const QString& fileName);

// Seams for tests: the local clock, and the folder the log goes beside (normally the
// program's own folder). Passing an empty function / empty text restores the default.
void SetLogClock(std::function<QDateTime()> clock);
void SetLogBaseDir(const QString& dirWithSeparator);
