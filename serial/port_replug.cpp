#include "serial/port_replug.h"

#include "log/session_log.h"
#include "serial/com_port.h"

#include <QFile>
#include <QFileInfo>

#include <sys/inotify.h>

namespace {
constexpr int kPollMs = 500;
}

TPortReplug::TPortReplug(TComPort& port, SessionLog& log, QObject* parent)
    : QObject(parent), m_port(port), m_log(log) {
    m_poll.setInterval(kPollMs);
    connect(&m_poll, &QTimer::timeout, this, &TPortReplug::tryReopen);
    connect(&m_port, &TComPort::deviceLost, this, &TPortReplug::startWatching);
    // Opened by anyone (a write, the port box): nothing left to wait for.
    connect(&m_port, &TComPort::opened, this, &TPortReplug::stopWatching);
    connect(&m_watch, &TDeviceWatch::changed, this, &TPortReplug::tryReopen);
}

TPortReplug::~TPortReplug() {
    stopWatching();
}

void TPortReplug::startWatching(const QString& path) {
    stopWatching();
    m_path = path;
    m_log.WriteLogEntry(
        QStringLiteral("****** INFO: serial port %1 is gone, waiting for it to come back ******")
            .arg(path));
    emit lost(path);
    m_watch.watch(QFileInfo(path).absolutePath(), IN_CREATE | IN_MOVED_TO | IN_ATTRIB);
    m_poll.start();
}

void TPortReplug::stopWatching() {
    m_poll.stop();
    m_watch.stop();
    m_path.clear();
}

void TPortReplug::tryReopen() {
    if (!watching())
        return;
    // The user chose another port meanwhile: that one is theirs to open.
    if (m_port.devicePath() != m_path || m_port.isOpen()) {
        stopWatching();
        return;
    }
    if (!QFileInfo::exists(m_path))
        return;
    const QString path = m_path;
    try {
        m_port.Open(); // stops the watch through opened()
    } catch (const EPortException&) {
        return; // not ready yet (udev still setting it up): the poll tries again
    }
    m_log.WriteLogEntry(
        QStringLiteral("****** INFO: serial port %1 is back and open again ******").arg(path));
    emit reopened(path);
}
