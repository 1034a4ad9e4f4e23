#pragma once
// The drive list from udisks2: one GetManagedObjects call gives every block device with its
// drive, so the stick's vendor, model and bus come from the same source the desktop shows.
// The system-disk refusals of the kernel's view apply unchanged (mount table, swap list);
// udisks' own hints (HintSystem, HintIgnore) and the block devices layered on top (crypto,
// RAID) refuse a disk as well. When udisks does not answer, the kernel's view stands in.
#include "usbstick/drive_list.h"

#include <QDBusConnection>

#include <optional>

namespace usbstick {

class UdisksDriveLister : public DriveLister {
public:
    explicit UdisksDriveLister(QDBusConnection bus = QDBusConnection::systemBus(),
                               QString mountInfoPath = QStringLiteral("/proc/self/mountinfo"),
                               QString swapsPath = QStringLiteral("/proc/swaps"));
    std::vector<DriveEntry> removableVolumes() override;
    DriveClass classify(const QString& path) override;

private:
    struct Disk {
        QString device;                  // /dev/sdb
        std::vector<DriveEntry> volumes; // its partitions, or the disk itself
        bool offered = false;
    };
    // nullopt: udisks did not answer.
    std::optional<std::vector<Disk>> scan();

    QDBusConnection m_bus;
    QString m_mountInfoPath;
    QString m_swapsPath;
    SysfsDriveLister m_fallback;
};

} // namespace usbstick
