// The engine against a scripted format service: the report table, the order and texts of the
// events, what is asked of the service, and the failures it raises.
#include "tests/support/fake_format_library.h"
#include "usbstick/fmt_chk_dsk.h"

#include <gtest/gtest.h>

#include <sys/sysmacros.h>
#include <thread>

using namespace usbstick;

namespace {

VolumeInfo fatVolume(const QString& label, const QString& fs) {
    VolumeInfo v;
    v.found = true;
    v.label = label;
    v.fileSystem = fs;
    v.totalBytes = 64 << 20;
    v.freeBytes = 66057728;
    return v;
}

struct Recorder {
    QStringList events;
    bool cancelProgressAt100 = false;
    void attach(TFmtChkDsk& engine) {
        engine.onInfoEvent = [this](const QString& info, bool&) { events << info; };
        engine.onProgressEvent = [this](int32_t percent, bool& cancel) {
            events << QStringLiteral("%%1").arg(percent);
            cancel = cancelProgressAt100 && percent == 100;
        };
    }
};

const QString kStick = QStringLiteral("/dev/sdx1");

uint64_t makeDev(unsigned major, unsigned minor) {
    return makedev(major, minor);
}

} // namespace

TEST(FmtChkDsk, ReportTableGivesTheFixedTextsAndAnswers) {
    struct Case {
        uint32_t command;
        QByteArray text; // for 14
        QStringList events;
    };
    const std::vector<Case> cases = {
        {1, {}, {"Format Disk: Structure Created OK"}},
        {6, {}, {"Format Disk: Insufficient Rights"}},
        {9, {}, {"Format Disk: Quick Format Not Allowed"}},
        {14, " \t label written \r\n", {"label written"}},
        {14, "   \n", {}},
        {15, {}, {}},
        {16, {}, {"Format Disk: Structure Failed?"}},
        {2, {}, {"Format Disk Callback: 2"}},
        {17, {}, {"Format Disk Callback: 17"}},
        {0x1207, {}, {"Format Disk Callback: 7"}}, // only the low 8 bits count
    };
    for (const Case& c : cases) {
        FakeFormatLibrary library;
        TFmtChkDsk engine(library);
        Recorder recorder;
        recorder.attach(engine);
        const TextReport text{1, c.text.constData()};
        EXPECT_TRUE(engine.FormatCallback(c.command, 0, &text)) << c.command;
        EXPECT_EQ(recorder.events, c.events) << c.command;
    }
    FakeFormatLibrary library;
    TFmtChkDsk engine(library);
    const int32_t percent = 42;
    EXPECT_TRUE(engine.FormatCallback(0, 0, &percent)); // no handler: go on
    engine.onProgressEvent = [](int32_t, bool& cancel) { cancel = true; };
    EXPECT_FALSE(engine.FormatCallback(0, 0, &percent));
}

TEST(FmtChkDsk, FormatOfAFormattedStickRaisesTheEventsInOrder) {
    FakeFormatLibrary library;
    library.volumes[kStick] = fatVolume("OLD", "FAT32");
    library.afterFormat = fatVolume("USB", "FAT32");
    library.script = FakeFormatLibrary::successScript();
    TFmtChkDsk engine(library);
    Recorder recorder;
    recorder.attach(engine);
    EXPECT_TRUE(engine.FormatDisk(kStick, 0, 2, "usb", true, 3000));
    const QStringList expected = {
        "/dev/sdx1 Checking Existing Drive Format",
        "/dev/sdx1 Volume Label: OLD, File System: FAT32",
        "/dev/sdx1 Starting to Format Drive",
        "%0",
        "%50",
        "mkfs.fat 4.2",
        "Format Disk: Structure Created OK",
        "%100",
        "Format Disk: Finished OK",
        "/dev/sdx1 Checking New Drive Format",
        "/dev/sdx1 Volume Label: USB, File System: FAT32",
        "/dev/sdx1 New Volume Space: 66057728",
    };
    EXPECT_EQ(recorder.events, expected);
    ASSERT_EQ(library.formats.size(), 1u);
    const FormatRequest& r = library.formats[0];
    EXPECT_EQ(r.label, "USB");
    EXPECT_EQ(r.fileSystem, "FAT32");
    EXPECT_EQ(r.mediaFlag, 12u);
    EXPECT_TRUE(r.quick); // the stick already carries FAT32
    EXPECT_EQ(r.clusterSize, 0u);
    EXPECT_EQ(library.claims, QStringList{kStick});
}

