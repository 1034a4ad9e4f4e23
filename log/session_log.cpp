#include "log/session_log.h"

#include <QDir>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
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
    // One pass gives what replacing the tokens one after the other gives: every value put
    // in is digits or the entry text, and digits can neither start nor finish a token, while
    // the text goes in last either way and is never looked at again.
    const QDate d = instant.date();
    const QTime t = instant.time();
    QString out;
    out.reserve(logTemplate.size() + entryText.size() + 16);
    const qsizetype size = logTemplate.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = logTemplate.at(i);
        if (c == u'$' && i + 1 < size) {
            bool token = true;
            switch (logTemplate.at(i + 1).unicode()) {
            case u'Y':
                out += pad(d.year(), 4);
                break;
            case u'M':
                out += pad(d.month(), 2);
                break;
            case u'D':
                out += pad(d.day(), 2);
                break;
            case u'h':
                out += pad(t.hour(), 2);
                break;
            case u'm':
                out += pad(t.minute(), 2);
                break;
            case u's':
                out += pad(t.second(), 2);
                break;
            case u'k':
                out += pad(t.msec(), 3);
                break;
            case u't':
                out += entryText;
                break;
            default:
                token = false;
                break;
            }
            if (token) {
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

namespace {

bool writeAll(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += n;
    }
    return true;
}

int openForAppend(const QString& folder, const QString& fileName) {
    if (!QDir().mkpath(folder))
        return -1;
    const QByteArray path = QFile::encodeName(folder + fileName);
    return ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
}

} // namespace

bool AppendLogLine(const QString& baseDir, const QString& line, const QString& folderName,
                   const QString& fileName) {
    const int fd = openForAppend(baseDir + folderName, fileName);
    if (fd < 0)
        return false;
    // One write call per entry: with O_APPEND the line lands whole even if another
    // instance of the program logs to the same day's file.
    const bool ok = writeAll(fd, line.toUtf8() + "\r\n");
    return ::close(fd) == 0 && ok;
}

SessionLog::SessionLog(const QString& baseDir, Clock clock)
    : m_baseDir(baseDir), m_clock(std::move(clock)) {
    if (!m_baseDir.endsWith(QLatin1Char('/')))
        m_baseDir += QLatin1Char('/');
}

SessionLog::~SessionLog() {
    closeHeldFile();
}

QString SessionLog::folder() const {
    return m_baseDir + kLogDirName;
}

void SessionLog::writeEntry(const QString& entryTemplate, const QString& text) {
    const QDateTime instant = m_clock ? m_clock() : QDateTime::currentDateTime();
    const QString fileName =
        ExpandLogTemplate(m_nameTemplate, instant, text) + QLatin1Char('.') + kLogExtension;
    const QString line = ExpandLogTemplate(entryTemplate, instant, text);
    appendToDayFile(fileName, line.toUtf8() + "\r\n");
}

bool SessionLog::heldFileIsAt(const QByteArray& path) const {
    struct stat named {};
    struct stat held {};
    return m_fd >= 0 && path == m_heldPath && ::stat(path.constData(), &named) == 0 &&
           ::fstat(m_fd, &held) == 0 && named.st_dev == held.st_dev && named.st_ino == held.st_ino;
}

void SessionLog::appendToDayFile(const QString& fileName, const QByteArray& bytes) {
    const QString folder = m_baseDir + kLogDirName;
    const QByteArray path = QFile::encodeName(folder + fileName);
    if (!heldFileIsAt(path)) {
        closeHeldFile();
        m_fd = openForAppend(folder, fileName);
        if (m_fd < 0)
            return; // lost, silently; the next entry tries again
        m_heldPath = path;
    }
    // The write hands the line to the kernel before we return, so a crash of the program
    // loses nothing already logged; a failed write is silent like every other failure.
    if (!writeAll(m_fd, bytes))
        closeHeldFile();
}

void SessionLog::closeHeldFile() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_heldPath.clear();
}

void SessionLog::WriteLogEntry(const QString& text) {
    writeEntry(kEntryTemplate, text);
}

void SessionLog::WriteLogError(const QString& text) {
    writeEntry(kErrorTemplate, text);
}
