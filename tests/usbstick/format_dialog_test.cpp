// The format dialog on the offscreen platform: what each click leads to, the boxes it shows
// and the log lines it writes, real formats of loop devices end to end (one of them replaced
// between the confirmation and the write), and a format that neither runs twice nor is cut
// off by closing the dialog.
#include "tests/support/fake_drive_lister.h"
#include "tests/support/fake_format_library.h"
#include "tests/support/loop_device.h"
#include "tests/support/test_support.h"
#include "usbstick/format_dialog.h"
#include "usbstick/mkfs_format_library.h"

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>

#include <gtest/gtest.h>

#include <deque>

using namespace usbstick;

namespace {

// Boxes recorded as "message: text" / "confirm: text", log lines as "log: " / "error: ";
// confirmations answered from a queue, after an optional action (a stick pulled meanwhile).
struct Boxes {
    QStringList shown;
    QStringList log;
    std::deque<bool> answers;
    std::function<void()> whileAsked;
    FormatDialogSeams seams() {
        return {[this](const QString& t) { shown << "message: " + t; },
                [this](const QString& t) {
                    shown << "confirm: " + t;
                    if (whileAsked)
                        whileAsked();
                    const bool ok = !answers.empty() && answers.front();
                    if (!answers.empty())
                        answers.pop_front();
                    return ok;
                },
                [](int n) { return QStringLiteral("Msg%1").arg(n); },
                [this](const QString& t) { log << "log: " + t; },
                [this](const QString& t) { log << "error: " + t; }};
    }
};

VolumeInfo fat32(const QString& label) {
    VolumeInfo v;
    v.found = true;
    v.label = label;
    v.fileSystem = "FAT32";
    v.totalBytes = 8 << 20;
    v.freeBytes = 1;
    return v;
}

const QString kStick = "/dev/sdx1";
const DriveIdentity kStickIdentity{(8 << 8) | 17, 41, true};

DriveEntry stickEntry(const QString& model = "Vendor Stick", int64_t bytes = 8000000000) {
    return {kStick, model + ", " + sizeText(bytes) + ", USB", bytes, kStickIdentity, false};
}

// A fake library that knows the stick as a block device, formatted FAT32.
void knowStick(FakeFormatLibrary& library) {
    library.volumes[kStick] = fat32("OLD");
    library.identities[kStick] = kStickIdentity;
}

void waitForFormat(TForm3& dialog) {
    ASSERT_TRUE(stbtest::spinUntil([&] { return !dialog.isFormatting(); }, 60000));
    stbtest::spinUntil([] { return false; }, 50); // queued status lines
}

} // namespace

TEST(FormatDialog, ClicksBeforeAFormatLeadToTheRightBoxes) {
    struct Case {
        QString typed;
        std::vector<bool> answers;
        QStringList boxes;
        QString status;
    };
    const QString large = largeDriveWarning(500107862016);
    const std::vector<Case> cases = {
        {"select drive", {}, {}, {}},
        {"c", {}, {"message: Msg19"}, {}},
        {"/dev/vda", {}, {"message: Msg19"}, {}},    // the system disk, typed in
        {"/etc/passwd", {}, {"message: Msg19"}, {}}, // a regular file
        {"/dev/sdy1", {}, {"message: Msg19"}, {}},   // listed, but no block device
        {"/dev/nothing", {}, {}, "Drive Not Found: /dev/nothing"},
        {"E", {}, {}, "Invalid Drive Specification: E"},
        {"/dev/sdx1  Wechseldatentraeger  (old text)",
         {false},
         {"confirm: Drive /dev/sdx1 (Fresh Stick, 8.0 GB, USB): \nMsg20"},
         {}},
        {"/dev/sdw",
         {false},
         {"confirm: Drive /dev/sdw (Big Disk, 500.1 GB, USB, ganzes Laufwerk / whole disk): \n" +
          large + "\n\nMsg20"},
         {}},
    };
    EXPECT_TRUE(largeDriveWarning(64000000000).isEmpty());
    EXPECT_TRUE(large.contains("500.1 GB")) << large.toStdString();
    for (const Case& c : cases) {
        FakeFormatLibrary library;
        knowStick(library);
        library.identities["/dev/sdw"] = {(8 << 8) | 32, 7, false};
        FakeDriveLister drives;
        drives.entries = {stickEntry("Old Stick")};
        drives.refused = {{"/dev/vda", "vda is a fixed disk"}};
        Boxes boxes;
        boxes.answers = {c.answers.begin(), c.answers.end()};
        TForm3 dialog(library, drives, boxes.seams());
        EXPECT_EQ(dialog.ComboBox1->count(), 2);
        // What the drive list finds changes after the dialog was made: the click looks again.
        drives.entries = {stickEntry("Fresh Stick"),
                          {"/dev/sdy1", "Card, 1.0 GB, USB", 1000000000, {}, false},
                          {"/dev/sdw", "Big Disk, 500.1 GB, USB", 500107862016,
                           library.identities["/dev/sdw"], true}};
        dialog.ComboBox1->setEditText(c.typed);
        dialog.Button1->click();
        EXPECT_EQ(boxes.shown, c.boxes) << c.typed.toStdString();
        EXPECT_EQ(dialog.StatusLine->text(), c.status) << c.typed.toStdString();
        EXPECT_TRUE(library.claims.isEmpty()); // nothing was opened for writing
        EXPECT_TRUE(library.formats.empty());
    }
}

