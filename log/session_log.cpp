#include "log/session_log.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>

namespace {

const QString kLogDirName = QStringLiteral("Logs/");
const QString kLogExtension = QStringLiteral("log");
const QString kEntryTemplate = QStringLiteral("$h:$m:$s - $t");
const QString kErrorTemplate = QStringLiteral("$h:$m:$s - ###### $t");

struct LogState {
    QString nameTemplate = QStringLiteral("$Y-$M-$D");
    QString baseDir; // empty until the first entry finds the program's folder
    std::function<QDateTime()> clock;
};

LogState& state() {
    static LogState s;
    return s;
}

QString programDir() {
    QString dir;
    if (QCoreApplication::instance())
        dir = QCoreApplication::applicationDirPath();
    else
        dir = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}

QString pad(int value, int width) {
    return QStringLiteral("%1").arg(value, width, 10, QLatin1Char('0'));
}

void writeEntry(const QString& entryTemplate, const QString& text) {
    LogState& s = state();
    const QDateTime instant = s.clock ? s.clock() : QDateTime::currentDateTime();
    const QString fileName =
        ExpandLogTemplate(s.nameTemplate, instant, text) + QLatin1Char('.') + kLogExtension;
    const QString line = ExpandLogTemplate(entryTemplate, instant, text);
    if (s.baseDir.isEmpty())
        s.baseDir = programDir();
    AppendLogLine(s.baseDir, line, kLogDirName, fileName);
}

} // namespace

QString ExpandLogTemplate(const QString& logTemplate, const QDateTime& instant,
                          const QString& entryText) {
    const QDate d = instant.date();
    const QTime t = instant.time();
    QString out = logTemplate;
    out.replace(QStringLiteral("$Y"), pad(d.year(), 4));
    out.replace(QStringLiteral("$M"), pad(d.month(), 2));
    out.replace(QStringLiteral("$D"), pad(d.day(), 2));
    out.replace(QStringLiteral("$h"), pad(t.hour(), 2));
    out.replace(QStringLiteral("$m"), pad(t.minute(), 2));
    out.replace(QStringLiteral("$s"), pad(t.second(), 2));
    out.replace(QStringLiteral("$k"), pad(t.msec(), 3));
    out.replace(QStringLiteral("$t"), entryText);
    return out;
}

bool AppendLogLine(const QString& baseDir, const QString& line, const QString& folderName,
                   const QString& fileName) {
    const QString folder = baseDir + folderName;
    if (!QDir().mkpath(folder))
        return false;
    const QByteArray path = QFile::encodeName(folder + fileName);
    const int fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    // One write call per entry: with O_APPEND the line lands whole even if another
    // instance of the program logs to the same day's file.
    const QByteArray bytes = line.toUtf8() + "\r\n";
    qsizetype done = 0;
    bool ok = true;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
            break;
        }
        done += n;
    }
    if (::close(fd) != 0)
        ok = false;
    return ok;
}

void WriteLogEntry(const QString& text) { writeEntry(kEntryTemplate, text); }
void WriteLogError(const QString& text) { writeEntry(kErrorTemplate, text); }
void SetLogNameTemplate(const QString& nameTemplate) { state().nameTemplate = nameTemplate; }
void SetLogClock(std::function<QDateTime()> clock) { state().clock = std::move(clock); }
void SetLogBaseDir(const QString& dirWithSeparator) { state().baseDir = dirWithSeparator; }
