#pragma once
// Which volumes the format dialog offers and which it refuses. Only removable USB volumes
// are offered; a disk that holds a mounted system file system or swap, loop and RAM devices
// and fixed disks are never offered and are refused when typed in.
#include <QString>
#include <QStringList>

#include <vector>

namespace usbstick {

struct DriveEntry {
    QString device;      // /dev/sdb1, or /dev/sdb for a stick without a partition table
    QString description; // vendor, model and size, for the person choosing
};

enum class DriveClass {
    Offered,   // a removable USB volume
    Image,     // a regular file: formatted as a disk image
    Forbidden, // a device that must not be formatted from here
    Unknown,   // nothing by that name: the engine reports it
};

class DriveLister {
public:
    virtual ~DriveLister() = default;
    virtual std::vector<DriveEntry> removableVolumes() = 0;
    virtual DriveClass classify(const QString& path) = 0;
};

// The list entry for a drive: the device, two blanks, "Wechseldatentraeger", then the
// description in brackets when there is one.
QString driveListEntry(const DriveEntry& entry);
// The drive text of a list entry or of what the user typed: everything before the first
// two blanks.
QString driveTextOf(const QString& entry);

// Whether a disk holds a mounted system file system (/, /boot, /usr, /home, /var) or swap.
// numbers: "major:minor" of the disk and of each of its partitions; names: their kernel names
// (sdb, sdb1); mountInfo and swaps: the texts of /proc/self/mountinfo and /proc/swaps.
bool holdsMountedSystem(const QStringList& numbers, const QStringList& names,
                        const QByteArray& mountInfo, const QByteArray& swaps);
// Loop, RAM and compressed-RAM devices by kernel name.
bool isVirtualDisk(const QString& name);
// A small file's text, trimmed; empty when it cannot be read.
QByteArray readSmallFile(const QString& path);

// Reads the kernel's view: <sysRoot>/block, the mount table and the swap list. The paths are
// parameters so tests can hand a made-up machine.
class SysfsDriveLister : public DriveLister {
public:
    explicit SysfsDriveLister(QString sysRoot = QStringLiteral("/sys"),
                              QString mountInfoPath = QStringLiteral("/proc/self/mountinfo"),
                              QString swapsPath = QStringLiteral("/proc/swaps"),
                              QString devRoot = QStringLiteral("/dev"));
    std::vector<DriveEntry> removableVolumes() override;
    DriveClass classify(const QString& path) override;

private:
    struct Disk {
        QString name;
        QStringList volumes; // partition names, or the disk itself
        bool offered = false;
    };
    std::vector<Disk> scan() const;
    bool holdsSystem(const QString& diskName, const QStringList& partitions) const;
    QString describe(const QString& diskName, const QString& volume) const;

    QString m_sysRoot;
    QString m_mountInfoPath;
    QString m_swapsPath;
    QString m_devRoot;
};

} // namespace usbstick