TEST(FormatDialog, FailedFormatsAndMissingFoldersLeaveTheDialogOpenAndSayWhy) {
    struct Case {
        bool volumeExists;
        uint8_t doneByte;
        bool folderFails;
        QStringList boxes;
        QString lastLog;
    };
    const QString confirm = "confirm: Drive /dev/sdx1 (Vendor Stick, 8.0 GB, USB): \nMsg20";
    const std::vector<Case> cases = {
        {true,
         0,
         false,
         {confirm, "message: Format Disk Failed"},
         "error: Format Disk Failed: Bad block at byte 512: Input/output error"},
        {false, 1, false, {confirm}, "error: Drive Not Found: /dev/sdx1"}, // raised: no box
        {true, // formatted, but no folder: no Msg21
         1,
         true,
         {confirm, "message: Der Ordner kathrein/ufs910 konnte nicht angelegt werden: cannot "
                   "make kathrein/ufs910"},
         "error: cannot make kathrein/ufs910"},
    };
    for (const Case& c : cases) {
        FakeFormatLibrary library;
        knowStick(library);
        library.afterFormat = fat32("USB");
        library.folderFails = c.folderFails;
        if (!c.volumeExists)
            library.volumes.clear();
        library.script = {{kProgress, 30, 0, {}},
                          {kTextOutput, 0, 0, "Bad block at byte 512: Input/output error"},
                          {kDone, 0, c.doneByte, {}}};
        FakeDriveLister drives;
        drives.entries = {stickEntry()};
        Boxes boxes;
        boxes.answers = {true};
        TForm3 dialog(library, drives, boxes.seams());
        dialog.show();
        dialog.ComboBox1->setEditText(kStick);
        dialog.Button1->click();
        waitForFormat(dialog);
        EXPECT_EQ(boxes.shown, c.boxes);
        EXPECT_EQ(boxes.log.value(0), "log: format confirmed: /dev/sdx1 (Vendor Stick, 8.0 GB, "
                                      "USB, 8:17 diskseq 41)");
        EXPECT_EQ(boxes.log.last(), c.lastLog);
        EXPECT_EQ("error: " + dialog.StatusLine->text(), c.lastLog);
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_TRUE(dialog.Button1->isEnabled());
        EXPECT_TRUE(library.folders.isEmpty());
        EXPECT_FALSE(dialog.takeFormattedStick().has_value());
        EXPECT_EQ(dialog.ProgressBar1->value(), c.volumeExists ? 30 : 0);
    }
}

TEST(FormatDialog, AFormatRunsOnceAndClosingWaitsForIt) {
    FakeFormatLibrary library;
    knowStick(library);
    library.afterFormat = fat32("USB");
    library.script = FakeFormatLibrary::successScript();
    library.holdFormat = true;
    FakeDriveLister drives;
    drives.entries = {stickEntry()};
    Boxes boxes;
    boxes.answers = {true, true};
    TForm3 dialog(library, drives, boxes.seams());
    dialog.show();
    dialog.ComboBox1->setEditText(kStick);
    dialog.Button1->click();
    library.waitUntilRunning();
    EXPECT_FALSE(dialog.Button1->isEnabled());
    EXPECT_FALSE(dialog.BitBtn1->isEnabled());
    dialog.Button1Click(); // even past the disabled button
    dialog.Button2->click();
    dialog.close();
    stbtest::spinUntil([] { return false; }, 100);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.isFormatting());
    library.release();
    ASSERT_TRUE(stbtest::spinUntil([&] { return !dialog.isVisible(); }));
    EXPECT_EQ(library.formats.size(), 1u);
    EXPECT_EQ(library.folders, QStringList{kStick + ":kathrein/ufs910"});
    ASSERT_TRUE(library.confirmedFolders.at(0).has_value());
    EXPECT_EQ(library.confirmedFolders[0]->identity, kStickIdentity);
    EXPECT_EQ(boxes.shown.last(), "message: Msg21");
    EXPECT_EQ(dialog.ProgressBar1->value(), 100);
    // The image copy of the same job gets the stick once.
    const auto formatted = dialog.takeFormattedStick();
    ASSERT_TRUE(formatted.has_value());
    EXPECT_EQ(formatted->device, kStick);
    EXPECT_EQ(formatted->confirmed.identity, kStickIdentity);
    EXPECT_FALSE(dialog.takeFormattedStick().has_value());
}

