#pragma once
// TPortReplug: brings the serial port back after its device vanished. USB serial adapters
// drop off the bus and come back (a loose plug, a receiver that browns out the hub), and
// the boot output that follows is exactly what the user is waiting for. So when the open
// port's device is lost, the same path is watched - inotify on its folder, plus a half-second
// poll for what inotify cannot see (the folder itself coming back, a node whose permissions
// udev sets a moment after creating it) - and reopened with the same settings as soon as the
// device there is the one that went away (same by-id name, or same USB vendor, product and
// serial). Nothing is sent on reopen. A job that was running at the loss has failed already;
// the reopen does not resume it.
//
// A device that cannot be recognised again is not waited for: a pseudo-terminal's number goes
// to the next terminal anyone opens, and typing into it would hand the user's keys (a login, a
// password) to whoever owns it. Then only gone() is emitted and the user picks the port again.
//
// The watch ends when the port is open again (by us or by anyone), or when the port is set
// to another device. Both events go to the session log and out as signals.
//
// UI thread only. Shutdown: the destructor closes the inotify descriptor; the port must
// outlive this object.
#include "serial/device_identity.h"
#include "serial/device_watch.h"

#include <QObject>
#include <QString>
#include <QTimer>

class SessionLog;
class TComPort;

class TPortReplug : public QObject {
    Q_OBJECT
public:
    TPortReplug(TComPort& port, SessionLog& log, QObject* parent = nullptr);
    ~TPortReplug() override;

    bool watching() const { return !m_path.isEmpty(); }
    // The last loss was told through lost() or gone() and the port has not opened since.
    bool toldLoss() const { return m_toldLoss; }

signals:
    void lost(const QString& path); // and waiting for it to come back
    void gone(const QString& path); // and not reopened by itself
    void reopened(const QString& path);

private:
    void startWatching(const QString& path);
    void watchFor(const QString& path, const DeviceIdentity& identity);
    void stopWatching();
    void tryReopen();

    TComPort& m_port;
    SessionLog& m_log;
    QString m_path;            // empty while not watching
    DeviceIdentity m_identity; // of the device that went away
    bool m_toldLoss = false;
    QTimer m_poll;
    TDeviceWatch m_watch;
};
