#include "serial/port_device.h"

#include "core/posix_io.h"
#include "serial/port_errors.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

void throwOpenError(int err, const QString& path) {
    switch (err) {
    case ENOENT:
    case ENOTDIR:
    case ENXIO:
    case ENODEV:
        throw EBadId(path);
    case EBUSY:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EAGAIN:
        throw EAlreadyOpen(path);
    case EACCES:
    case EPERM:
        throw EInOutError(err, QStringLiteral("No permission to use the serial device %1. Add your "
                                              "user to the group dialout (sudo adduser $USER "
                                              "dialout), then log out and in again.")
                                   .arg(path));
    case ENOTTY:
        throw EInOutError(err, QStringLiteral("%1 is not a serial device").arg(path));
    default:
        throw EInOutError(
            err, QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(err))));
    }
}

OpenedDevice openSerialDevice(const QString& path) {
    OpenedDevice dev;
    dev.path = path;
    const QByteArray native = path.toLocal8Bit();
    // Each failure below closes the device as the exception leaves, after errno was read.
    UniqueFd device(::open(native.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!device.valid())
        throwOpenError(errno, path);
    const int fd = device.get();

    // flock first: root passes TIOCEXCL, but never another flock on the same device.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        throwOpenError(errno, path);
    if (::tcgetattr(fd, &dev.original) != 0)
        throwOpenError(errno, path);
    if (::ioctl(fd, TIOCEXCL) != 0)
        throwOpenError(errno, path);

    termios tio = dev.original;
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~tcflag_t(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~tcflag_t(IXANY | INPCK | IGNPAR | PARMRK | IGNBRK | BRKINT);
    tio.c_iflag |= IXON | IXOFF;
    tio.c_cc[VSTART] = 0x11;
    tio.c_cc[VSTOP] = 0x13;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, B115200);
    ::cfsetospeed(&tio, B115200);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        const int err = errno;
        ::ioctl(fd, TIOCNXCL);
        throwOpenError(err, path);
    }

    int lines = TIOCM_DTR | TIOCM_RTS;
    if (::ioctl(fd, TIOCMBIS, &lines) == 0) {
        dev.hasModemLines = true;
    } else if (errno != ENOTTY && errno != EINVAL) {
        // A device with modem lines that refuses them is broken; leave it as it was.
        const int err = errno;
        ::tcsetattr(fd, TCSANOW, &dev.original);
        ::ioctl(fd, TIOCNXCL);
        throwOpenError(err, path);
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0)
        dev.identity = identifyDevice(st.st_rdev);
    dev.fd = std::move(device);
    return dev;
}

void closeSerialDevice(OpenedDevice& device) {
    if (!device.fd.valid())
        return;
    const int fd = device.fd.get();
    ::tcflush(fd, TCIOFLUSH);
    ::tcsetattr(fd, TCSANOW, &device.original);
    ::ioctl(fd, TIOCNXCL);
    device.fd.reset(); // also releases the flock
}
