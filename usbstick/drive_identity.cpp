#include "usbstick/drive_identity.h"

#include <QDir>
#include <QFile>

#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace usbstick {

namespace {

QString sysDirOf(const QString& sysRoot, dev_t number) {
    return QStringLiteral("%1/dev/block/%2:%3").arg(sysRoot).arg(major(number)).arg(minor(number));
}

QByteArray readTrimmed(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
}

// A partition keeps no diskseq of its own: it is its disk's.
DriveIdentity fromSysfs(const QString& sysRoot, dev_t number) {
    DriveIdentity identity;
    identity.number = number;
    const QString dir = sysDirOf(sysRoot, number);
    identity.partition = QFile::exists(dir + QStringLiteral("/partition"));
    const QString disk = identity.partition ? dir + QStringLiteral("/..") : dir;
    identity.diskSequence = readTrimmed(disk + QStringLiteral("/diskseq")).toULongLong();
    return identity;
}

} // namespace

QString DriveIdentity::text() const {
    return QStringLiteral("%1:%2 diskseq %3")
        .arg(major(dev_t(number)))
        .arg(minor(dev_t(number)))
        .arg(diskSequence);
}

std::optional<DriveIdentity> identityOfOpenDevice(int fd, const QString& sysRoot) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISBLK(st.st_mode))
        return std::nullopt;
    DriveIdentity identity = fromSysfs(sysRoot, st.st_rdev);
    // Asked of the open device itself: it cannot have changed under this descriptor.
    uint64_t sequence = 0;
    if (ioctl(fd, BLKGETDISKSEQ, &sequence) == 0)
        identity.diskSequence = sequence;
    return identity;
}

std::optional<DriveIdentity> identityOfPath(const QString& path, const QString& sysRoot) {
    struct stat st {};
    if (stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISBLK(st.st_mode))
        return std::nullopt;
    return fromSysfs(sysRoot, st.st_rdev);
}

std::optional<QString> identityMismatch(const QString& drive, const DriveIdentity& confirmed,
                                        const std::optional<DriveIdentity>& found) {
    if (!found)
        return drive + QStringLiteral(" is no longer the drive that was confirmed (") +
               confirmed.text() + QStringLiteral("): no such block device now");
    if (*found == confirmed)
        return std::nullopt;
    return drive + QStringLiteral(" is no longer the drive that was confirmed (") +
           confirmed.text() + QStringLiteral(", now ") + found->text() + QLatin1Char(')');
}

std::optional<QString> openDeviceMismatch(const QString& drive, const DriveIdentity& confirmed,
                                          int fd) {
    return identityMismatch(drive, confirmed, identityOfOpenDevice(fd));
}

bool wholeDiskWithPartitions(const DriveIdentity& identity, const QString& sysRoot) {
    if (identity.partition)
        return false;
    const QDir dir(sysDirOf(sysRoot, dev_t(identity.number)));
    for (const QString& sub : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        if (QFile::exists(dir.filePath(sub) + QStringLiteral("/partition")))
            return true;
    return false;
}

} // namespace usbstick
