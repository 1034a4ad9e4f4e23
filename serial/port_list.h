#pragma once
// TSerialPortList: the serial devices this PC has now, for the port box after COM1-COM4.
// USB adapters (ttyUSB*, ttyACM*) are listed whether or not this user may open them, so a
// user outside the dialout group still finds the adapter and is told why it does not open;
// built-in ports from ttyS4 on only when a UART stands behind them (COM1-COM4 name ttyS0-3).
// A device with a stable name under /dev/serial/by-id is listed by that name: it stays the
// same when the adapter comes back as ttyUSB1 after a replug.
//
// Built-in ports are judged from sysfs and never opened: opening one raises its modem lines
// and can disturb what uses it (on a virtual machine often its own console).
//
// UI thread only.
#include "serial/device_watch.h"

#include <QObject>
#include <QString>
#include <QStringList>

class TSerialPortList : public QObject {
    Q_OBJECT
public:
    // The folders are parameters so tests can give a tree of their own.
    explicit TSerialPortList(const QString& devDir = QStringLiteral("/dev"),
                             const QString& byIdDir = QStringLiteral("/dev/serial/by-id"),
                             const QString& sysDir = QStringLiteral("/sys/class/tty"),
                             QObject* parent = nullptr);

    // The device paths as the port box offers them, ACM before USB, each by number.
    QStringList ports() const;

    // From now on changed() follows the device folder.
    void follow();

signals:
    // A serial device came or went since the last look.
    void changed();

private:
    void lookAgain();

    QString m_devDir;
    QString m_byIdDir;
    QString m_sysDir;
    QStringList m_last;
    TDeviceWatch m_devWatch;
    TDeviceWatch m_byIdWatch;
};
