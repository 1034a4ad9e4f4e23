// The udisks2 service's D-Bus calls against a stand-in daemon on a private bus, for what the
// real daemon (udisks_real_test.cpp) cannot show here: a mounted stick, unmounted for the
// format and mounted again for the folder (this kernel has no vfat). The image file behind
// the stand-in gets a real FAT32, checked with dosfstools and mtools.
#include "tests/support/fake_udisks.h"
#include "tests/support/test_support.h"
#include "usbstick/fmt_chk_dsk.h"
#include "usbstick/udisks_format_library.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace usbstick;

namespace {

struct Rig {
    stbtest::ScratchDir dir;
    PrivateBus bus;
    QString image = dir.file("stick.img");
    QString mountDir = dir.file("mnt");
    std::unique_ptr<FakeUdisks> daemon;
    std::unique_ptr<UdisksFormatLibrary> library;

    explicit Rig(int64_t bytes) {
        QFile file(image);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.resize(bytes));
        file.close();
        QDir().mkpath(mountDir);
        daemon = std::make_unique<FakeUdisks>("/dev/sdz1", image, mountDir);
        EXPECT_FALSE(bus.address().isEmpty());
        EXPECT_TRUE(daemon->start(bus.address()));
        library = std::make_unique<UdisksFormatLibrary>(
            QDBusConnection::connectToBus(bus.address(), "client"));
    }
    ~Rig() {
        library.reset();
        QDBusConnection::disconnectFromBus("client");
    }
};

} // namespace

TEST(UdisksFormat, FormatsFat32ThroughTheServiceAndMountsForTheFolder) {
    Rig rig(64 << 20);
    // A stick the desktop has mounted, carrying FAT16 as mkfs.fat alone would make it.
    ASSERT_EQ(stbtest::runTool("mkfs.fat", {"-n", "OLD", rig.image}).exitCode, 0);
    rig.daemon->setMounted(true);
    ASSERT_TRUE(rig.library->usable());
    TFmtChkDsk engine(*rig.library);
    QStringList infos;
    engine.onInfoEvent = [&](const QString& info, bool&) { infos << info; };
    ASSERT_TRUE(engine.FormatDisk("/dev/sdz1", 0, 2, "USB", false, 0))
        << infos.join("\n").toStdString();
    QString why;
    ASSERT_TRUE(rig.library->createFolder("/dev/sdz1", "kathrein/ufs910", std::nullopt, &why))
        << why.toStdString();

    EXPECT_EQ(infos.value(1), "/dev/sdz1 Volume Label: OLD, File System: FAT");
    EXPECT_TRUE(infos.contains("/dev/sdz1 Volume Label: USB, File System: FAT32"));
    QStringList calls = rig.daemon->calls().filter(QRegularExpression("^(?!ResolveDevice)"));
    EXPECT_EQ(calls, (QStringList{"Unmount", "OpenDevice r O_EXCL", "OpenDevice r O_EXCL|O_DIRECT",
                                  "OpenDevice rw O_EXCL", "Mount"}));
    EXPECT_EQ(stbtest::runTool("fsck.fat", {"-n", rig.image}).exitCode, 0);
    const QString info = stbtest::runTool("minfo", {"-i", rig.image, "::"}).output;
    EXPECT_TRUE(info.contains("disk type=\"FAT32   \"")) << info.toStdString();
    EXPECT_TRUE(info.contains("disk label=\"USB        \""));
    EXPECT_TRUE(QDir(rig.mountDir + "/kathrein/ufs910").exists());
}

TEST(UdisksFormat, ABusyDeviceIsInUseAndAnUnknownOneNotFound) {
    Rig rig(64 << 20);
    stbtest::runTool("mkfs.fat", {"-F", "32", "-n", "OLD", rig.image});
    rig.daemon->setBusy(true);
    TFmtChkDsk engine(*rig.library);
    const std::vector<std::pair<QString, QString>> cases = {
        {"/dev/sdz1", "Drive In Use: /dev/sdz1"},
        {"/dev/sdq1", "Drive Not Found: /dev/sdq1"},
    };
    for (const auto& [drive, message] : cases) {
        try {
            engine.FormatDisk(drive, 0, 2, "USB", false, 0);
            ADD_FAILURE() << drive.toStdString();
        } catch (const FmtChkException& e) {
            EXPECT_EQ(e.message(), message);
        }
    }
    EXPECT_TRUE(rig.daemon->calls().filter("OpenDevice rw").isEmpty());
}
