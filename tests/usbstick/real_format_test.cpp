// Real formats through the mkfs.fat service: image files and loop devices of 64 MiB and
// 1 GiB become FAT32 labelled USB with kathrein/ufs910 on them, as dosfstools and mtools see
// it. Nothing here mounts: this kernel has no vfat.
#include "tests/support/loop_device.h"
#include "tests/support/test_support.h"
#include "usbstick/block_tools.h"
#include "usbstick/fmt_chk_dsk.h"
#include "usbstick/mkfs_format_library.h"
#include "usbstick/stick_folder.h"

#include <QFile>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using namespace usbstick;

namespace {

using stbtest::LoopDevice;
using stbtest::runTool;

QString makeImage(const stbtest::ScratchDir& dir, int64_t bytes) {
    const QString path = dir.file("stick.img");
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    EXPECT_TRUE(file.resize(bytes));
    return path;
}

struct Recorded {
    QStringList infos;
    std::vector<int> percents;
};

void checkFat32WithFolder(const QString& target) {
    const stbtest::ToolRun fsck = runTool("fsck.fat", {"-n", target});
    EXPECT_EQ(fsck.exitCode, 0) << fsck.output.toStdString();
    const stbtest::ToolRun info = runTool("minfo", {"-i", target, "::"});
    EXPECT_TRUE(info.output.contains("disk label=\"USB        \"")) << info.output.toStdString();
    EXPECT_TRUE(info.output.contains("disk type=\"FAT32   \"")) << info.output.toStdString();
    const stbtest::ToolRun dir = runTool("mdir", {"-i", target, "::kathrein"});
    EXPECT_EQ(dir.exitCode, 0);
    EXPECT_TRUE(dir.output.contains("ufs910")) << dir.output.toStdString();
}

void formatAndCheck(const QString& target, bool quick) {
    MkfsFormatLibrary library;
    TFmtChkDsk engine(library);
    Recorded seen;
    engine.onInfoEvent = [&](const QString& info, bool&) { seen.infos << info; };
    engine.onProgressEvent = [&](int32_t p, bool&) { seen.percents.push_back(p); };
    ASSERT_TRUE(engine.FormatDisk(target, 0, 2, "usb", quick, 0))
        << seen.infos.join("\n").toStdString();
    QString why;
    ASSERT_TRUE(library.createFolder(target, "kathrein/ufs910", std::nullopt, &why))
        << why.toStdString();
    checkFat32WithFolder(target);

    // The engine's own lines, in order, around what mkfs.fat said.
    QStringList own;
    for (const QString& line : seen.infos)
        if (line.startsWith(target) || line.startsWith("Format Disk"))
            own << line;
    ASSERT_GE(own.size(), 7) << own.join("\n").toStdString();
    EXPECT_EQ(own[0], target + " Appears to be Unformatted or No Drive");
    EXPECT_EQ(own[1], target + " Starting to Format Drive");
    EXPECT_EQ(own[2], "Format Disk: Structure Created OK");
    EXPECT_EQ(own[3], "Format Disk: Finished OK");
    EXPECT_EQ(own[4], target + " Checking New Drive Format");
    EXPECT_EQ(own[5], target + " Volume Label: USB, File System: FAT32");
    EXPECT_TRUE(own[6].startsWith(target + " New Volume Space: ")) << own[6].toStdString();
    EXPECT_GT(own[6].section(' ', -1).toLongLong(), 0);
    ASSERT_FALSE(seen.percents.empty());
    EXPECT_EQ(seen.percents.front(), 0);
    EXPECT_EQ(seen.percents.back(), 100);
    EXPECT_TRUE(std::is_sorted(seen.percents.begin(), seen.percents.end()));
    if (!quick) { // the read pass reports as it goes
        EXPECT_GE(seen.percents.size(), 10u);
    }

    // A second format of the same volume sees the first one and keeps the quick request.
    seen = {};
    ASSERT_TRUE(engine.FormatDisk(target, 0, 2, "USB", true, 0));
    EXPECT_EQ(seen.infos.value(0), target + " Checking Existing Drive Format");
    EXPECT_EQ(seen.infos.value(1), target + " Volume Label: USB, File System: FAT32");
}

} // namespace

TEST(RealFormat, ImageFilesBecomeFat32) {
    for (const int64_t size : {int64_t(64) << 20, int64_t(1) << 30}) {
        stbtest::ScratchDir dir;
        formatAndCheck(makeImage(dir, size), false);
    }
}

TEST(RealFormat, LoopDevicesBecomeFat32) {
    for (const int64_t size : {int64_t(64) << 20, int64_t(1) << 30}) {
        stbtest::ScratchDir dir;
        LoopDevice loop(makeImage(dir, size));
        ASSERT_FALSE(loop.device().isEmpty()) << "losetup failed";
        formatAndCheck(loop.device(), size > (64 << 20));
    }
}

