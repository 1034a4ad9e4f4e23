#include "usbstick/drive_list.h"

#include "usbstick/volume_probe.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace usbstick {

QByteArray readSmallFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
}

bool isVirtualDisk(const QString& name) {
    return name.startsWith(QLatin1String("loop")) || name.startsWith(QLatin1String("ram")) ||
           name.startsWith(QLatin1String("zram"));
}

bool holdsMountedSystem(const QStringList& numbers, const QStringList& names,
                        const QByteArray& mountInfo, const QByteArray& swaps) {
    for (const MountEntry& e : parseMountInfo(mountInfo))
        if (isSystemMountPoint(e.mountPoint) &&
            numbers.contains(QStringLiteral("%1:%2").arg(e.major).arg(e.minor)))
            return true;
    for (const QString& swap : parseSwaps(swaps))
        if (names.contains(QFileInfo(swap).fileName()))
            return true;
    return false;
}

QString driveListEntry(const DriveEntry& entry) {
    QString text = entry.device + QStringLiteral("  Wechseldatentraeger");
    if (!entry.description.isEmpty())
        text += QStringLiteral("  (") + entry.description + QLatin1Char(')');
    return text;
}

QString driveTextOf(const QString& entry) {
    const qsizetype blanks = entry.indexOf(QLatin1String("  "));
    return blanks < 0 ? entry : entry.left(blanks);
}

SysfsDriveLister::SysfsDriveLister(QString sysRoot, QString mountInfoPath, QString swapsPath,
                                   QString devRoot)
    : m_sysRoot(std::move(sysRoot)), m_mountInfoPath(std::move(mountInfoPath)),
      m_swapsPath(std::move(swapsPath)), m_devRoot(std::move(devRoot)) {}

bool SysfsDriveLister::holdsSystem(const QString& diskName, const QStringList& partitions) const {
    const QString diskDir = m_sysRoot + QStringLiteral("/block/") + diskName;
    QStringList names = partitions;
    names.prepend(diskName);
    QStringList numbers;
    for (const QString& name : names) {
        const QString dir = name == diskName ? diskDir : diskDir + QLatin1Char('/') + name;
        numbers << QString::fromLatin1(readSmallFile(dir + QStringLiteral("/dev")));
        // Held by device mapper, RAID or LVM: what lives on top may well be the system.
        if (!QDir(dir + QStringLiteral("/holders"))
                 .entryList(QDir::AllEntries | QDir::NoDotAndDotDot)
                 .isEmpty())
            return true;
    }
    return holdsMountedSystem(numbers, names, readSmallFile(m_mountInfoPath),
                              readSmallFile(m_swapsPath));
}

std::vector<SysfsDriveLister::Disk> SysfsDriveLister::scan() const {
    std::vector<Disk> disks;
    const QDir block(m_sysRoot + QStringLiteral("/block"));
    for (const QString& name : block.entryList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
        Disk disk;
        disk.name = name;
        const QString dir = block.filePath(name);
        QStringList partitions;
        for (const QString& sub : QDir(dir).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            if (QFile::exists(dir + QLatin1Char('/') + sub + QStringLiteral("/partition")))
                partitions << sub;
        disk.volumes = partitions.isEmpty() ? QStringList{name} : partitions;
        const bool removable = readSmallFile(dir + QStringLiteral("/removable")) == "1";
        const bool onUsb = QFileInfo(dir).canonicalFilePath().contains(QLatin1String("/usb"));
        const bool hasMedium = readSmallFile(dir + QStringLiteral("/size")).toLongLong() > 0;
        disk.offered = !isVirtualDisk(name) && (removable || onUsb) && hasMedium &&
                       !holdsSystem(name, partitions);
        disks.push_back(disk);
    }
    return disks;
}

QString SysfsDriveLister::describe(const QString& diskName, const QString& volume) const {
    const QString dir = m_sysRoot + QStringLiteral("/block/") + diskName;
    const QString volumeDir = volume == diskName ? dir : dir + QLatin1Char('/') + volume;
    QStringList parts;
    for (const char* key : {"/device/vendor", "/device/model"}) {
        const QString value = QString::fromLatin1(readSmallFile(dir + QLatin1String(key)));
        if (!value.isEmpty())
            parts << value;
    }
    const double gigabytes =
        readSmallFile(volumeDir + QStringLiteral("/size")).toDouble() * 512.0 / 1e9;
    parts << QStringLiteral("%1 GB").arg(gigabytes, 0, 'f', 1);
    return parts.join(QLatin1Char(' '));
}

std::vector<DriveEntry> SysfsDriveLister::removableVolumes() {
    std::vector<DriveEntry> entries;
    for (const Disk& disk : scan())
        if (disk.offered)
            for (const QString& volume : disk.volumes)
                entries.push_back(
                    {m_devRoot + QLatin1Char('/') + volume, describe(disk.name, volume)});
    return entries;
}

DriveClass SysfsDriveLister::classify(const QString& path) {
    const QFileInfo info(path);
    // /dev/disk/by-id/... names lead to the same kernel name.
    const QString name = QFileInfo(info.exists() ? info.canonicalFilePath() : path).fileName();
    for (const Disk& disk : scan()) {
        if (disk.name == name || disk.volumes.contains(name) ||
            QFile::exists(m_sysRoot + QStringLiteral("/block/") + disk.name + QLatin1Char('/') +
                          name + QStringLiteral("/partition")))
            return disk.offered ? DriveClass::Offered : DriveClass::Forbidden;
    }
    if (!info.exists())
        return DriveClass::Unknown;
    return info.isFile() ? DriveClass::Image : DriveClass::Forbidden;
}

} // namespace usbstick
