// The drive list on a made-up machine (sysfs tree, mount table, swap list) and on this one.
#include "tests/support/test_support.h"
#include "usbstick/drive_list.h"

#include <QDir>
#include <QFile>

#include <map>

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
    // name -> its holders ("sdb1" -> {"dm-0"}): what is layered on the disk or a partition.
    std::map<QString, QStringList> holders = {};
};

// A sysfs tree where block/<disk> links into devices/ like the kernel's, USB disks below a
// usb controller, device-mapper devices in virtual/, and mounted btrfs file systems with their
// member devices in fs/btrfs.
class FakeMachine {
public:
    FakeMachine(const std::vector<FakeDisk>& disks, const std::map<QString, QString>& mapperNames,
                const std::vector<QStringList>& btrfs, const QByteArray& mountinfo,
                const QByteArray& swaps) {
        int minor = 0;
        auto add = [&](const QString& real, const QString& name, const FakeDisk& d) {
            write(real + "/dev", "8:" + QByteArray::number(minor++));
            for (const QString& holder : d.holders.count(name) ? d.holders.at(name) : QStringList())
                QDir().mkpath(real + "/holders/" + holder);
        };
        for (const FakeDisk& d : disks) {
            const QString real =
                m_dir.path() +
                (d.usb ? "/devices/pci0/usb1/1-1/block/" : "/devices/pci0/ata1/block/") + d.name;
            write(real + "/removable", d.removable);
            write(real + "/size", d.sizeSectors);
            write(real + "/diskseq", QByteArray::number(100 + minor));
            write(real + "/device/vendor", "Vendor");
            write(real + "/device/model", "Stick " + d.name.toLatin1());
            add(real, d.name, d);
            for (const QString& p : d.partitions) {
                write(real + "/" + p + "/partition", "1");
                write(real + "/" + p + "/size", "2000000");
                add(real + "/" + p, p, d);
            }
            link(real, d.name);
        }
        int dm = 0;
        for (const auto& [name, mapper] : mapperNames) {
            const QString real = m_dir.path() + "/devices/virtual/block/" + name;
            write(real + "/dev", "253:" + QByteArray::number(dm++));
            write(real + "/dm/name", mapper.toUtf8());
            link(real, name);
        }
        for (size_t i = 0; i < btrfs.size(); ++i)
            for (const QString& member : btrfs[i])
                QDir().mkpath(m_dir.path() + QStringLiteral("/fs/btrfs/uuid%1/devices/").arg(i) +
                              member);
        write(m_dir.file("mountinfo"), mountinfo);
        write(m_dir.file("swaps"), swaps);
    }
    SysfsDriveLister lister() const {
        return SysfsDriveLister(m_dir.path(), m_dir.file("mountinfo"), m_dir.file("swaps"), "/dev");
    }

private:
    void link(const QString& real, const QString& name) {
        QDir().mkpath(m_dir.path() + "/block");
        QFile::link(real, m_dir.path() + "/block/" + name);
    }
    stbtest::ScratchDir m_dir;
};

} // namespace