TEST(RealFormat, AnExclusiveHolderMakesTheDriveInUse) {
    stbtest::ScratchDir dir;
    LoopDevice loop(makeImage(dir, 64 << 20));
    ASSERT_FALSE(loop.device().isEmpty());
    ASSERT_EQ(runTool("mkfs.fat", {"-F", "32", "-n", "OLD", loop.device()}).exitCode, 0);
    const int holder = ::open(loop.device().toLocal8Bit().constData(), O_RDONLY | O_EXCL);
    ASSERT_GE(holder, 0);
    MkfsFormatLibrary library;
    TFmtChkDsk engine(library);
    try {
        engine.FormatDisk(loop.device(), 0, 2, "USB", false, 0);
        ADD_FAILURE() << "formatted a volume someone holds";
    } catch (const FmtChkException& e) {
        EXPECT_EQ(e.message(), "Drive In Use: " + loop.device());
    }
    ::close(holder);
    EXPECT_TRUE(runTool("minfo", {"-i", loop.device(), "::"}).output.contains("\"OLD        \""));
}

TEST(RealFormat, AnUnreadableBlockEndsTheReadPassWithALine) {
    // This kernel has no device mapper to make an erroring device, so the volume ends early
    // instead: the read past its end fails as a bad block would.
    stbtest::ScratchDir dir;
    const QString image = makeImage(dir, 8 << 20);
    const int fd = ::open(image.toLocal8Bit().constData(), O_RDONLY);
    ASSERT_GE(fd, 0);
    QStringList lines;
    std::vector<int> percents;
    const FormatReportFn report = [&](uint32_t command, const void* data) {
        if (command == kTextOutput)
            lines << static_cast<const TextReport*>(data)->text;
        if (command == kProgress)
            percents.push_back(*static_cast<const int32_t*>(data));
        return true;
    };
    EXPECT_FALSE(readEveryBlock(fd, 12 << 20, 0, 99, report));
    EXPECT_TRUE(readEveryBlock(fd, 8 << 20, 0, 99, report));
    ::close(fd);
    EXPECT_EQ(lines, QStringList{"Bad block at byte 8388608: Input/output error"});
    EXPECT_EQ(percents.back(), 99);
}

TEST(RealFormat, AnotherDiskUnderTheConfirmedNameIsNotWritten) {
    // The stick is pulled after the confirmation and another one takes its name: here a loop
    // device detached and attached to a second image, which holds data of its own.
    stbtest::ScratchDir dir;
    ASSERT_TRUE(stbtest::makeImage(dir.file("first.img"), 64 << 20));
    ASSERT_EQ(runTool("dd", {"if=/dev/urandom", "of=" + dir.file("second.img"), "bs=1M", "count=64",
                             "status=none"})
                  .exitCode,
              0);
    const QByteArray before = stbtest::sha256Of(dir.file("second.img"));
    LoopDevice loop(dir.file("first.img"));
    ASSERT_FALSE(loop.device().isEmpty());
    const auto confirmed = identityOfPath(loop.device());
    ASSERT_TRUE(confirmed.has_value());
    ASSERT_TRUE(loop.replaceWith(dir.file("second.img")));

    MkfsFormatLibrary library;
    QStringList lines;
    bool done = true;
    const FormatRequest request{
        loop.device(), 12, "FAT32", "USB", true, 0, ConfirmedDrive{*confirmed}};
    library.formatVolume(request, [&](uint32_t command, const void* data) {
        if (command == kTextOutput)
            lines << static_cast<const TextReport*>(data)->text;
        if (command == kDone)
            done = *static_cast<const uint8_t*>(data) != 0;
        return true;
    });
    EXPECT_FALSE(done);
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].startsWith(loop.device() + " is no longer the drive that was confirmed ("))
        << lines[0].toStdString();
    QString why;
    EXPECT_FALSE(
        library.createFolder(loop.device(), "kathrein/ufs910", ConfirmedDrive{*confirmed}, &why));
    EXPECT_TRUE(why.contains("is no longer the drive")) << why.toStdString();
    const StickFolder stick = StickFolder::unmountedVolume(loop.device(), *confirmed);
    EXPECT_FALSE(stick.copyNew(dir.file("first.img"), "a.img", &why));
    EXPECT_TRUE(why.contains("is no longer the drive")) << why.toStdString();
    EXPECT_EQ(stbtest::sha256Of(dir.file("second.img")), before);
}

TEST(RealFormat, AWholeDiskWithPartitionsIsFormattedOnlyWhenConfirmedWhole) {
    stbtest::ScratchDir dir;
    const QString image = dir.file("disk.img");
    ASSERT_TRUE(stbtest::makeImage(image, 64 << 20));
    ASSERT_EQ(runTool("sh", {"-c", "echo ',+' | sfdisk -q " + image}).exitCode, 0);
    LoopDevice loop(image, true);
    ASSERT_FALSE(loop.device().isEmpty());
    const auto identity = identityOfPath(loop.device());
    ASSERT_TRUE(identity.has_value());
    ASSERT_TRUE(wholeDiskWithPartitions(*identity));
    MkfsFormatLibrary library;
    for (const bool whole : {false, true}) {
        TFmtChkDsk engine(library);
        QStringList infos;
        engine.onInfoEvent = [&](const QString& info, bool&) { infos << info; };
        EXPECT_EQ(engine.FormatDisk(loop.device(), 0, 2, "USB", true, 0,
                                    ConfirmedDrive{*identity, whole}),
                  whole);
        EXPECT_EQ(infos.contains(loop.device() +
                                 " is a whole disk with partitions; a partition is expected"),
                  !whole)
            << infos.join("\n").toStdString();
    }
    EXPECT_EQ(runTool("fsck.fat", {"-n", loop.device()}).exitCode, 0);
}
