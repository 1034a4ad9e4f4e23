#pragma once
// Which volumes the format dialog offers and which it refuses. Only removable USB volumes
// are offered. Never offered, and refused when typed in: a disk that holds or backs the
// running system (found through whatever is layered on it), loop and RAM devices, fixed
// disks, and anything that is not a block device at all.
#include "usbstick/drive_identity.h"

#include <QString>
#include <QStringList>

#include <map>
#include <vector>

namespace usbstick {

struct DriveEntry {
    QString device;      // /dev/sdb1, or /dev/sdb for a stick without a partition table
    QString description; // vendor and model, size and connection, for the person choosing
    int64_t sizeBytes = 0;
    DriveIdentity identity;   // the device as it was when the list was made
    bool wholeDevice = false; // a whole disk rather than one of its partitions
};

enum class DriveClass {
    Offered,   // a removable USB volume
    Forbidden, // something that must not be formatted from here
    Unknown,   // nothing by that name
};

struct DriveLookup {
    DriveClass kind = DriveClass::Unknown;
    DriveEntry entry; // Offered: the drive as it is now
    QString reason;   // Forbidden: why, for the log
};

// The three answers of DriveLister::lookUp. A path on no listed disk is forbidden when it exists
// (it is something, only not a removable drive) and unknown when it does not.
DriveLookup offeredDrive(DriveEntry entry);
DriveLookup forbiddenDrive(QString reason);
DriveLookup unlistedDrive(const QString& path, bool exists);

// Each call looks afresh; nothing is kept between calls.
class DriveLister {
public:
    virtual ~DriveLister() = default;
    virtual std::vector<DriveEntry> removableVolumes() = 0;
    // A path typed or chosen; /dev/disk/by-id/... names lead to the same device.
    virtual DriveLookup lookUp(const QString& path) = 0;
};

// The list entry for a drive: the device, two blanks, "Wechseldatentraeger", then the
// description in brackets when there is one.
QString driveListEntry(const DriveEntry& entry);
// The drive text of a list entry or of what the user typed: everything before the first
// two blanks.
QString driveTextOf(const QString& entry);
// "16.0 GB"
QString sizeText(int64_t bytes);
// Loop, RAM and compressed-RAM devices by kernel name.
bool isVirtualDisk(const QString& name);
// A small file's text, trimmed; empty when it cannot be read.
QByteArray readSmallFile(const QString& path);

// One block device as a lister knows it.
struct BlockDevice {
    QString name;   // kernel name: sdb1, dm-0
    QString number; // "8:17"
};

// What the running system stands on: mounted system file systems (matched by device number
// and by the mount's source, btrfs by its member devices), active swap, and devices udisks
// marks HintSystem. A disk is refused when one of these lives on it or on anything layered
// on it (partitions, device mapper, RAID, LVM, crypt: the holders in sysfs).
class SystemDisks {
public:
    // sysRoot: the sysfs root; mountInfo and swaps: the texts of /proc/self/mountinfo and
    // /proc/swaps; hinted: kernel names of devices udisks marks HintSystem.
    SystemDisks(const QString& sysRoot, const QByteArray& mountInfo, const QByteArray& swaps,
                const QStringList& hinted = {});
    // Why the disk whose devices are members (the disk first, then its partitions) must not
    // be formatted: "holds / (through dm-1)", "holds active swap", "held by dm-0"; empty
    // when nothing stands on it.
    QString refusal(const std::vector<BlockDevice>& members) const;

private:
    struct Known {
        QString number;
        QString mapperName; // device mapper's name (vg-root), empty for other devices
        QStringList holders;
        QStringList partitions;
    };
    QString nameOfSource(const QString& source) const;
    void addUse(const QString& name, const QString& number, const QString& use);

    std::map<QString, Known> m_devices;     // by kernel name
    std::map<QString, QString> m_usedNames; // kernel name -> what it carries
    std::map<QString, QString> m_usedNumbers;
};

// Reads the kernel's view: <sysRoot>/block, the mount table and the swap list. The paths are
// parameters so tests can hand a made-up machine.
class SysfsDriveLister : public DriveLister {
public:
    explicit SysfsDriveLister(QString sysRoot = QStringLiteral("/sys"),
                              QString mountInfoPath = QStringLiteral("/proc/self/mountinfo"),
                              QString swapsPath = QStringLiteral("/proc/swaps"),
                              QString devRoot = QStringLiteral("/dev"));
    std::vector<DriveEntry> removableVolumes() override;
    DriveLookup lookUp(const QString& path) override;

private:
    struct Disk {
        QString name;
        QStringList partitions;
        QString refusal; // empty: offered
    };
    std::vector<Disk> scan() const;
    DriveEntry entryFor(const QString& diskName, const QString& volume) const;

    QString m_sysRoot;
    QString m_mountInfoPath;
    QString m_swapsPath;
    QString m_devRoot;
};

} // namespace usbstick