TEST(DriveList, NoDiskTheSystemStandsOnIsOffered) {
    // Minors in order: sda 0, sda1 1, sdb 2, sdb1 3, sdc 4, sdc1 5, sdd 6, sdd1 7, sde 8,
    // sde1 9, sdf 10, sdf1 11, sdg 12, sdh 13, sdh1 14, sdi 15, sdi1 16, sdj 17, sdk 18,
    // sdk1 19, sdk2 20, loop0 21, ram0 22; dm-0 253:0, dm-1 253:1, dm-2 253:2.
    FakeMachine machine(
        {
            {"sda", false, "0", "500000000", {"sda1"}},                    // the fixed disk
            {"sdb", true, "1", "8000000", {"sdb1"}, {{"sdb1", {"dm-0"}}}}, // LVM root on USB
            {"sdc", true, "1", "8000000", {"sdc1"}},                       // btrfs root
            {"sdd", true, "1", "8000000", {"sdd1"}}, // btrfs /home, second member
            {"sde", true, "1", "8000000", {"sde1"}}, // btrfs /home, first member
            {"sdf", true, "1", "8000000", {"sdf1"}, {{"sdf1", {"dm-1"}}}}, // crypt swap
            {"sdg", true, "1", "8000000", {}}, // stick without a table, mounted vfat
            {"sdh", true, "1", "8000000", {"sdh1"}, {{"sdh1", {"dm-2"}}}}, // LVM, unused
            {"sdi", true, "1", "8000000", {"sdi1"}},                       // holds a swap file
            {"sdj", true, "1", "0", {}},                                   // reader without a card
            {"sdk", true, "0", "16000000", {"sdk1", "sdk2"}},              // stick, two partitions
            {"loop0", false, "1", "8000", {}},
            {"ram0", false, "1", "8000", {}},
        },
        {{"dm-0", "vg-root"}, {"dm-1", "cryptswap"}, {"dm-2", "vg-data"}},
        {{"sdc1"}, {"sde1", "sdd1"}},
        "22 1 253:0 / / rw - ext4 /dev/mapper/vg-root rw\n"
        "24 22 0:33 /@usr /usr rw - btrfs /dev/sdc1 rw\n"
        "25 22 0:34 / /home rw - btrfs /dev/sde1 rw\n"
        "26 22 8:12 / /media/user/STICK\\040A rw - vfat /dev/sdg rw\n"
        "27 22 8:16 / /media/user/DATA rw - ext4 /dev/sdi1 rw\n",
        "Filename Type Size Used Priority\n/dev/dm-1 partition 8000 0 -2\n"
        "/media/user/DATA/swap\\040file file 8000 0 -3\n");
    SysfsDriveLister lister = machine.lister();
    QStringList offered;
    for (const DriveEntry& e : lister.removableVolumes())
        offered << driveListEntry(e);
    EXPECT_EQ(offered, (QStringList{
                           "/dev/sdg  Wechseldatentraeger  (Vendor Stick sdg, 4.1 GB, USB)",
                           "/dev/sdk1  Wechseldatentraeger  (Vendor Stick sdk, 1.0 GB, USB)",
                           "/dev/sdk2  Wechseldatentraeger  (Vendor Stick sdk, 1.0 GB, USB)",
                       }));

    stbtest::ScratchDir files;
    write(files.file("stick.img"), "x");
    const std::vector<std::pair<QString, QString>> refused = {
        {"/dev/sda1", "sda is a fixed disk"},
        {"/dev/sdb", "sdb holds / (through dm-0)"},
        {"/dev/sdc1", "sdc holds /usr"},
        {"/dev/sdd", "sdd holds /home"},
        {"/dev/sde1", "sde holds /home"},
        {"/dev/sdf1", "sdf holds active swap (through dm-1)"},
        {"/dev/sdh", "sdh held by dm-2"},
        {"/dev/sdi1", "sdi holds active swap (/media/user/DATA/swap file)"},
        {"/dev/sdj", "sdj holds no medium"},
        {"/dev/loop0", "loop0 is a loop or RAM device"},
        {files.file("stick.img"), files.file("stick.img") + " is not a removable drive"},
    };
    for (const auto& [path, reason] : refused) {
        const DriveLookup found = lister.lookUp(path);
        EXPECT_EQ(found.kind, DriveClass::Forbidden) << path.toStdString();
        EXPECT_EQ(found.reason, reason) << path.toStdString();
    }
    EXPECT_EQ(lister.lookUp("/dev/no-such-disk").kind, DriveClass::Unknown);
    // A typed whole disk of an offered stick is offered as the whole disk, identity and all.
    const DriveLookup whole = lister.lookUp("/dev/sdk");
    ASSERT_EQ(whole.kind, DriveClass::Offered);
    EXPECT_TRUE(whole.entry.wholeDevice);
    EXPECT_EQ(whole.entry.identity.text(), "8:18 diskseq 118");
    EXPECT_EQ(whole.entry.sizeBytes, 16000000LL * 512);
    const DriveLookup part = lister.lookUp("/dev/sdk2");
    EXPECT_EQ(part.entry.identity.text(), "8:20 diskseq 118");
    EXPECT_FALSE(part.entry.wholeDevice);
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
            EXPECT_EQ(lister.lookUp("/dev/" + name).kind, DriveClass::Forbidden)
                << name.toStdString();
        }
    EXPECT_EQ(lister.lookUp("/etc/hostname").kind, DriveClass::Forbidden);
}
