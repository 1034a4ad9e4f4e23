#pragma once
// The termios side of the port: open a device exclusively with the console's line settings,
// and give it back as it was found. No threads here; the port session drives the fd.
#include "core/posix_io.h"
#include "serial/device_identity.h"

#include <QString>

#include <termios.h>

struct OpenedDevice {
    UniqueFd fd;
    termios original{}; // restored at close
    QString path;
    bool hasModemLines = false; // false on pseudo-terminals (TIOCMBIS → ENOTTY)
    DeviceIdentity identity;    // of the device the fd holds, not of whatever the path names later
};

// Opens path O_RDWR|O_NOCTTY|O_NONBLOCK|O_CLOEXEC, takes flock(LOCK_EX|LOCK_NB) and
// TIOCEXCL (TIOCEXCL alone does not stop root), saves the termios, sets raw 8N1 115200 with
// XON/XOFF both ways (IXANY off, so only XON restarts output) and raises DTR and RTS.
// Throws EBadId, EAlreadyOpen or EInOutError (see throwOpenError); nothing stays open then.
OpenedDevice openSerialDevice(const QString& path);

// Discards both kernel queues, restores the saved termios, drops exclusivity and closes.
// Never throws; a device that is already gone just gets closed.
void closeSerialDevice(OpenedDevice& device);

// The failure for errno err while opening path: ENOENT/ENOTDIR/ENXIO/ENODEV → EBadId;
// EBUSY/EWOULDBLOCK → EAlreadyOpen; EACCES/EPERM → EInOutError naming group dialout;
// ENOTTY → EInOutError "not a serial device"; anything else → EInOutError with the
// system's text.
[[noreturn]] void throwOpenError(int err, const QString& path);
