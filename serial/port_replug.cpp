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
    connect(&m_port, &TComPort::opened, this, [this] {
        m_toldLoss = false;
        stopWatching();
    });
    connect(&m_watch, &TDeviceWatch::changed, this, &TPortReplug::tryReopen);
}

TPortReplug::~TPortReplug() {
    stopWatching();
}

void TPortReplug::startWatching(const QString& path) {
    watchFor(path, m_port.openedIdentity());
}

void TPortReplug::watchFor(const QString& path, const DeviceIdentity& identity) {
    stopWatching();
    m_toldLoss = true;
    if (!identity.recognisable()) {
        m_log.WriteLogEntry(
            QStringLiteral("****** INFO: serial port %1 is gone; it is not opened again by "
                           "itself, choose the port again ******")
                .arg(path));
        emit gone(path);
        return;
    }
    m_path = path;
    m_identity = identity;
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
    // Another device under the same name (a second adapter plugged into the freed slot) is
    // not ours to open; the poll keeps looking for the one that went away.
    if (!identifyDeviceAt(m_path).sameDevice(m_identity))
        return;
    const QString path = m_path;
    const DeviceIdentity expected = m_identity;
    try {
        m_port.Open(); // stops the watch through opened()
    } catch (const EPortException&) {
        return; // not ready yet (udev still setting it up): the poll tries again
    }
    if (!m_port.openedIdentity().sameDevice(expected)) {
        // Swapped between the look and the open: give it back and wait on.
        m_port.Close();
        watchFor(path, expected);
        return;
    }
    m_log.WriteLogEntry(
        QStringLiteral("****** INFO: serial port %1 is back and open again ******").arg(path));
    emit reopened(path);
}
