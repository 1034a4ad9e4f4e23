#include "log/session_log.h"

#include "core/posix_io.h"

#include <QDir>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/inotify.h>
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
    return ExpandLogTemplate(logTemplate, instant.date(), instant.time(), entryText);
}

QString ExpandLogTemplate(const QString& logTemplate, QDate d, QTime t, const QString& entryText) {
    // One pass gives what replacing the tokens one after the other gives: every value put
    // in is digits or the entry text, and digits can neither start nor finish a token, while
    // the text goes in last either way and is never looked at again.
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
    return ::writeAll(fd, bytes.constData(), std::size_t(bytes.size()));
}

int openForAppend(const QString& folder, const QString& fileName) {
    if (!QDir().mkpath(folder))
        return -1;
    const QByteArray path = QFile::encodeName(folder + fileName);
    return ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
}

} // namespace

SessionLog::SessionLog(const QString& baseDir, Clock clock)
    : m_baseDir(baseDir), m_clock(std::move(clock)) {
    if (!m_baseDir.endsWith(QLatin1Char('/')))
        m_baseDir += QLatin1Char('/');
    m_watchFd = openInotify();
}

QString SessionLog::folder() const {
    return m_baseDir + kLogDirName;
}

void SessionLog::writeEntry(const QString& entryTemplate, const QString& text) {
    QDate date;
    QTime time;
    if (m_clock) {
        const QDateTime instant = m_clock();
        date = instant.date();
        time = instant.time();
    } else {
        localNow(date, time);
    }
    const QString fileName =
        ExpandLogTemplate(m_nameTemplate, date, time, text) + QLatin1Char('.') + kLogExtension;
    const QString line = ExpandLogTemplate(entryTemplate, date, time, text);
    appendToDayFile(fileName, line.toUtf8() + "\r\n");
}

void SessionLog::localNow(QDate& date, QTime& time) {
    // Zone offsets change only on whole seconds, so one lookup serves the whole second.
    const qint64 ms = QDateTime::currentMSecsSinceEpoch();
    const qint64 second = ms / 1000;
    if (second != m_second) {
        const QDateTime local = QDateTime::fromSecsSinceEpoch(second);
        m_second = second;
        m_secondDate = local.date();
        m_secondTime = local.time();
    }
    date = m_secondDate;
    time = QTime(m_secondTime.hour(), m_secondTime.minute(), m_secondTime.second(),
                 int(ms - second * 1000));
}

bool SessionLog::heldFileIsAt(const QByteArray& path) {
    if (!m_fd.valid() || path != m_heldPath)
        return false;
    if (m_watching) {
        // Nothing reported since the last entry: the file and its folder are where they were.
        if (!drainInotify(m_watchFd.get()))
            return true;
        // Something changed (perhaps only the file's times): look the path up once more.
    }
    struct stat named {};
    struct stat held {};
    return ::stat(path.constData(), &named) == 0 && ::fstat(m_fd.get(), &held) == 0 &&
           named.st_dev == held.st_dev && named.st_ino == held.st_ino;
}

void SessionLog::watchHeldFile(const QByteArray& path) {
    // A link count change (deleted, or replaced by a rename) and a rename of the file or of
    // its folder are what move the path away from the held file. Watching the folders above
    // would cost a watch per level; a user renames the log's own folder, not the ones above.
    m_watching = false;
    if (!m_watchFd.valid())
        return;
    const int slash = path.lastIndexOf('/');
    const QByteArray folder = slash > 0 ? path.left(slash) : QByteArray("/");
    m_watching = ::inotify_add_watch(m_watchFd.get(), path.constData(),
                                     IN_ATTRIB | IN_MOVE_SELF | IN_DELETE_SELF) >= 0 &&
                 ::inotify_add_watch(m_watchFd.get(), folder.constData(),
                                     IN_ATTRIB | IN_MOVE_SELF | IN_DELETE_SELF) >= 0;
}

void SessionLog::appendToDayFile(const QString& fileName, const QByteArray& bytes) {
    const QString folder = m_baseDir + kLogDirName;
    const QByteArray path = QFile::encodeName(folder + fileName);
    if (!heldFileIsAt(path)) {
        closeHeldFile();
        m_fd.reset(openForAppend(folder, fileName));
        if (!m_fd.valid())
            return; // lost, silently; the next entry tries again
        m_heldPath = path;
        watchHeldFile(path);
    }
    // The write hands the line to the kernel before we return, so a crash of the program
    // loses nothing already logged; a failed write is silent like every other failure.
    if (!writeAll(m_fd.get(), bytes))
        closeHeldFile();
}

void SessionLog::closeHeldFile() {
    m_fd.reset();
    m_heldPath.clear();
    if (m_watchFd.valid() && m_watching) {
        // Closing the watch descriptor is the one call that drops every watch and every
        // queued event at once; the next file gets a fresh one.
        m_watchFd = openInotify();
    }
    m_watching = false;
}

void SessionLog::WriteLogEntry(const QString& text) {
    writeEntry(kEntryTemplate, text);
}

void SessionLog::WriteLogError(const QString& text) {
    writeEntry(kErrorTemplate, text);
}
