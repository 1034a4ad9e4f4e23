#pragma once
// Pure readers for what a volume holds: the FAT boot sector (label, type, free space) and the
// kernel's mount table. No device access here, so tests feed them bytes and text.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

namespace usbstick {

struct FatVolume {
    QString fileSystem; // "FAT32" or "FAT" (FAT12/16)
    QString label;      // trailing blanks removed; empty for "NO NAME"
    int64_t totalBytes = 0;
    int64_t freeBytes = -1; // FAT32: from the FS information sector; -1 when not recorded
    uint32_t bytesPerSector = 0;
    uint32_t fsInfoSector = 0;  // FAT32 only
    int64_t dataStartBytes = 0; // where cluster 2 begins
    uint32_t clusterBytes = 0;
    uint32_t serial = 0; // the volume ID mkfs.fat writes; udisks and blkid show it as its UUID
};

// The volume ID as udisks and blkid give it as UUID: "1A2B-3C4D".
QString fatSerialText(uint32_t serial);

// bootSector: the first 512 bytes of the volume. nullopt = not a FAT boot sector.
std::optional<FatVolume> parseFatBootSector(const QByteArray& bootSector);
// Applies the FS information sector (512 bytes) to a FAT32 volume's free space.
void applyFsInfoSector(FatVolume& volume, const QByteArray& fsInfo);

struct MountEntry {
    uint32_t major = 0;
    uint32_t minor = 0;
    QString mountPoint; // octal escapes (\040) decoded
    QString fsType;
    QString source;
};

// One entry per line of /proc/self/mountinfo; malformed lines are skipped.
std::vector<MountEntry> parseMountInfo(const QByteArray& text);
// The block devices /proc/swaps lists (first column), e.g. "/dev/sda2".
QStringList parseSwaps(const QByteArray& text);
// The entry whose mount point holds path (the longest that does); nullopt when none.
std::optional<MountEntry> mountHolding(const std::vector<MountEntry>& entries, const QString& path);
// Mount points whose disk must never be offered or formatted.
bool isSystemMountPoint(const QString& mountPoint);

} // namespace usbstick
