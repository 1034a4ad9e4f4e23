#include "usbstick/volume_probe.h"

#include <QList>

namespace usbstick {

namespace {

uint32_t le16(const QByteArray& b, int at) {
    return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8;
}
uint32_t le32(const QByteArray& b, int at) {
    return le16(b, at) | le16(b, at + 2) << 16;
}

QString decodeOctal(const QByteArray& field) {
    QByteArray out;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int value = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                out.append(char(value));
                i += 3;
                continue;
            }
        }
        out.append(field[i]);
    }
    return QString::fromUtf8(out);
}

} // namespace

std::optional<FatVolume> parseFatBootSector(const QByteArray& b) {
    if (b.size() < 512 || uint8_t(b[510]) != 0x55 || uint8_t(b[511]) != 0xAA)
        return std::nullopt;
    FatVolume v;
    v.bytesPerSector = le16(b, 11);
    const uint32_t sectorsPerCluster = uint8_t(b[13]);
    const uint32_t reserved = le16(b, 14);
    const uint32_t fats = uint8_t(b[16]);
    const uint32_t rootEntries = le16(b, 17);
    const uint32_t sectors16 = le16(b, 19);
    const uint32_t fatSize16 = le16(b, 22);
    const uint32_t sectors32 = le32(b, 32);
    const bool sectorSizeOk = v.bytesPerSector >= 512 && v.bytesPerSector <= 4096 &&
                              (v.bytesPerSector & (v.bytesPerSector - 1)) == 0;
    if (!sectorSizeOk || sectorsPerCluster == 0 || reserved == 0 || fats == 0)
        return std::nullopt;
    const uint32_t fatSize = fatSize16 != 0 ? fatSize16 : le32(b, 36);
    const int64_t sectors = sectors16 != 0 ? sectors16 : sectors32;
    const int64_t rootSectors =
        (int64_t(rootEntries) * 32 + v.bytesPerSector - 1) / v.bytesPerSector;
    const int64_t dataStart = reserved + int64_t(fats) * fatSize + rootSectors;
    if (fatSize == 0 || sectors <= dataStart)
        return std::nullopt;
    const int64_t clusters = (sectors - dataStart) / sectorsPerCluster;
    // The cluster count alone decides the FAT type.
    const bool fat32 = clusters >= 65525;
    const int labelAt = fat32 ? 71 : 43;
    v.serial = le32(b, labelAt - 4);
    v.fileSystem = fat32 ? QStringLiteral("FAT32") : QStringLiteral("FAT");
    v.label = QString::fromLatin1(b.mid(labelAt, 11)).trimmed();
    if (v.label == QLatin1String("NO NAME"))
        v.label.clear();
    v.totalBytes = sectors * v.bytesPerSector;
    v.clusterBytes = sectorsPerCluster * v.bytesPerSector;
    v.dataStartBytes = dataStart * v.bytesPerSector;
    v.fsInfoSector = fat32 ? le16(b, 48) : 0;
    return v;
}

QString fatSerialText(uint32_t serial) {
    return QStringLiteral("%1-%2")
        .arg(serial >> 16, 4, 16, QLatin1Char('0'))
        .arg(serial & 0xffffu, 4, 16, QLatin1Char('0'))
        .toUpper();
}

void applyFsInfoSector(FatVolume& volume, const QByteArray& s) {
    if (s.size() < 512 || le32(s, 0) != 0x41615252u || le32(s, 484) != 0x61417272u)
        return;
    const uint32_t freeClusters = le32(s, 488);
    if (freeClusters != 0xffffffffu)
        volume.freeBytes = int64_t(freeClusters) * volume.clusterBytes;
}

std::vector<MountEntry> parseMountInfo(const QByteArray& text) {
    // id parent major:minor root mountpoint options [optional...] - fstype source superopts
    std::vector<MountEntry> entries;
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> f = line.split(' ');
        const qsizetype dash = f.indexOf("-");
        if (f.size() < 7 || dash < 6 || dash + 2 >= f.size())
            continue;
        const QList<QByteArray> numbers = f[2].split(':');
        if (numbers.size() != 2)
            continue;
        MountEntry e;
        bool okMajor = false;
        bool okMinor = false;
        e.major = numbers[0].toUInt(&okMajor);
        e.minor = numbers[1].toUInt(&okMinor);
        if (!okMajor || !okMinor)
            continue;
        e.mountPoint = decodeOctal(f[4]);
        e.fsType = QString::fromUtf8(f[dash + 1]);
        e.source = decodeOctal(f[dash + 2]);
        entries.push_back(e);
    }
    return entries;
}

QStringList parseSwaps(const QByteArray& text) {
    QStringList devices;
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) { // the first line is the heading
        const QByteArray first = lines[i].simplified().split(' ').value(0);
        if (!first.isEmpty())
            devices << decodeOctal(first);
    }
    return devices;
}

std::optional<MountEntry> mountHolding(const std::vector<MountEntry>& entries,
                                       const QString& path) {
    std::optional<MountEntry> best;
    for (const MountEntry& e : entries) {
        const QString point =
            e.mountPoint.endsWith(QLatin1Char('/')) ? e.mountPoint : e.mountPoint + '/';
        const bool holds = path == e.mountPoint || path.startsWith(point);
        // A later entry on the same point covers the earlier one.
        if (holds && (!best || e.mountPoint.size() >= best->mountPoint.size()))
            best = e;
    }
    return best;
}

bool isSystemMountPoint(const QString& mountPoint) {
    static const char* const kSystem[] = {"/", "/boot", "/usr", "/home", "/var"};
    for (const char* root : kSystem) {
        const QString r = QLatin1String(root);
        if (mountPoint == r || (r != QLatin1String("/") && mountPoint.startsWith(r + '/')))
            return true;
    }
    return false;
}

} // namespace usbstick
