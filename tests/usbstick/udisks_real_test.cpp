// The udisks2 service against the real udisks daemon, in namespaces of its own (see
// real_udisks.h), on a loop device over a stick image that carried FAT16 before: right after
// the write the daemon still reports the old volume, so the after-check sees the new one only
// because the format waits for it. This kernel has no vfat, so nothing is mounted here.
#include "tests/support/real_udisks.h"
#include "tests/support/test_support.h"
#include "usbstick/fmt_chk_dsk.h"
#include "usbstick/udisks_format_library.h"

#include <QFile>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using namespace usbstick;

TEST(UdisksReal, FormatsAStickThatWasFatBeforeAndReportsTheNewVolume) {
    RealUdisks daemon;
    ASSERT_FALSE(daemon.address().isEmpty()) << daemon.output().toStdString();
    stbtest::ScratchDir dir;
    const QString image = dir.file("stick.img");
    QFile file(image);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.resize(64 << 20));
    file.close();
    ASSERT_EQ(stbtest::runTool("mkfs.fat", {"-n", "OLD", image}).exitCode, 0);
    const QString loop = daemon.loopSetup(image);
    ASSERT_FALSE(loop.isEmpty()) << daemon.output().toStdString();
    {
        UdisksFormatLibrary library(QDBusConnection::connectToBus(daemon.address(), "real"));
        ASSERT_TRUE(library.usable());
        const VolumeInfo before = library.queryVolume(loop);
        EXPECT_TRUE(before.found);
        EXPECT_EQ(before.fileSystem, "FAT");
        EXPECT_EQ(before.label, "OLD");

        const int holder = ::open(loop.toLocal8Bit().constData(), O_RDONLY | O_EXCL);
        ASSERT_GE(holder, 0);
        const std::optional<QString> busy = library.claimVolume(loop);
        ::close(holder);
        ASSERT_TRUE(busy.has_value());
        EXPECT_TRUE(busy->startsWith("busy (")) << busy->toStdString();

        TFmtChkDsk engine(library);
        QStringList infos;
        engine.onInfoEvent = [&](const QString& info, bool&) { infos << info; };
        const auto identity = identityOfPath(loop);
        ASSERT_TRUE(identity.has_value());
        EXPECT_TRUE(engine.FormatDisk(loop, 0, 2, "USB", false, 0, ConfirmedDrive{*identity, true}))
            << infos.join("\n").toStdString();
        EXPECT_EQ(infos.value(1), loop + " Volume Label: OLD, File System: FAT");
        EXPECT_TRUE(infos.contains(loop + " Volume Label: USB, File System: FAT32"))
            << infos.join("\n").toStdString();
    }
    QDBusConnection::disconnectFromBus("real");
    EXPECT_EQ(stbtest::runTool("fsck.fat", {"-n", loop}).exitCode, 0);
    const QString info = stbtest::runTool("minfo", {"-i", loop, "::"}).output;
    EXPECT_TRUE(info.contains("disk type=\"FAT32   \"")) << info.toStdString();
    daemon.loopDelete(loop);
}