TEST(FmtChkDsk, RequestIsMappedFromTheArguments) {
    struct Case {
        VolumeInfo present;
        uint8_t media, fs;
        bool quick;
        int32_t cluster;
        bool accepted;
        uint32_t mediaFlag;
        QString fsName;
        bool quickSent;
        uint32_t clusterSent;
        QString firstEvent;
    };
    VolumeInfo raw;
    raw.found = true; // exists, no file system: size unknown
    const std::vector<Case> cases = {
        {fatVolume("A", "FAT"), 1, 1, true, 4096, true, 8, "FAT", true, 4096,
         "/dev/sdx1 Checking Existing Drive Format"},
        {fatVolume("A", "FAT"), 0, 2, true, 65536, true, 12, "FAT32", false, 65536, {}},
        {fatVolume("A", "NTFS"), 0, 0, false, 131072, true, 12, "NTFS", false, 0, {}},
        {raw, 0, 2, true, 512, true, 12, "FAT32", false, 512,
         "/dev/sdx1 Appears to be Unformatted or No Drive"},
        {fatVolume("A", "FAT32"), 2, 2, false, 0, false, 0, {}, false, 0, {}},
        {fatVolume("A", "FAT32"), 0, 3, false, 0, false, 0, {}, false, 0, {}},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        FakeFormatLibrary library;
        library.volumes[kStick] = c.present;
        library.afterFormat = fatVolume("USB", c.fsName);
        library.script = FakeFormatLibrary::successScript();
        TFmtChkDsk engine(library);
        Recorder recorder;
        recorder.attach(engine);
        EXPECT_EQ(engine.FormatDisk(kStick, c.media, c.fs, "USB", c.quick, c.cluster), c.accepted)
            << i;
        if (!c.accepted) {
            EXPECT_TRUE(recorder.events.isEmpty()) << i;
            EXPECT_TRUE(library.formats.empty()) << i;
            continue;
        }
        ASSERT_EQ(library.formats.size(), 1u) << i;
        EXPECT_EQ(library.formats[0].mediaFlag, c.mediaFlag) << i;
        EXPECT_EQ(library.formats[0].fileSystem, c.fsName) << i;
        EXPECT_EQ(library.formats[0].quick, c.quickSent) << i;
        EXPECT_EQ(library.formats[0].clusterSize, c.clusterSent) << i;
        if (!c.firstEvent.isEmpty()) {
            EXPECT_EQ(recorder.events.value(0), c.firstEvent) << i;
        }
        // Every volume is claimed before it is overwritten, file system or not.
        EXPECT_EQ(library.claims, QStringList{kStick}) << i;
    }
}

TEST(FmtChkDsk, BadDrivesRaiseBeforeAnythingIsFormatted) {
    struct Case {
        QString drive;
        bool exists;
        QString holder;
        QString message;
    };
    const std::vector<Case> cases = {
        {"E", false, {}, "Invalid Drive Specification: E"},
        {"E:\\", false, {}, "Invalid Drive Specification: E:\\"},
        {"", false, {}, "Invalid Drive Specification: "},
        {"/dev/nothing", false, {}, "Drive Not Found: /dev/nothing"},
        {kStick, true, "held by pid 7 (cat)", "Drive In Use: /dev/sdx1"},
    };
    for (const Case& c : cases) {
        FakeFormatLibrary library;
        if (c.exists)
            library.volumes[c.drive] = fatVolume("OLD", "FAT32");
        if (!c.holder.isEmpty())
            library.holders[c.drive] = c.holder;
        library.script = FakeFormatLibrary::successScript();
        TFmtChkDsk engine(library);
        try {
            engine.FormatDisk(c.drive, 0, 2, "USB", false, 0);
            ADD_FAILURE() << "no exception for " << c.drive.toStdString();
        } catch (const FmtChkException& e) {
            EXPECT_EQ(e.message(), c.message);
            EXPECT_EQ(e.detail(), c.holder);
        }
        EXPECT_TRUE(library.formats.empty());
        EXPECT_FALSE(engine.isFormatting()); // the engine stays usable
    }
}

