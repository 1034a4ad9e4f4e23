#include "usbstick/drive_list.h"

#include "usbstick/volume_probe.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <deque>
#include <set>
#include <sys/sysmacros.h>

namespace usbstick {

namespace {

QStringList entriesOf(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
}

DriveIdentity identityFromSysfs(const QString& volumeDir, const QString& diskDir, bool partition) {
    DriveIdentity identity;
    const QList<QByteArray> number = readSmallFile(volumeDir + QStringLiteral("/dev")).split(':');
    if (number.size() == 2)
        identity.number = makedev(number[0].toUInt(), number[1].toUInt());
    identity.diskSequence = readSmallFile(diskDir + QStringLiteral("/diskseq")).toULongLong();
    identity.partition = partition;
    return identity;
}

} // namespace

QByteArray readSmallFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
}

bool isVirtualDisk(const QString& name) {
    return name.startsWith(QLatin1String("loop")) || name.startsWith(QLatin1String("ram")) ||
           name.startsWith(QLatin1String("zram"));
}

QString sizeText(int64_t bytes) {
    return QStringLiteral("%1 GB").arg(double(bytes) / 1e9, 0, 'f', 1);
}

DriveLookup offeredDrive(DriveEntry entry) {
    return {DriveClass::Offered, std::move(entry), {}};
}

DriveLookup forbiddenDrive(QString reason) {
    return {DriveClass::Forbidden, {}, std::move(reason)};
}

