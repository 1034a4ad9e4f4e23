#include "serial/device_identity.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

// Unix98 pty slaves live on majors 136-143; the legacy BSD slaves on major 3.
bool isPtySlaveMajor(unsigned major) {
    return (major >= 136 && major <= 143) || major == 3;
}

QString firstLine(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readLine()).trimmed();
}

// Walks up from the tty's sysfs node to the USB device that carries it.
void readUsbAttributes(dev_t rdev, DeviceIdentity& id) {
    const QString node =
        QStringLiteral("/sys/dev/char/%1:%2").arg(::major(rdev)).arg(::minor(rdev));
    for (QDir dir(QFileInfo(node).canonicalFilePath()); !dir.isRoot() && dir.path() != "/sys";
         dir.setPath(QFileInfo(dir.path()).path())) {
        if (!QFileInfo::exists(dir.filePath(QStringLiteral("idVendor"))))
            continue;
        id.usbVendor = firstLine(dir.filePath(QStringLiteral("idVendor")));
        id.usbProduct = firstLine(dir.filePath(QStringLiteral("idProduct")));
        id.usbSerial = firstLine(dir.filePath(QStringLiteral("serial")));
        return;
    }
}

QString byIdNameOf(dev_t rdev) {
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QString& name : byId.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        struct stat st {};
        const QByteArray native = QFile::encodeName(byId.filePath(name));
        if (::stat(native.constData(), &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == rdev)
            return name;
    }
    return {};
}

} // namespace

bool DeviceIdentity::recognisable() const {
    return !pseudoTerminal && (!byIdName.isEmpty() || !usbSerial.isEmpty());
}

bool DeviceIdentity::sameDevice(const DeviceIdentity& other) const {
    if (!recognisable() || !other.recognisable())
        return false;
    if (!byIdName.isEmpty() || !other.byIdName.isEmpty())
        return byIdName == other.byIdName;
    return usbVendor == other.usbVendor && usbProduct == other.usbProduct &&
           usbSerial == other.usbSerial;
}

DeviceIdentity identifyDevice(dev_t rdev) {
    DeviceIdentity id;
    id.pseudoTerminal = isPtySlaveMajor(::major(rdev));
    if (id.pseudoTerminal)
        return id;
    id.byIdName = byIdNameOf(rdev);
    readUsbAttributes(rdev, id);
    return id;
}

DeviceIdentity identifyDeviceAt(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISCHR(st.st_mode))
        return {};
    return identifyDevice(st.st_rdev);
}
