// The boot image check on images made by mkimage (an independent maker), as made and then
// damaged: each case is read from the file and fed again in random slices, which must agree.
#include "procedures/boot_image.h"
#include "tests/support/test_support.h"

#include <QFile>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <functional>

namespace {

using bootimage::Status;

struct Case {
    const char* name;
    QStringList makerArgs; // architecture, type, compression
    std::function<void(QByteArray&)> damage;
    Status status;
    const char* arch;
    const char* type;
    bool fits;
};

bootimage::Check feedInRandomSlices(const QByteArray& bytes) {
    bootimage::Checker checker;
    for (qsizetype at = 0; at < bytes.size();) {
        const qsizetype n = QRandomGenerator::global()->bounded(1, 100000);
        if (!checker.feed(bytes.constData() + at, size_t(std::min(n, bytes.size() - at))))
            break;
        at += n;
    }
    return checker.finish();
}

class BootImageCheck : public ::testing::TestWithParam<Case> {};

TEST_P(BootImageCheck, NamesTheFirstFailedCheckAndWhatTheImageSaysItIs) {
    const Case& c = GetParam();
    stbtest::ScratchDir dir;
    QByteArray bytes =
        stbtest::makeBootImage(dir.file("emergency.ub"), QByteArray(300001, 'x'), c.makerArgs);
    ASSERT_GT(bytes.size(), 64) << "mkimage (u-boot-tools) made no image";
    const qint64 madeSize = bytes.size();
    c.damage(bytes);
    QFile file(dir.file("emergency.ub"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();

    const bootimage::Check check = bootimage::checkFile(dir.file("emergency.ub"));
    EXPECT_EQ(check.status, c.status);
    EXPECT_EQ(check.servedSize, c.status == Status::Ok ? madeSize : 0);
    if (c.status != Status::TooShortForHeader && c.status != Status::BadMagic) {
        EXPECT_EQ(check.header.name, "stbmate test");
        EXPECT_EQ(bootimage::archName(check.header.arch), c.arch);
        EXPECT_EQ(bootimage::typeName(check.header.type), c.type);
        EXPECT_EQ(bootimage::fitsReceiver(check.header), c.fits);
    }
    const bootimage::Check sliced = feedInRandomSlices(bytes);
    EXPECT_EQ(sliced.status, check.status);
    EXPECT_EQ(sliced.servedSize, check.servedSize);
}

const QStringList kSuperHKernel{"-A", "sh", "-T", "kernel", "-C", "gzip"};
const QStringList kSuperHMulti{"-A", "sh", "-T", "multi", "-C", "none"};
const QStringList kArmKernel{"-A", "arm", "-T", "kernel", "-C", "gzip"};
const auto kAsMade = [](QByteArray&) {};
const auto kFlip = [](qsizetype at) { return [at](QByteArray& b) { b[at] = char(b[at] ^ 1); }; };

INSTANTIATE_TEST_SUITE_P(
    Cases, BootImageCheck,
    ::testing::Values(
        Case{"Good", kSuperHKernel, kAsMade, Status::Ok, "SuperH", "Kernel", true},
        Case{"MultiFile", kSuperHMulti, kAsMade, Status::Ok, "SuperH", "Multi-File", true},
        Case{"WrongArchitecture", kArmKernel, kAsMade, Status::Ok, "ARM", "Kernel", false},
        Case{"BadMagic", kSuperHKernel, kFlip(1), Status::BadMagic, "", "", false},
        Case{"BadHeaderCrc", kSuperHKernel, kFlip(11), Status::BadHeaderCrc, "SuperH", "Kernel",
             true},
        Case{"BadDataCrc", kSuperHKernel, kFlip(64 + 150000), Status::BadDataCrc, "SuperH",
             "Kernel", true},
        Case{"Truncated", kSuperHKernel, [](QByteArray& b) { b.chop(1); }, Status::Truncated,
             "SuperH", "Kernel", true},
        Case{"HeaderCutShort", kSuperHKernel, [](QByteArray& b) { b.truncate(63); },
             Status::TooShortForHeader, "", "", false}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(BootImageFile, AnUnreadableFileIsAReadErrorWithTheSystemsReason) {
    stbtest::ScratchDir dir;
    for (const QString& path : {dir.path(), dir.file("missing.ub")}) {
        const bootimage::Check check = bootimage::checkFile(path);
        EXPECT_EQ(check.status, Status::ReadError) << path.toStdString();
        EXPECT_FALSE(check.readError.isEmpty());
        EXPECT_EQ(check.servedSize, 0);
    }
}

} // namespace
