// Where the image copy may write: the stick formatted and confirmed in this job, or a folder
// the user picked on a mounted FAT stick that the drive list offers. Everything else is
// refused, and a refused stick fails every copy. The mount table here is made up; its mount
// points are scratch folders, so a copy that is allowed really lands.
#include "tests/support/fake_drive_lister.h"
#include "tests/support/fake_format_library.h"
#include "tests/support/test_support.h"
#include "usbstick/stick_folder.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace usbstick;

namespace {

void write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

} // namespace

TEST(StickFolder, APickedFolderCountsOnlyOnAnOfferedFatStick) {
    stbtest::ScratchDir dir;
    const QString base = QDir(dir.path()).canonicalPath();
    for (const char* sub : {"stick/kathrein/ufs910", "home", "disk"})
        QDir().mkpath(base + "/" + sub);
    struct stat st {};
    ASSERT_EQ(stat(base.toLocal8Bit().constData(), &st), 0);
    // The scratch folders' own device number stands for the stick's, so its copy can land.
    const QByteArray number =
        QByteArray::number(major(st.st_dev)) + ':' + QByteArray::number(minor(st.st_dev));
    write(dir.file("mountinfo"),
          "30 1 " + number + " / " + base.toUtf8() + "/stick rw - vfat /dev/sdx1 rw\n" + "31 1 " +
              number + " / " + base.toUtf8() + "/home rw - ext4 /dev/sdx2 rw\n" + "32 1 " + number +
              " / " + base.toUtf8() + "/disk rw - vfat /dev/sdy1 rw\n");
    FakeDriveLister lister;
    lister.entries = {{"/dev/sdx1", "Stick", 1, {uint64_t(st.st_dev), 5, true}, false}};
    lister.refused = {{"/dev/sdy1", "sdy is a fixed disk"}};
    write(dir.file("a.img"), "image");

    const std::vector<std::pair<QString, QString>> cases = {
        {"", "no folder chosen"},
        {base + "/gone", base + "/gone does not exist"},
        {base + "/home", base + "/home is not on a mounted FAT file system (ext4)"},
        {base, base + " is not on a mounted FAT file system (none)"},
        {base + "/disk",
         base + "/disk is on /dev/sdy1, which is not a removable stick: sdy is a fixed disk"},
        {base + "/stick/kathrein", {}}, // a folder below the stick's root: the root counts
    };
    for (const auto& [picked, refusal] : cases) {
        const StickFolder stick = stickAtFolder(picked, lister, dir.file("mountinfo"));
        EXPECT_EQ(stick.refusal(), refusal) << picked.toStdString();
        QString why;
        EXPECT_EQ(stick.copyNew(dir.file("a.img"), "a.img", &why), refusal.isEmpty());
        if (!refusal.isEmpty()) {
            EXPECT_EQ(why, refusal); // the copy says why in the log
        } else {
            EXPECT_EQ(stick.rootText(), base + "/stick");
        }
    }
    EXPECT_TRUE(QFile::exists(base + "/stick/kathrein/ufs910/a.img"));
    EXPECT_FALSE(QFile::exists(base + "/kathrein"));
}

TEST(StickFolder, TheFormattedStickCountsWhileItIsStillTheConfirmedDrive) {
    const DriveIdentity confirmed{makedev(8, 17), 41, true};
    struct Case {
        std::optional<DriveIdentity> now;
        QString mountPoint;
        QString root;
        bool refused;
    };
    const std::vector<Case> cases = {
        {confirmed, "/media/user/USB", "/media/user/USB", false},
        {confirmed, {}, "/dev/sdx1::", false}, // not mounted: the volume itself
        {DriveIdentity{makedev(8, 17), 44, true}, "/media/user/BACKUP", "/dev/sdx1::", true},
    };
    for (const Case& c : cases) {
        FakeFormatLibrary library;
        library.volumes["/dev/sdx1"].mountPoint = c.mountPoint;
        if (c.now)
            library.identities["/dev/sdx1"] = *c.now;
        const StickFolder stick = stickForFormatted({"/dev/sdx1", {confirmed, false}}, library);
        EXPECT_EQ(stick.isRefused(), c.refused);
        if (c.refused) {
            EXPECT_TRUE(stick.refusal().startsWith("/dev/sdx1 is no longer the drive"));
        } else {
            EXPECT_EQ(stick.rootText(), c.root);
        }
    }
}
