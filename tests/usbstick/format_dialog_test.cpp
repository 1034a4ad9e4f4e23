// The format dialog on the offscreen platform: what each click leads to, the boxes it shows,
// a real format of an image file end to end, and a format that neither runs twice nor is cut
// off by closing the dialog.
#include "tests/support/fake_format_library.h"
#include "tests/support/test_support.h"
#include "usbstick/format_dialog.h"
#include "usbstick/mkfs_format_library.h"

#include <QComboBox>
#include <QFile>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>

#include <gtest/gtest.h>

#include <deque>
#include <map>

using namespace usbstick;

namespace {

class ListedDrives : public DriveLister {
public:
    std::vector<DriveEntry> entries;
    std::map<QString, DriveClass> classes;
    std::vector<DriveEntry> removableVolumes() override { return entries; }
    DriveClass classify(const QString& path) override {
        const auto it = classes.find(path);
        return it == classes.end() ? DriveClass::Unknown : it->second;
    }
};

// Boxes recorded as "message: text" / "confirm: text"; confirmations answered from a queue.
struct Boxes {
    QStringList shown;
    std::deque<bool> answers;
    FormatDialogSeams seams() {
        return {[this](const QString& t) { shown << "message: " + t; },
                [this](const QString& t) {
                    shown << "confirm: " + t;
                    const bool ok = !answers.empty() && answers.front();
                    if (!answers.empty())
                        answers.pop_front();
                    return ok;
                },
                [](int n) { return QStringLiteral("Msg%1").arg(n); }};
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

} // namespace

TEST(FormatDialog, ClicksBeforeAFormatLeadToTheRightBoxes) {
    struct Case {
        QString typed;
        std::vector<bool> answers;
        QStringList boxes;
    };
    const std::vector<Case> cases = {
        {"select drive", {}, {}},
        {"c", {}, {"message: Msg19"}},
        {"/dev/vda", {}, {"message: Msg19"}}, // the system disk, typed in
        {"/dev/sdx1  Wechseldatentraeger  (Vendor Stick 8.0 GB)",
         {false},
         {"confirm: Drive /dev/sdx1 (Vendor Stick 8.0 GB): \rMsg20"}},
    };
    for (const Case& c : cases) {
        FakeFormatLibrary library;
        library.volumes[kStick] = fat32("OLD");
        ListedDrives drives;
        drives.entries = {{kStick, "Vendor Stick 8.0 GB"}};
        drives.classes = {{kStick, DriveClass::Offered}, {"/dev/vda", DriveClass::Forbidden}};
        Boxes boxes;
        boxes.answers = {c.answers.begin(), c.answers.end()};
        TForm3 dialog(library, drives, boxes.seams());
        EXPECT_EQ(dialog.ComboBox1->count(), 2);
        dialog.ComboBox1->setEditText(c.typed);
        dialog.Button1->click();
        EXPECT_EQ(boxes.shown, c.boxes) << c.typed.toStdString();
        EXPECT_TRUE(library.claims.isEmpty()); // nothing was opened for writing
        EXPECT_TRUE(library.formats.empty());
    }
}

TEST(FormatDialog, FailedAndRaisingFormatsLeaveTheDialogOpen) {
    struct Case {
        bool volumeExists;
        uint8_t doneByte;
        QStringList boxes;
    };
    const std::vector<Case> cases = {
        {true, 0, {"confirm: Drive /dev/sdx1: \rMsg20", "message: Format Disk Failed"}},
        {false, 1, {"confirm: Drive /dev/sdx1: \rMsg20"}}, // Drive Not Found: no box
    };
    for (const Case& c : cases) {
        FakeFormatLibrary library;
        if (c.volumeExists)
            library.volumes[kStick] = fat32("OLD");
        library.script = {{kProgress, 30, 0, {}}, {kDone, 0, c.doneByte, {}}};
        ListedDrives drives;
        Boxes boxes;
        boxes.answers = {true};
        TForm3 dialog(library, drives, boxes.seams());
        dialog.show();
        dialog.ComboBox1->setEditText(kStick);
        dialog.Button1->click();
        ASSERT_TRUE(stbtest::spinUntil([&] { return !dialog.isFormatting(); }));
        stbtest::spinUntil([] { return false; }, 50);
        EXPECT_EQ(boxes.shown, c.boxes);
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_TRUE(dialog.Button1->isEnabled());
        EXPECT_TRUE(library.folders.isEmpty());
        EXPECT_EQ(dialog.ProgressBar1->value(), c.volumeExists ? 30 : 0);
    }
}

TEST(FormatDialog, AFormatRunsOnceAndClosingWaitsForIt) {
    FakeFormatLibrary library;
    library.volumes[kStick] = fat32("OLD");
    library.afterFormat = fat32("USB");
    library.script = FakeFormatLibrary::successScript();
    library.holdFormat = true;
    ListedDrives drives;
    drives.classes = {{kStick, DriveClass::Offered}};
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
    EXPECT_EQ(boxes.shown.last(), "message: Msg21");
    EXPECT_EQ(dialog.ProgressBar1->value(), 100);
}

TEST(FormatDialog, RealImageIsFormattedWithTheFolderAndTheDialogCloses) {
    stbtest::ScratchDir dir;
    const QString image = dir.file("stick.img");
    QFile file(image);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.resize(64 << 20));
    file.close();
    MkfsFormatLibrary library;
    SysfsDriveLister drives;
    Boxes boxes;
    boxes.answers = {true};
    TForm3 dialog(library, drives, boxes.seams());
    dialog.setTexts("Msg17", "Msg18", "Formatieren");
    dialog.show();
    dialog.ComboBox1->setEditText(image);
    dialog.Button1->click();
    ASSERT_TRUE(stbtest::spinUntil([&] { return !dialog.isVisible(); }, 60000));
    EXPECT_EQ(boxes.shown, (QStringList{"confirm: Drive " + image + " (image file, 64 MB): \rMsg20",
                                        "message: Msg21"}));
    EXPECT_EQ(dialog.ProgressBar1->value(), 100);
    QProcess mdir;
    mdir.start("mdir", {"-i", image, "::kathrein"});
    mdir.waitForFinished(-1);
    EXPECT_EQ(mdir.exitCode(), 0);
    EXPECT_TRUE(mdir.readAllStandardOutput().contains("ufs910"));
    // The dialog is reused: its list and text are as they were left.
    EXPECT_EQ(dialog.ComboBox1->currentText(), image);
}
