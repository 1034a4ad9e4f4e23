// The drive list from udisks2, against the stand-in daemon on a private bus: exactly the
// removable USB volumes are offered, and every other disk is refused when typed in.
#include "tests/support/fake_udisks.h"
#include "tests/support/test_support.h"
#include "usbstick/format_services.h"
#include "usbstick/udisks_drive_list.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace usbstick;

namespace {

void write(const QString& path, const QByteArray& text) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

struct Case {
    FakeUdisksDisk disk;
    // How each of its devices is classified when typed, the disk first.
    DriveClass expected;
};

} // namespace

TEST(UdisksDriveList, OffersExactlyTheRemovableUsbVolumes) {
    // Minors in order: sdb 0, sdb1 1, sdb2 2, sdc 3, sda 4, sda1 5, sdd 6, sdd1 7, sde 8,
    // sde1 9, sdf 10, sdg 11, loop0 12, sdh 13, sdh1 14, dm-0 15, sdi 16, sdj 17, sdk 18,
    // sdk1 19, sdl 20.
    const std::vector<Case> cases = {
        {{.name = "sdb",
          .bus = "usb",
          .removable = true,
          .size = 16000000000,
          .partitions = {"sdb1", "sdb2"}},
         DriveClass::Offered},
        {{.name = "sdc", .bus = "usb", .mediaRemovable = true, .size = 4000000000},
         DriveClass::Offered}, // card reader, no partition table
        {{.name = "sda",
          .bus = "ata",
          .size = 500000000000,
          .partitions = {"sda1"},
          .hintSystem = true},
         DriveClass::Forbidden},
        {{.name = "sdd",
          .bus = "usb",
          .removable = true,
          .size = 8000000000,
          .partitions = {"sdd1"}},
         DriveClass::Forbidden}, // holds /home
        {{.name = "sde",
          .bus = "usb",
          .removable = true,
          .size = 8000000000,
          .partitions = {"sde1"}},
         DriveClass::Forbidden}, // holds swap
        {{.name = "sdf", .bus = "usb", .removable = true, .size = 8000000000, .hintIgnore = true},
         DriveClass::Forbidden},
        {{.name = "sdg", .bus = "usb", .removable = true, .mediaRemovable = true, .size = 0},
         DriveClass::Forbidden}, // reader without a card
        {{.name = "loop0", .bus = "usb", .removable = true, .size = 8000000, .loop = true},
         DriveClass::Forbidden},
        {{.name = "sdh",
          .bus = "usb",
          .removable = true,
          .size = 8000000000,
          .partitions = {"sdh1"}},
         DriveClass::Forbidden}, // encrypted: dm-0 lives on it
        {{.name = "dm-0", .size = 8000000000, .cryptoBacking = "sdh1"}, DriveClass::Forbidden},
        {{.name = "sdi",
          .bus = "ata",
          .removable = true,
          .mediaRemovable = true,
          .size = 8000000000},
         DriveClass::Forbidden},                                                    // hot-plug bay
        {{.name = "sdj", .bus = "usb", .size = 8000000000}, DriveClass::Forbidden}, // fixed
        {{.name = "sdk",
          .bus = "usb",
          .removable = true,
          .size = 8000000000,
          .partitions = {"sdk1"}},
         DriveClass::Offered}, // mounted, but not a system file system
        {{.name = "sdl", .bus = "usb", .removable = true, .size = 8000000000, .hintSystem = true},
         DriveClass::Forbidden},
    };
    stbtest::ScratchDir dir;
    write(dir.file("mountinfo"), "22 1 8:5 / / rw - ext4 /dev/sda1 rw\n"
                                 "24 22 8:7 / /home rw - ext4 /dev/sdd1 rw\n"
                                 "25 22 8:19 / /media/user/STICK rw - vfat /dev/sdk1 rw\n");
    write(dir.file("swaps"), "Filename Type Size Used Priority\n/dev/sde1 partition 8 0 -2\n");
    PrivateBus bus;
    ASSERT_FALSE(bus.address().isEmpty());
    FakeUdisks daemon("/dev/sdz1", dir.file("unused.img"), dir.path());
    for (const Case& c : cases)
        daemon.addDisk(c.disk);
    ASSERT_TRUE(daemon.start(bus.address()));
    {
        UdisksDriveLister lister(QDBusConnection::connectToBus(bus.address(), "lister"),
                                 dir.file("mountinfo"), dir.file("swaps"));
        QStringList offered;
        for (const DriveEntry& e : lister.removableVolumes())
            offered << driveListEntry(e);
        EXPECT_EQ(offered, (QStringList{
                               "/dev/sdb1  Wechseldatentraeger  (Vendor Stick sdb, 1.0 GB, USB)",
                               "/dev/sdb2  Wechseldatentraeger  (Vendor Stick sdb, 1.0 GB, USB)",
                               "/dev/sdc  Wechseldatentraeger  (Vendor Stick sdc, 4.0 GB, USB)",
                               "/dev/sdk1  Wechseldatentraeger  (Vendor Stick sdk, 1.0 GB, USB)",
                           }));
        for (const Case& c : cases) {
            QStringList devices = c.disk.partitions;
            devices.prepend(c.disk.name);
            for (const QString& device : devices)
                EXPECT_EQ(lister.lookUp("/dev/" + device).kind, c.expected) << device.toStdString();
        }
        EXPECT_EQ(lister.lookUp("/dev/sdl").reason, "/dev/sdl is a system device for udisks");
        EXPECT_EQ(lister.lookUp("/dev/sdh").reason, "/dev/sdh held by dm-0");
        EXPECT_EQ(lister.lookUp("/dev/sdq").kind, DriveClass::Unknown);
        // Each look asks afresh: the list, each of the 21 devices, the three single looks.
        EXPECT_EQ(daemon.calls().count("GetManagedObjects"), 1 + 21 + 3);
    }
    QDBusConnection::disconnectFromBus("lister");
}

TEST(UdisksDriveList, ChosenOnlyWhereTheBusOffersUdisks) {
    PrivateBus bus;
    ASSERT_FALSE(bus.address().isEmpty());
    stbtest::ScratchDir dir;
    {
        const auto lister = chooseDriveLister(QDBusConnection::connectToBus(bus.address(), "a"));
        EXPECT_NE(dynamic_cast<SysfsDriveLister*>(lister.get()), nullptr);
    }
    FakeUdisks daemon("/dev/sdz1", dir.file("unused.img"), dir.path());
    ASSERT_TRUE(daemon.start(bus.address()));
    {
        const auto lister = chooseDriveLister(QDBusConnection::connectToBus(bus.address(), "b"));
        EXPECT_NE(dynamic_cast<UdisksDriveLister*>(lister.get()), nullptr);
    }
    QDBusConnection::disconnectFromBus("a");
    QDBusConnection::disconnectFromBus("b");
}
