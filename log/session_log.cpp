#include "log/session_log.h"

#include <QDir>
#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>

namespace {

const QString kLogDirName = QStringLiteral("Logs/");
const QString kLogExtension = QStringLiteral("log");
const QString kEntryTemplate = QStringLiteral("$h:$m:$s - $t");
const QString kErrorTemplate = QStringLiteral("$h:$m:$s - ###### $t");

QString pad(int value, int width) {
    return QStringLiteral("%1").arg(value, width, 10, QLatin1Char('0'));
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

SessionLog::SessionLog(const QString& baseDir, Clock clock)
    : m_baseDir(baseDir), m_clock(std::move(clock)) {
    if (!m_baseDir.endsWith(QLatin1Char('/')))
        m_baseDir += QLatin1Char('/');
}

QString SessionLog::folder() const {
    return m_baseDir + kLogDirName;
}

void SessionLog::writeEntry(const QString& entryTemplate, const QString& text) {
    const QDateTime instant = m_clock ? m_clock() : QDateTime::currentDateTime();
    const QString fileName =
        ExpandLogTemplate(m_nameTemplate, instant, text) + QLatin1Char('.') + kLogExtension;
    const QString line = ExpandLogTemplate(entryTemplate, instant, text);
    AppendLogLine(m_baseDir, line, kLogDirName, fileName);
}

void SessionLog::WriteLogEntry(const QString& text) {
    writeEntry(kEntryTemplate, text);
}

void SessionLog::WriteLogError(const QString& text) {
    writeEntry(kErrorTemplate, text);
}
