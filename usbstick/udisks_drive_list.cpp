#include "usbstick/udisks_drive_list.h"
#include "usbstick/udisks_names.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDir>
#include <QFileInfo>

#include <map>
#include <sys/sysmacros.h>

namespace usbstick {

namespace {

using namespace udisks;

using Interfaces = QMap<QString, QVariantMap>;
using ManagedObjects = QMap<QDBusObjectPath, Interfaces>;

// The list is asked for on the UI thread: a daemon that hangs must not freeze the window.
constexpr int kTimeoutMs = 5000;

QString objectPathOf(const QVariant& value) {
    return value.value<QDBusObjectPath>().path();
}

QString devicePathOf(const QVariantMap& block) {
    QByteArray bytes = block.value(QStringLiteral("Device")).toByteArray();
    while (bytes.endsWith('\0'))
        bytes.chop(1);
    return QFile::decodeName(bytes);
}

QString deviceNumberOf(const QVariantMap& block) {
    const dev_t number = block.value(QStringLiteral("DeviceNumber")).toULongLong();
    return QStringLiteral("%1:%2").arg(major(number)).arg(minor(number));
}

bool hinted(const QVariantMap& block) {
    return block.value(QStringLiteral("HintSystem")).toBool() ||
           block.value(QStringLiteral("HintIgnore")).toBool();
}

QString describe(const QVariantMap& drive, const QVariantMap& volume) {
    QStringList parts;
    for (const char* key : {"Vendor", "Model"}) {
        const QString value = drive.value(QLatin1String(key)).toString().trimmed();
        if (!value.isEmpty())
            parts << value;
    }
    const double gigabytes = volume.value(QStringLiteral("Size")).toULongLong() / 1e9;
    parts << QStringLiteral("%1 GB").arg(gigabytes, 0, 'f', 1);
    return parts.join(QLatin1Char(' '));
}

// Everything the decision about one whole disk needs, gathered over all objects.
struct DiskFacts {
    QDBusObjectPath object;
    QStringList members; // object paths of the disk and its partitions
    QStringList partitions;
    bool layered = false; // crypto or RAID built on one of its blocks
};

} // namespace

UdisksDriveLister::UdisksDriveLister(QDBusConnection bus, QString mountInfoPath, QString swapsPath)
    : m_bus(std::move(bus)), m_mountInfoPath(std::move(mountInfoPath)),
      m_swapsPath(std::move(swapsPath)),
      m_fallback(QStringLiteral("/sys"), m_mountInfoPath, m_swapsPath) {}

std::optional<std::vector<UdisksDriveLister::Disk>> UdisksDriveLister::scan() {
    qDBusRegisterMetaType<Interfaces>();
    qDBusRegisterMetaType<ManagedObjects>();
    const QDBusMessage call = QDBusMessage::createMethodCall(
        kService, QStringLiteral("/org/freedesktop/UDisks2"),
        QStringLiteral("org.freedesktop.DBus.ObjectManager"), QStringLiteral("GetManagedObjects"));
    const QDBusMessage reply = m_bus.call(call, QDBus::Block, kTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    const ManagedObjects objects = qdbus_cast<ManagedObjects>(reply.arguments().first());

    std::map<QString, DiskFacts> disks; // by the whole disk's object path
    for (auto it = objects.begin(); it != objects.end(); ++it)
        if (it->contains(kBlock) && !it->contains(kPartition))
            disks[it.key().path()] = {it.key(), {it.key().path()}, {}, false};
    for (auto it = objects.begin(); it != objects.end(); ++it) {
        if (!it->contains(kBlock) || !it->contains(kPartition))
            continue;
        const auto disk =
            disks.find(objectPathOf(it->value(kPartition).value(QStringLiteral("Table"))));
        if (disk != disks.end()) {
            disk->second.members << it.key().path();
            disk->second.partitions << it.key().path();
        }
    }
    for (auto it = objects.begin(); it != objects.end(); ++it) {
        const QVariantMap block = it->value(kBlock);
        const QStringList below = {objectPathOf(block.value(QStringLiteral("CryptoBackingDevice"))),
                                   objectPathOf(block.value(QStringLiteral("MDRaidMember")))};
        for (auto& [path, facts] : disks)
            for (const QString& member : below)
                if (facts.members.contains(member))
                    facts.layered = true;
    }

    const QByteArray mountInfo = readSmallFile(m_mountInfoPath);
    const QByteArray swaps = readSmallFile(m_swapsPath);
    std::vector<Disk> result;
    for (const auto& [path, facts] : disks) {
        const Interfaces& diskObject = objects[facts.object];
        const QVariantMap block = diskObject.value(kBlock);
        const QVariantMap drive =
            objects.value(QDBusObjectPath(objectPathOf(block.value(QStringLiteral("Drive")))))
                .value(kDrive);
        Disk disk;
        disk.device = devicePathOf(block);
        QStringList numbers;
        QStringList names;
        bool anyHint = false;
        for (const QString& member : facts.members) {
            const QVariantMap memberBlock = objects.value(QDBusObjectPath(member)).value(kBlock);
            numbers << deviceNumberOf(memberBlock);
            names << QFileInfo(devicePathOf(memberBlock)).fileName();
            anyHint = anyHint || hinted(memberBlock);
        }
        const QStringList volumes = facts.partitions.isEmpty() ? facts.members : facts.partitions;
        for (const QString& volume : volumes) {
            const QVariantMap volumeBlock = objects.value(QDBusObjectPath(volume)).value(kBlock);
            disk.volumes.push_back({devicePathOf(volumeBlock), describe(drive, volumeBlock)});
        }
        const bool removable = drive.value(QStringLiteral("Removable")).toBool() ||
                               drive.value(QStringLiteral("MediaRemovable")).toBool();
        const bool onUsb = drive.value(QStringLiteral("ConnectionBus")).toString() == "usb";
        const bool virtualDisk = diskObject.contains(kLoop) || isVirtualDisk(names.value(0));
        const bool hasMedium = block.value(QStringLiteral("Size")).toULongLong() > 0;
        disk.offered = removable && onUsb && !virtualDisk && hasMedium && !anyHint &&
                       !facts.layered && !holdsMountedSystem(numbers, names, mountInfo, swaps);
        result.push_back(std::move(disk));
    }
    return result;
}

std::vector<DriveEntry> UdisksDriveLister::removableVolumes() {
    const auto disks = scan();
    if (!disks)
        return m_fallback.removableVolumes();
    std::vector<DriveEntry> entries;
    for (const Disk& disk : *disks)
        if (disk.offered)
            entries.insert(entries.end(), disk.volumes.begin(), disk.volumes.end());
    return entries;
}

DriveClass UdisksDriveLister::classify(const QString& path) {
    const auto disks = scan();
    if (!disks)
        return m_fallback.classify(path);
    const QFileInfo info(path);
    // /dev/disk/by-id/... names lead to the device udisks names.
    const QString device = info.exists() ? info.canonicalFilePath() : QDir::cleanPath(path);
    for (const Disk& disk : *disks) {
        bool match = disk.device == device;
        for (const DriveEntry& volume : disk.volumes)
            match = match || volume.device == device;
        if (match)
            return disk.offered ? DriveClass::Offered : DriveClass::Forbidden;
    }
    if (!info.exists())
        return DriveClass::Unknown;
    return info.isFile() ? DriveClass::Image : DriveClass::Forbidden;
}

} // namespace usbstick
