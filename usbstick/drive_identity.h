#pragma once
// Which device a path names at one moment: its device number and the kernel's disk sequence
// number (diskseq), which grows every time a disk appears, so a stick pulled and another
// plugged in under the same /dev name, or a loop device detached and attached again, differs.
// The format dialog takes it when the user confirms; every open of the device is checked
// against it before a byte is written.
#include <QString>

#include <cstdint>
#include <optional>

namespace usbstick {

struct DriveIdentity {
    uint64_t number = 0;       // st_rdev of the block device
    uint64_t diskSequence = 0; // diskseq of its disk; 0 where the kernel keeps none
    bool partition = false;    // a partition rather than a whole disk

    bool operator==(const DriveIdentity& other) const {
        return number == other.number && diskSequence == other.diskSequence;
    }
    // "8:17 diskseq 42", for log lines.
    QString text() const;
};

// The block device open on fd; nullopt when fd is not one.
std::optional<DriveIdentity> identityOfOpenDevice(int fd,
                                                  const QString& sysRoot = QStringLiteral("/sys"));
// The block device at path, found without opening it (stat and sysfs), so a user who may not
// open the device can still tell; nullopt when path names no block device.
std::optional<DriveIdentity> identityOfPath(const QString& path,
                                            const QString& sysRoot = QStringLiteral("/sys"));

// Why what was found is not the drive the user confirmed; nullopt when it is.
std::optional<QString> identityMismatch(const QString& drive, const DriveIdentity& confirmed,
                                        const std::optional<DriveIdentity>& found);
// The same for the device open on fd.
std::optional<QString> openDeviceMismatch(const QString& drive, const DriveIdentity& confirmed,
                                          int fd);

// Whether the whole disk open on fd carries partitions the kernel knows of (sysfs).
bool wholeDiskWithPartitions(const DriveIdentity& identity,
                             const QString& sysRoot = QStringLiteral("/sys"));

} // namespace usbstick
