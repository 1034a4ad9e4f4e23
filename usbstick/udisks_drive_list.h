#pragma once
// The drive list from udisks2: one GetManagedObjects call gives every block device with its
// drive, so the stick's vendor, model and bus come from the same source the desktop shows.
// The system-disk refusals of the kernel's view apply unchanged (mount table, swap list, what
// sysfs shows layered on a disk); udisks' own hints (HintSystem anywhere on a disk's stack,
// HintIgnore on the disk) and the block devices it shows layered on top (crypto, RAID)
// refuse a disk as well. When udisks does not answer, the kernel's view stands in.
#include "usbstick/drive_list.h"

#include <QDBusConnection>

#include <optional>

namespace usbstick {

class UdisksDriveLister : public DriveLister {
public:
    explicit UdisksDriveLister(QDBusConnection bus = QDBusConnection::systemBus(),
                               QString mountInfoPath = QStringLiteral("/proc/self/mountinfo"),
                               QString swapsPath = QStringLiteral("/proc/swaps"),
                               QString sysRoot = QStringLiteral("/sys"));
    std::vector<DriveEntry> removableVolumes() override;
    DriveLookup lookUp(const QString& path) override;

private:
    struct Disk {
        DriveEntry whole;                // the disk itself
        std::vector<DriveEntry> volumes; // its partitions, or the disk itself
        QString refusal;                 // empty: offered
    };
    // nullopt: udisks did not answer.
    std::optional<std::vector<Disk>> scan();

    QDBusConnection m_bus;
    QString m_mountInfoPath;
    QString m_swapsPath;
    QString m_sysRoot;
    SysfsDriveLister m_fallback;
};

} // namespace usbstick