DriveLookup unlistedDrive(const QString& path, bool exists) {
    return exists ? forbiddenDrive(path + QStringLiteral(" is not a removable drive"))
                  : DriveLookup{};
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

SystemDisks::SystemDisks(const QString& sysRoot, const QByteArray& mountInfo,
                         const QByteArray& swaps, const QStringList& hinted) {
    // Every block device the kernel shows, its partitions and what is layered on each.
    const QString block = sysRoot + QStringLiteral("/block/");
    for (const QString& name : entriesOf(block)) {
        const QString dir = block + name;
        Known disk;
        disk.number = QString::fromLatin1(readSmallFile(dir + QStringLiteral("/dev")));
        disk.mapperName = QString::fromUtf8(readSmallFile(dir + QStringLiteral("/dm/name")));
        disk.holders = entriesOf(dir + QStringLiteral("/holders"));
        for (const QString& sub : QDir(dir).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            const QString subDir = dir + QLatin1Char('/') + sub;
            if (!QFile::exists(subDir + QStringLiteral("/partition")))
                continue;
            disk.partitions << sub;
            Known part;
            part.number = QString::fromLatin1(readSmallFile(subDir + QStringLiteral("/dev")));
            part.holders = entriesOf(subDir + QStringLiteral("/holders"));
            m_devices[sub] = part;
        }
        m_devices[name] = disk;
    }

    const std::vector<MountEntry> mounts = parseMountInfo(mountInfo);
    // Mounted btrfs file systems list their member devices here.
    std::vector<QStringList> btrfs;
    const QString btrfsRoot = sysRoot + QStringLiteral("/fs/btrfs/");
    for (const QString& uuid : QDir(btrfsRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        btrfs.push_back(entriesOf(btrfsRoot + uuid + QStringLiteral("/devices")));

    for (const MountEntry& e : mounts) {
        if (!isSystemMountPoint(e.mountPoint))
            continue;
        const QString use = QStringLiteral("holds ") + e.mountPoint;
        const QString source = nameOfSource(e.source);
        // btrfs shows a number of its own (0:33) in place of its devices'.
        addUse(source, QStringLiteral("%1:%2").arg(e.major).arg(e.minor), use);
        if (e.fsType != QLatin1String("btrfs"))
            continue;
        bool found = false;
        for (const QStringList& members : btrfs)
            if (members.contains(source)) {
                found = true;
                for (const QString& member : members)
                    addUse(member, {}, use);
            }
        // Which file system is the system's cannot be told: every mounted btrfs counts.
        if (!found)
            for (const QStringList& members : btrfs)
                for (const QString& member : members)
                    addUse(member, {}, use);
    }
    for (const QString& swap : parseSwaps(swaps)) {
        if (swap.startsWith(QLatin1String("/dev/"))) {
            addUse(nameOfSource(swap), {}, QStringLiteral("holds active swap"));
            continue;
        }
        // A swap file: the disk under its file system is in use as swap.
        if (const auto holder = mountHolding(mounts, swap))
            addUse(nameOfSource(holder->source),
                   QStringLiteral("%1:%2").arg(holder->major).arg(holder->minor),
                   QStringLiteral("holds active swap (") + swap + QLatin1Char(')'));
    }
    for (const QString& name : hinted)
        addUse(name, {}, QStringLiteral("is a system device for udisks"));
}

void SystemDisks::addUse(const QString& name, const QString& number, const QString& use) {
    if (!name.isEmpty())
        m_usedNames.emplace(name, use);
    if (!number.isEmpty())
        m_usedNumbers.emplace(number, use);
}

// "/dev/sda2", "/dev/mapper/vg-root", "/dev/md/root" or a link such as /dev/disk/by-uuid/...
// to a kernel name.
QString SystemDisks::nameOfSource(const QString& source) const {
    if (!source.startsWith(QLatin1Char('/')))
        return {};
    const QString mapper = QStringLiteral("/dev/mapper/");
    if (source.startsWith(mapper)) {
        const QString wanted = source.mid(mapper.size());
        for (const auto& [name, known] : m_devices)
            if (known.mapperName == wanted)
                return name;
    }
    const QString name = QFileInfo(source).fileName();
    if (m_devices.count(name))
        return name;
    const QString resolved = QFileInfo(source).canonicalFilePath();
    return resolved.isEmpty() ? name : QFileInfo(resolved).fileName();
}

QString SystemDisks::refusal(const std::vector<BlockDevice>& members) const {
    std::deque<QString> queue;
    std::set<QString> seen;
    QString layered;
    for (const BlockDevice& member : members) {
        const auto used = m_usedNumbers.find(member.number);
        if (used != m_usedNumbers.end())
            return used->second;
        queue.push_back(member.name);
    }
    while (!queue.empty()) {
        const QString name = queue.front();
        queue.pop_front();
        if (!seen.insert(name).second)
            continue;
        const bool own = std::any_of(members.begin(), members.end(),
                                     [&](const BlockDevice& m) { return m.name == name; });
        const QString through = own ? QString() : QStringLiteral(" (through %1)").arg(name);
        const auto usedName = m_usedNames.find(name);
        if (usedName != m_usedNames.end())
            return usedName->second + through;
        const auto known = m_devices.find(name);
        if (known == m_devices.end())
            continue;
        const auto usedNumber = m_usedNumbers.find(known->second.number);
        if (usedNumber != m_usedNumbers.end())
            return usedNumber->second + through;
        for (const QString& part : known->second.partitions)
            queue.push_back(part);
        for (const QString& holder : known->second.holders) {
            if (layered.isEmpty())
                layered = QStringLiteral("held by ") + holder;
            queue.push_back(holder);
        }
    }
    // Device mapper, RAID or LVM on it, though nothing of the system: busy all the same.
    return layered;
}

SysfsDriveLister::SysfsDriveLister(QString sysRoot, QString mountInfoPath, QString swapsPath,
                                   QString devRoot)
    : m_sysRoot(std::move(sysRoot)), m_mountInfoPath(std::move(mountInfoPath)),
      m_swapsPath(std::move(swapsPath)), m_devRoot(std::move(devRoot)) {}

std::vector<SysfsDriveLister::Disk> SysfsDriveLister::scan() const {
    const SystemDisks system(m_sysRoot, readSmallFile(m_mountInfoPath), readSmallFile(m_swapsPath));
    std::vector<Disk> disks;
    const QDir block(m_sysRoot + QStringLiteral("/block"));
    for (const QString& name : entriesOf(block.path())) {
        Disk disk;
        disk.name = name;
        const QString dir = block.filePath(name);
        std::vector<BlockDevice> members{
            {name, QString::fromLatin1(readSmallFile(dir + QStringLiteral("/dev")))}};
        for (const QString& sub : QDir(dir).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            const QString subDir = dir + QLatin1Char('/') + sub;
            if (!QFile::exists(subDir + QStringLiteral("/partition")))
                continue;
            disk.partitions << sub;
            members.push_back(
                {sub, QString::fromLatin1(readSmallFile(subDir + QStringLiteral("/dev")))});
        }
        const bool removable = readSmallFile(dir + QStringLiteral("/removable")) == "1";
        const bool onUsb = QFileInfo(dir).canonicalFilePath().contains(QLatin1String("/usb"));
        const bool hasMedium = readSmallFile(dir + QStringLiteral("/size")).toLongLong() > 0;
        if (isVirtualDisk(name))
            disk.refusal = QStringLiteral("is a loop or RAM device");
        else if (!removable && !onUsb)
            disk.refusal = QStringLiteral("is a fixed disk");
        else if (!hasMedium)
            disk.refusal = QStringLiteral("holds no medium");
        else
            disk.refusal = system.refusal(members);
        disks.push_back(disk);
    }
    return disks;
}

DriveEntry SysfsDriveLister::entryFor(const QString& diskName, const QString& volume) const {
    const QString dir = m_sysRoot + QStringLiteral("/block/") + diskName;
    const bool whole = volume == diskName;
    const QString volumeDir = whole ? dir : dir + QLatin1Char('/') + volume;
    DriveEntry entry;
    entry.device = m_devRoot + QLatin1Char('/') + volume;
    entry.sizeBytes = readSmallFile(volumeDir + QStringLiteral("/size")).toLongLong() * 512;
    entry.identity = identityFromSysfs(volumeDir, dir, !whole);
    entry.wholeDevice = whole;
    QStringList model;
    for (const char* key : {"/device/vendor", "/device/model"}) {
        const QString value = QString::fromLatin1(readSmallFile(dir + QLatin1String(key)));
        if (!value.isEmpty())
            model << value;
    }
    const bool onUsb = QFileInfo(dir).canonicalFilePath().contains(QLatin1String("/usb"));
    QStringList parts;
    if (!model.isEmpty())
        parts << model.join(QLatin1Char(' '));
    parts << sizeText(entry.sizeBytes)
          << (onUsb ? QStringLiteral("USB") : QStringLiteral("removable"));
    entry.description = parts.join(QStringLiteral(", "));
    return entry;
}

std::vector<DriveEntry> SysfsDriveLister::removableVolumes() {
    std::vector<DriveEntry> entries;
    for (const Disk& disk : scan()) {
        if (!disk.refusal.isEmpty())
            continue;
        if (disk.partitions.isEmpty())
            entries.push_back(entryFor(disk.name, disk.name));
        for (const QString& volume : disk.partitions)
            entries.push_back(entryFor(disk.name, volume));
    }
    return entries;
}

DriveLookup SysfsDriveLister::lookUp(const QString& path) {
    const QFileInfo info(path);
    // /dev/disk/by-id/... names lead to the same kernel name.
    const QString name = QFileInfo(info.exists() ? info.canonicalFilePath() : path).fileName();
    for (const Disk& disk : scan()) {
        if (disk.name != name && !disk.partitions.contains(name))
            continue;
        if (!disk.refusal.isEmpty())
            return forbiddenDrive(disk.name + QLatin1Char(' ') + disk.refusal);
        return offeredDrive(entryFor(disk.name, name));
    }
    return unlistedDrive(path, info.exists());
}

} // namespace usbstick
