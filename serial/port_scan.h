#pragma once
// The serial devices a user can pick when no valid port is configured: USB adapters
// (ttyUSB*, ttyACM*) this user may read and write, and built-in ports (ttyS*) that have a
// real UART behind them. Built-in ports are judged from sysfs alone and never opened, since
// opening one can disturb whatever uses it (on a virtual machine often its own console).
#include <QList>
#include <QString>

struct SerialDeviceEntry {
    QString portText; // what the port takes: "COM1" for /dev/ttyS0, else the device path
    QString label;    // what the list shows
};

// devRoot and sysRoot exist for tests ("/dev" and "/sys/class/tty" normally). Order: built-in
// ports by number, then USB adapters by name and number.
QList<SerialDeviceEntry>
listSerialDevices(const QString& devRoot = QStringLiteral("/dev"),
                  const QString& sysRoot = QStringLiteral("/sys/class/tty"));

// Whether the built-in port name (ttyS3) has a UART behind it, from sysRoot's type entry
// (the same type the serial driver reports for the device), without opening it.
bool hasRealUart(const QString& sysRoot, const QString& name);
