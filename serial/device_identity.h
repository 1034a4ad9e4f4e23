#pragma once
// What a serial device is, beyond the path it was opened by. A path names whatever holds it
// at the moment: after a replug /dev/ttyUSB0 may be another adapter, and a freed /dev/pts/N
// goes to the next terminal anyone opens - often another user's, or the user's own shell. So a
// vanished device is opened again only when the thing now at its path is provably the same.
#include <QString>

#include <sys/types.h>

struct DeviceIdentity {
    bool pseudoTerminal = false;
    QString byIdName; // its link name in /dev/serial/by-id, when udev made one
    QString usbVendor;
    QString usbProduct;
    QString usbSerial;

    // Something a later device can be matched against: a USB adapter with a by-id name or a
    // serial number. A pseudo-terminal never is: a new one is someone else's.
    bool recognisable() const;
    // Both recognisable and the same by-id name, or the same vendor, product and serial.
    bool sameDevice(const DeviceIdentity& other) const;
};

// The identity of the character device with number rdev, from sysfs and /dev/serial/by-id.
DeviceIdentity identifyDevice(dev_t rdev);
// The identity of what path names now; empty (not recognisable) when it cannot be examined.
DeviceIdentity identifyDeviceAt(const QString& path);