TEST(FmtChkDsk, AnotherDeviceUnderTheConfirmedNameIsNeitherClaimedNorFormatted) {
    const DriveIdentity confirmed{makeDev(8, 17), 41, true};
    struct Case {
        std::optional<DriveIdentity> now;
        bool formatted;
        QString firstEvent;
    };
    const std::vector<Case> cases = {
        {confirmed, true, "/dev/sdx1 Checking Existing Drive Format"},
        {DriveIdentity{makeDev(8, 17), 43, true}, false,
         "/dev/sdx1 is no longer the drive that was confirmed (8:17 diskseq 41, now 8:17 "
         "diskseq 43)"},
        {std::nullopt, false,
         "/dev/sdx1 is no longer the drive that was confirmed (8:17 diskseq 41): no such block "
         "device now"},
    };
    for (const Case& c : cases) {
        FakeFormatLibrary library;
        library.volumes[kStick] = fatVolume("OLD", "FAT32");
        library.afterFormat = fatVolume("USB", "FAT32");
        if (c.now)
            library.identities[kStick] = *c.now;
        library.script = FakeFormatLibrary::successScript();
        TFmtChkDsk engine(library);
        Recorder recorder;
        recorder.attach(engine);
        EXPECT_EQ(engine.FormatDisk(kStick, 0, 2, "USB", false, 0, ConfirmedDrive{confirmed}),
                  c.formatted);
        EXPECT_EQ(recorder.events.value(0), c.firstEvent);
        EXPECT_EQ(library.claims.size(), c.formatted ? 1 : 0);
        ASSERT_EQ(library.formats.size(), c.formatted ? 1u : 0u);
        if (c.formatted) { // the services check it again at each open
            ASSERT_TRUE(library.formats[0].confirmed.has_value());
            EXPECT_EQ(library.formats[0].confirmed->identity, confirmed);
        }
    }
}

TEST(FmtChkDsk, FailuresOfTheServiceReturnFalse) {
    FakeFormatLibrary unusable;
    unusable.isUsable = false;
    TFmtChkDsk engine(unusable);
    EXPECT_FALSE(engine.FormatDisk(kStick, 0, 2, "USB", false, 0));
    EXPECT_FALSE(engine.FormatDisk(kStick, 0, 2, "USB", false, 0));
    EXPECT_EQ(unusable.usableAsked, 1); // never asked again
    EXPECT_TRUE(unusable.formats.empty());

    struct Case {
        std::vector<FakeFormatLibrary::Report> script;
        bool cancelAt100;
        bool result;
        QString lastEvent;
    };
    auto cancelled = FakeFormatLibrary::successScript();
    cancelled.pop_back(); // the service stops when told, no final report
    const std::vector<Case> cases = {
        {{{kProgress, 10, 0, {}}, {kDone, 0, 0, {}}},
         false,
         false,
         "Format Disk: Unable to Finish"},
        {{{kProgress, 10, 0, {}}}, false, false, "%10"}, // no final report at all
        {cancelled, true, false, "%100"},
    };
    for (const Case& c : cases) {
        FakeFormatLibrary library;
        library.volumes[kStick] = fatVolume("OLD", "FAT32");
        library.script = c.script;
        TFmtChkDsk failing(library);
        Recorder recorder;
        recorder.cancelProgressAt100 = c.cancelAt100;
        recorder.attach(failing);
        EXPECT_EQ(failing.FormatDisk(kStick, 0, 2, "USB", false, 0), c.result);
        EXPECT_EQ(recorder.events.last(), c.lastEvent);
        if (c.cancelAt100) {
            EXPECT_FALSE(library.answers.back());
        }
    }
}

TEST(FmtChkDsk, ASecondFormatWhileOneRunsIsRefused) {
    FakeFormatLibrary library;
    library.volumes[kStick] = fatVolume("OLD", "FAT32");
    library.afterFormat = fatVolume("USB", "FAT32");
    library.script = FakeFormatLibrary::successScript();
    library.holdFormat = true;
    TFmtChkDsk engine(library);
    bool first = false;
    std::thread worker([&] { first = engine.FormatDisk(kStick, 0, 2, "USB", false, 0); });
    library.waitUntilRunning();
    EXPECT_TRUE(engine.isFormatting());
    EXPECT_FALSE(engine.FormatDisk(kStick, 0, 2, "USB", false, 0));
    library.release();
    worker.join();
    EXPECT_TRUE(first);
    EXPECT_EQ(library.formats.size(), 1u);
    EXPECT_FALSE(engine.isFormatting());
}
