// The drive list on a made-up machine (sysfs tree, mount table, swap list) and on this one.
#include "tests/support/test_support.h"
#include "usbstick/drive_list.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace usbstick;

namespace {

void write(const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text + '\n');
}

struct FakeDisk {
    QString name;
    bool usb;
    QByteArray removable;
    QByteArray sizeSectors;
    QStringList partitions;
    QString holder; // a device-mapper holder of the first volume
};

// A sysfs tree where block/<disk> links into devices/ like the kernel's, USB disks below a
// usb controller.
class FakeMachine {
public:
    FakeMachine(const std::vector<FakeDisk>& disks, const QByteArray& mountinfo,
                const QByteArray& swaps) {
        int minor = 0;
        for (const FakeDisk& d : disks) {
            const QString real =
                m_dir.path() +
                (d.usb ? "/devices/pci0/usb1/1-1/block/" : "/devices/pci0/ata1/block/") + d.name;
            write(real + "/removable", d.removable);
            write(real + "/size", d.sizeSectors);
            write(real + "/dev", QByteArray("8:") + QByteArray::number(minor++));
            write(real + "/device/vendor", "Vendor");
            write(real + "/device/model", "Stick " + d.name.toLatin1());
            for (const QString& p : d.partitions) {
                write(real + "/" + p + "/partition", "1");
                write(real + "/" + p + "/size", "2000000");
                write(real + "/" + p + "/dev", QByteArray("8:") + QByteArray::number(minor++));
            }
            if (!d.holder.isEmpty())
                write(real + "/" + d.partitions.value(0) + "/holders/" + d.holder + "/dev",
                      "253:0");
            QDir().mkpath(m_dir.path() + "/block");
            QFile::link(real, m_dir.path() + "/block/" + d.name);
        }
        write(m_dir.file("mountinfo"), mountinfo);
        write(m_dir.file("swaps"), swaps);
    }
    SysfsDriveLister lister() const {
        return SysfsDriveLister(m_dir.path(), m_dir.file("mountinfo"), m_dir.file("swaps"), "/dev");
    }

private:
    stbtest::ScratchDir m_dir;
};

} // namespace

TEST(DriveList, OffersExactlyTheRemovableUsbVolumes) {
    // Minors: sda 0, sda1 1, sda2 2, sdb 3, sdb1 4, sdb2 5, sdc 6, sdd 7, sdd1 8, sde 9,
    // sde1 10, sdf 11, loop0 12, ram0 13, sdg 14, sdg1 15, sdh 16, sdh1 17.
    FakeMachine machine(
        {
            {"sda", false, "0", "500000000", {"sda1", "sda2"}, {}}, // the system disk
            {"sdb", true, "0", "16000000", {"sdb1", "sdb2"}, {}},   // stick, partitioned
            {"sdc", false, "1", "8000000", {}, {}},                 // card reader, no table
            {"sdd", true, "1", "8000000", {"sdd1"}, {}},            // USB disk holding /home
            {"sde", true, "1", "8000000", {"sde1"}, {}},            // USB disk with swap
            {"sdf", true, "1", "0", {}, {}},                        // reader without a card
            {"loop0", false, "1", "8000", {}, {}},
            {"ram0", false, "1", "8000", {}, {}},
            {"sdg", true, "1", "8000000", {"sdg1"}, "dm-0"}, // under LVM
            {"sdh", true, "1", "8000000", {"sdh1"}, {}},     // mounted, not a system fs
        },
        "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
        "23 22 8:2 / /boot/efi rw - vfat /dev/sda2 rw\n"
        "24 22 8:8 / /home rw - ext4 /dev/sdd1 rw\n"
        "25 22 8:17 / /media/user/STICK\\040A rw - vfat /dev/sdh1 rw\n",
        "Filename Type Size Used Priority\n/dev/sde1 partition 8000 0 -2\n");
    SysfsDriveLister lister = machine.lister();
    QStringList offered;
    for (const DriveEntry& e : lister.removableVolumes())
        offered << driveListEntry(e);
    EXPECT_EQ(offered, (QStringList{
                           "/dev/sdb1  Wechseldatentraeger  (Vendor Stick sdb 1.0 GB)",
                           "/dev/sdb2  Wechseldatentraeger  (Vendor Stick sdb 1.0 GB)",
                           "/dev/sdc  Wechseldatentraeger  (Vendor Stick sdc 4.1 GB)",
                           "/dev/sdh1  Wechseldatentraeger  (Vendor Stick sdh 1.0 GB)",
                       }));

    stbtest::ScratchDir files;
    write(files.file("stick.img"), "x");
    const std::vector<std::pair<QString, DriveClass>> typed = {
        {"/dev/sdb1", DriveClass::Offered},         {"/dev/sdc", DriveClass::Offered},
        {"/dev/sda", DriveClass::Forbidden},        {"/dev/sda2", DriveClass::Forbidden},
        {"/dev/sdd", DriveClass::Forbidden},        {"/dev/sde1", DriveClass::Forbidden},
        {"/dev/loop0", DriveClass::Forbidden},      {"/dev/ram0", DriveClass::Forbidden},
        {"/dev/sdg1", DriveClass::Forbidden},       {files.file("stick.img"), DriveClass::Image},
        {"/dev/no-such-disk", DriveClass::Unknown},
    };
    for (const auto& [path, expected] : typed)
        EXPECT_EQ(lister.classify(path), expected) << path.toStdString();
}

TEST(DriveList, EntryTextsSplitBackIntoTheDrive) {
    const std::vector<std::pair<QString, QString>> cases = {
        {"/dev/sdb1  Wechseldatentraeger  (Vendor Stick 1.0 GB)", "/dev/sdb1"},
        {"/dev/sdc", "/dev/sdc"},
        {"select drive", "select drive"},
        {"/tmp/my stick.img  Wechseldatentraeger", "/tmp/my stick.img"},
    };
    for (const auto& [entry, drive] : cases)
        EXPECT_EQ(driveTextOf(entry), drive);
}

TEST(DriveList, ThisMachineOffersNoneOfItsDisks) {
    SysfsDriveLister lister;
    EXPECT_TRUE(lister.removableVolumes().empty());
    const QDir block("/sys/block");
    for (const QString& name : block.entryList(QDir::AllEntries | QDir::NoDotAndDotDot))
        if (QFile::exists("/dev/" + name)) {
            EXPECT_EQ(lister.classify("/dev/" + name), DriveClass::Forbidden) << name.toStdString();
        }
}