TEST(FormatDialog, ALoopDeviceIsFormattedWithTheFolderAndTheDialogCloses) {
    stbtest::ScratchDir dir;
    ASSERT_TRUE(stbtest::makeImage(dir.file("stick.img"), 64 << 20));
    stbtest::LoopDevice loop(dir.file("stick.img"));
    ASSERT_FALSE(loop.device().isEmpty());
    MkfsFormatLibrary library;
    FakeDriveLister drives;
    drives.entries = {FakeDriveLister::entryFor(loop.device(), "Loop Stick")};
    Boxes boxes;
    boxes.answers = {true};
    TForm3 dialog(library, drives, boxes.seams());
    dialog.setTexts("Msg17", "Msg18", "Formatieren");
    dialog.show();
    dialog.ComboBox1->setEditText(loop.device());
    dialog.Button1->click();
    ASSERT_TRUE(stbtest::spinUntil([&] { return !dialog.isVisible(); }, 60000));
    EXPECT_EQ(boxes.shown, (QStringList{"confirm: Drive " + loop.device() +
                                            " (Loop Stick, 0.1 GB, USB, ganzes Laufwerk / whole "
                                            "disk): \nMsg20",
                                        "message: Msg21"}));
    EXPECT_EQ(dialog.ProgressBar1->value(), 100);
    const stbtest::ToolRun mdir = stbtest::runTool("mdir", {"-i", loop.device(), "::kathrein"});
    EXPECT_EQ(mdir.exitCode, 0);
    EXPECT_TRUE(mdir.output.contains("ufs910"));
    // The dialog is reused: its list and text are as they were left.
    EXPECT_EQ(dialog.ComboBox1->currentText(), loop.device());
}

TEST(FormatDialog, AStickReplacedWhileTheQuestionIsUpIsNotWritten) {
    stbtest::ScratchDir dir;
    ASSERT_TRUE(stbtest::makeImage(dir.file("stick.img"), 64 << 20));
    ASSERT_EQ(stbtest::runTool("dd", {"if=/dev/urandom", "of=" + dir.file("backup.img"), "bs=1M",
                                      "count=64", "status=none"})
                  .exitCode,
              0);
    const QByteArray before = stbtest::sha256Of(dir.file("backup.img"));
    stbtest::LoopDevice loop(dir.file("stick.img"));
    ASSERT_FALSE(loop.device().isEmpty());
    const DriveEntry stick = FakeDriveLister::entryFor(loop.device(), "Loop Stick");
    MkfsFormatLibrary library;
    FakeDriveLister drives;
    drives.entries = {stick};
    Boxes boxes;
    boxes.answers = {true};
    bool replaced = false;
    boxes.whileAsked = [&] { replaced = loop.replaceWith(dir.file("backup.img")); };
    TForm3 dialog(library, drives, boxes.seams());
    dialog.show();
    dialog.ComboBox1->setEditText(loop.device());
    dialog.Button1->click();
    waitForFormat(dialog);
    ASSERT_TRUE(replaced);
    const auto now = identityOfPath(loop.device());
    ASSERT_TRUE(now.has_value());
    EXPECT_EQ(boxes.shown.last(), "message: Format Disk Failed");
    EXPECT_EQ(boxes.log.last(), "error: Format Disk Failed: " + loop.device() +
                                    " is no longer the drive that was confirmed (" +
                                    stick.identity.text() + ", now " + now->text() + ")");
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(stbtest::sha256Of(dir.file("backup.img")), before);
    RecordProperty("log", boxes.log.last().toStdString());
    RecordProperty("sha256", before.toStdString());
}
