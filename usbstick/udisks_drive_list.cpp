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

DriveEntry entryOf(const QVariantMap& drive, const QVariantMap& block, const QVariantMap& disk,
                   bool partition, const QString& sysRoot) {
    DriveEntry entry;
    entry.device = devicePathOf(block);
    entry.sizeBytes = block.value(QStringLiteral("Size")).toLongLong();
    entry.identity.number = block.value(QStringLiteral("DeviceNumber")).toULongLong();
    entry.identity.partition = partition;
    // udisks does not tell the disk sequence number; sysfs does, for the disk.
    const dev_t diskNumber = disk.value(QStringLiteral("DeviceNumber")).toULongLong();
    entry.identity.diskSequence = readSmallFile(QStringLiteral("%1/dev/block/%2:%3/diskseq")
                                                    .arg(sysRoot)
                                                    .arg(major(diskNumber))
                                                    .arg(minor(diskNumber)))
                                      .toULongLong();
    entry.wholeDevice = !partition;
    QStringList model;
    for (const char* key : {"Vendor", "Model"}) {
        const QString value = drive.value(QLatin1String(key)).toString().trimmed();
        if (!value.isEmpty())
            model << value;
    }
    QStringList parts;
    if (!model.isEmpty())
        parts << model.join(QLatin1Char(' '));
    parts << sizeText(entry.sizeBytes)
          << drive.value(QStringLiteral("ConnectionBus")).toString().toUpper();
    entry.description = parts.join(QStringLiteral(", "));
    return entry;
}

// Everything the decision about one whole disk needs, gathered over all objects.
struct DiskFacts {
    QDBusObjectPath object;
    QStringList members; // object paths of the disk and its partitions
    QStringList partitions;
    QString layeredBy; // a crypto or RAID device built on one of its blocks
};

} // namespace

UdisksDriveLister::UdisksDriveLister(QDBusConnection bus, QString mountInfoPath, QString swapsPath,
                                     QString sysRoot)
    : m_bus(std::move(bus)), m_mountInfoPath(std::move(mountInfoPath)),
      m_swapsPath(std::move(swapsPath)), m_sysRoot(std::move(sysRoot)),
      m_fallback(m_sysRoot, m_mountInfoPath, m_swapsPath) {}

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
    QStringList hinted;                 // HintSystem anywhere, by kernel name
    for (auto it = objects.begin(); it != objects.end(); ++it) {
        if (!it->contains(kBlock))
            continue;
        const QVariantMap block = it->value(kBlock);
        if (block.value(QStringLiteral("HintSystem")).toBool())
            hinted << QFileInfo(devicePathOf(block)).fileName();
        if (!it->contains(kPartition))
            disks[it.key().path()] = {it.key(), {it.key().path()}, {}, {}};
    }
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
                if (facts.members.contains(member) && facts.layeredBy.isEmpty())
                    facts.layeredBy =
                        QStringLiteral("held by ") + QFileInfo(devicePathOf(block)).fileName();
    }

    const SystemDisks system(m_sysRoot, readSmallFile(m_mountInfoPath), readSmallFile(m_swapsPath),
                             hinted);
    std::vector<Disk> result;
    for (const auto& [path, facts] : disks) {
        const Interfaces& diskObject = objects[facts.object];
        const QVariantMap block = diskObject.value(kBlock);
        const QVariantMap drive =
            objects.value(QDBusObjectPath(objectPathOf(block.value(QStringLiteral("Drive")))))
                .value(kDrive);
        Disk disk;
        disk.whole = entryOf(drive, block, block, false, m_sysRoot);
        std::vector<BlockDevice> members;
        for (const QString& member : facts.members) {
            const QVariantMap memberBlock = objects.value(QDBusObjectPath(member)).value(kBlock);
            members.push_back(
                {QFileInfo(devicePathOf(memberBlock)).fileName(), deviceNumberOf(memberBlock)});
        }
        for (const QString& volume : facts.partitions)
            disk.volumes.push_back(entryOf(drive,
                                           objects.value(QDBusObjectPath(volume)).value(kBlock),
                                           block, true, m_sysRoot));
        if (facts.partitions.isEmpty())
            disk.volumes.push_back(disk.whole);
        const bool removable = drive.value(QStringLiteral("Removable")).toBool() ||
                               drive.value(QStringLiteral("MediaRemovable")).toBool();
        const bool onUsb = drive.value(QStringLiteral("ConnectionBus")).toString() == "usb";
        if (diskObject.contains(kLoop) || isVirtualDisk(members.front().name))
            disk.refusal = QStringLiteral("is a loop or RAM device");
        else if (!removable || !onUsb)
            disk.refusal = QStringLiteral("is not a removable USB drive");
        else if (block.value(QStringLiteral("Size")).toULongLong() == 0)
            disk.refusal = QStringLiteral("holds no medium");
        else if (block.value(QStringLiteral("HintIgnore")).toBool())
            disk.refusal = QStringLiteral("is to be ignored for udisks");
        else if (!facts.layeredBy.isEmpty())
            disk.refusal = facts.layeredBy;
        else
            disk.refusal = system.refusal(members);
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
        if (disk.refusal.isEmpty())
            entries.insert(entries.end(), disk.volumes.begin(), disk.volumes.end());
    return entries;
}

DriveLookup UdisksDriveLister::lookUp(const QString& path) {
    const auto disks = scan();
    if (!disks)
        return m_fallback.lookUp(path);
    const QFileInfo info(path);
    // /dev/disk/by-id/... names lead to the device udisks names.
    const QString device = info.exists() ? info.canonicalFilePath() : QDir::cleanPath(path);
    for (const Disk& disk : *disks) {
        std::optional<DriveEntry> match;
        if (disk.whole.device == device)
            match = disk.whole;
        for (const DriveEntry& volume : disk.volumes)
            if (volume.device == device)
                match = volume;
        if (!match)
            continue;
        if (!disk.refusal.isEmpty())
            return forbiddenDrive(disk.whole.device + QLatin1Char(' ') + disk.refusal);
        return offeredDrive(*match);
    }
    return unlistedDrive(path, info.exists());
}

} // namespace usbstick
