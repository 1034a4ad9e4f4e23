// The emergency image job end to end, each run in a network namespace of its own (port 69):
// the real format dialog (closed with "Abbrechen", or formatting an image file that mtools
// then writes to), the real serial port on the boot-loader simulator's pty, the real tick
// wait, our TFTP server, and busybox tftp fetching the image on the loader's side.
#include "net/network_check.h"
#include "procedures/emergency_image_procedure.h"
#include "serial/console_link.h"
#include "tests/net/netns.h"
#include "tests/procedures/session_log_capture.h"
#include "tests/sim/boot_loader_simulator.h"
#include "tests/support/fake_copy_progress.h"
#include "tests/support/fake_dialogs.h"
#include "tests/support/fake_drive_lister.h"
#include "tests/support/fake_file_server.h"
#include "tests/support/fake_image_server.h"
#include "tests/support/fake_main_view.h"
#include "tests/support/loop_device.h"
#include "usbstick/format_dialog.h"
#include "usbstick/mkfs_format_library.h"

#include <QComboBox>
#include <QDir>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include <unistd.h>

namespace {

struct Case {
    const char* name;
    bool formatImage; // else the format dialog is left with "Abbrechen" and a folder is chosen
    int promptFromCr;
    bool badChecksum;
    bool clash;     // a third image whose name the stick already holds
    bool truncated; // emergency.ub lacks its last kilobyte, as after a broken download
};

QByteArray writeFile(const QString& path, qsizetype size) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return bytes;
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray onStick(const QString& stickImage, const QString& folderFile) {
    QProcess p;
    p.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
    p.start("mtype", {"-i", stickImage, "::kathrein/ufs910/" + folderFile});
    p.waitForFinished();
    return p.readAllStandardOutput();
}

// The PC's side of one run against the loader on portPath: the files in dir, the fakes, the
// real format dialog and the job. The root runs and the normal user's run share it.
class PcSide {
public:
    PcSide(const Case& c, const QString& portPath, const QString& dir,
           const std::string& helperPath)
        : c(c), dir(dir), link(port, log, 0), realServer(69, helperPath) {
        port.setDevicePath(portPath);
        port.Open();
        view.setReceiverAddress("127.0.0.50");
        for (int n = 1; n <= MessageCatalogue::kCount; ++n)
            messages.setText(n, QStringLiteral("M%1").arg(n));
    }

    QString file(const QString& name) const { return dir + QLatin1Char('/') + name; }

    // The images, the boot image and the stick; false (with a recorded failure) if one is
    // missing.
    bool prepare() {
        stick = file(c.formatImage ? "stick.img" : "stick");
        QDir().mkpath(file("images"));
        QDir().mkpath(file("My Images"));
        for (const char* name : {"a.img", "b.img", "c.img"})
            if (images.size() < (c.clash ? 3 : 2))
                images << file(QStringLiteral("images/") + name);
        for (const QString& path : images)
            imageBytes.push_back(writeFile(path, 70000));
        const QString bootImagePath = file("My Images/emergency.ub");
        bootImage = stbtest::makeBootImage(bootImagePath, writeFile(file("kernel"), 3 << 20));
        EXPECT_EQ(bootImage.size(), (3 << 20) + 64) << "mkimage (u-boot-tools) made no image";
        if (bootImage.size() != (3 << 20) + 64)
            return false;
        if (c.truncated && !QFile::resize(bootImagePath, bootImage.size() - 1024))
            return false;
        // The stick to format: a loop device over an image file (only block devices are
        // formatted).
        if (c.formatImage) {
            if (!stbtest::makeImage(stick, 64 << 20))
                return false;
            loop.emplace(stick);
            if (loop->device().isEmpty())
                return false;
            lister.entries = {FakeDriveLister::entryFor(loop->device(), "Loop Stick")};
        } else {
            QDir().mkpath(stick + "/kathrein/ufs910");
            writeFile(stick + "/kathrein/ufs910/c.img", 10);
        }
        answerTheDialogs();
        return true;
    }

    void run() {
        EmergencyImageProcedure job({dialogs,
                                     view,
                                     messages,
                                     link.dialogue(),
                                     link.dialogue(),
                                     progress,
                                     server,
                                     http,
                                     log,
                                     [this] { showFormatDialog(); },
                                     [this]() -> std::optional<usbstick::StickFolder> {
                                         if (const auto formatted = form3.takeFormattedStick())
                                             return usbstick::stickForFormatted(*formatted,
                                                                                library);
                                         return std::nullopt;
                                     },
                                     ListLocalAddresses,
                                     {},
                                     [](const QString&) {},
                                     "/media"});
        std::optional<JobGate::Hold> hold = gate.tryEnter(JobKind::LoadEmergencyImage);
        job.loadEmergencyImage(*hold);
        hold.reset();
        if (c.clash || c.truncated || c.promptFromCr > 51)
            return; // the job ended before a transfer could open
        transferEnded = stbtest::spinUntil([&] { return !job.transferOpen(); }, 30000);
        // The job's last box is posted once the loader has answered.
        EXPECT_TRUE(stbtest::spinUntil([&] { return dialogs.scriptUsedUp(); }, 3000));
        stbtest::spinUntil([] { return false; }, 1500);
    }

    const Case& c;
    QString dir;
    SessionLogCapture log;
    TComPort port;
    SerialConsoleLink link;
    FakeDialogs dialogs;
    FakeMainView view;
    MessageCatalogue messages;
    FakeCopyProgress progress;
    TftpImageServer realServer;
    // The simulated loader's busybox client sends from 127.0.0.1, whatever ipaddr it got.
    FakeImageServer server{realServer, "127.0.0.1"};
    FakeFileServer http;
    usbstick::MkfsFormatLibrary library;
    FakeDriveLister lister;
    usbstick::TForm3 form3{library,
                           lister,
                           {[this](const QString& t) { dialogs.showMessage(t); },
                            [this](const QString& t) { return dialogs.confirm(t); },
                            [](int n) { return QStringLiteral("M%1").arg(n); }}};
    JobGate gate;
    QString stick;
    QStringList images;
    std::vector<QByteArray> imageBytes;
    QByteArray bootImage;
    std::optional<stbtest::LoopDevice> loop;
    bool transferEnded = false;

private:
    // Msg16, the format's own question, Msg22, (folder), images, Msg12, emergency.ub, 13/23/14.
    void answerTheDialogs() {
        for (bool ok : c.formatImage ? std::vector{true, true, true} : std::vector{true, true})
            dialogs.answerConfirm(ok);
        if (!c.formatImage)
            dialogs.answerFolder(stick);
        dialogs.answerOpenFiles(images);
        dialogs.answerConfirm(true);
        dialogs.answerOpenFiles({file("My Images/emergency.ub")});
        for (int i = 0; i < 3; ++i)
            dialogs.answerConfirm(true);
    }

    void showFormatDialog() {
        QTimer::singleShot(0, &form3, [this] {
            if (!c.formatImage)
                return form3.Button2->click();
            form3.ComboBox1->setEditText(loop->device());
            form3.Button1->click();
        });
        form3.ShowUsbFormatDialog("M17", "M18", "Formatieren");
    }
};

class EmergencyEndToEnd : public ::testing::TestWithParam<Case> {};

TEST_P(EmergencyEndToEnd, Run) {
    NET_TEST_IN_PRIVATE_NETNS();
    const Case& c = GetParam();
    // Before the loader's thread starts: it reads the environment when it starts its client.
    qputenv("MTOOLS_SKIP_CHECK", "1");
    stbtest::ScratchDir dir;
    stbsim::BootLoaderSimulator sim;
    QString error;
    ASSERT_TRUE(sim.start({c.promptFromCr, c.badChecksum, 69}, &error)) << error.toStdString();
    PcSide pc(c, sim.portPath(), dir.path(), "/nonexistent");
    ASSERT_TRUE(pc.prepare());
    pc.run();
    const SessionLogCapture& log = pc.log;
    const FakeDialogs& dialogs = pc.dialogs;
    const QStringList& images = pc.images;
    const QString& stick = pc.stick;

    const QString root = c.formatImage ? pc.loop->device() + "::" : stick;
    const QString drive = c.formatImage ? pc.loop->device() : stick;
    QStringList expected = {"****** copy *.img files to usb stick  ******",
                            "****** drive " + drive + " for usb stick selected ******"};
    for (int i = 0; i < 2; ++i) {
        expected << "****** " + images[i] + " copied to " + root + "/kathrein/ufs910/  ******";
        const QString name = QFileInfo(images[i]).fileName();
        EXPECT_EQ(c.formatImage ? onStick(stick, name)
                                : readAll(stick + "/kathrein/ufs910/" + name),
                  pc.imageBytes[i]);
    }
    if (c.clash) {
        EXPECT_EQ(dialogs.transcriptLines().last(),
                  "message: " + images[2] + " konnte nicht kopiert werden");
        EXPECT_EQ(log.steps().mid(0, 4), expected);
        EXPECT_EQ(log.steps().value(4), "###### " + images[2] + " could not be copied ! --> EXIT");
        EXPECT_EQ(QFileInfo(stick + "/kathrein/ufs910/c.img").size(), 10);
        return;
    }
    EXPECT_EQ(pc.progress.positions(), (std::vector<int>{1, 2}));
    expected << "****** COMMAND: get ip  ******"
             << "****** RESULT: found 127.0.0.1 ******"
             << "****** 127.0.0.1 set for server-ip ******"
             << "****** COMMAND: select file emergency.ub ******"
             << "****** RESULT: emergency.ub was selected ******"
             << "****** COMMAND: check emergency.ub ******";
    if (c.truncated) {
        expected << "###### emergency.ub is shorter than its header says (3145792 bytes), the "
                    "download is incomplete ! --> EXIT";
        EXPECT_EQ(log.steps(), expected);
        EXPECT_EQ(dialogs.transcriptLines().last(), "error: M32");
        EXPECT_EQ(sim.linesReceived(), QStringList()) << "not a carriage return before the hunt";
        EXPECT_FALSE(pc.realServer.server().running() || pc.gate.held());
        return;
    }
    expected << "****** RESULT : emergency.ub is a boot image: \"stbmate test\", 3145792 bytes, "
                "architecture SuperH, type Kernel, compression gzip ******"
             << "****** COMMAND :start TFTP server successful ******"
             << "****** RESULT : TFTP server was successfully started ******"
             << "****** COMMAND :trying to find start point STB7100-REF> ******";
    if (c.promptFromCr > 51) {
        expected << "###### start point STB7100-REF> not found ! --> EXIT";
        EXPECT_EQ(log.steps(), expected);
        EXPECT_EQ(sim.linesReceived().size(), 51);
        EXPECT_EQ(dialogs.transcriptLines().last(), "message: Prompt nicht erkannt !");
        EXPECT_FALSE(pc.realServer.server().running() || pc.gate.held());
        return;
    }
    expected << "****** RESULT :found start point STB7100-REF> ******"
             << "****** COMMAND: start file transfer ******";
    EXPECT_EQ(sim.linesReceived().indexOf("setenv ipaddr 127.0.0.50"), c.promptFromCr);
    ASSERT_TRUE(pc.transferEnded);
    EXPECT_GE(pc.server.calls.count("stop"), 1);
    EXPECT_FALSE(pc.realServer.server().running());
    EXPECT_EQ(sim.setCommands(), (QStringList{"ipaddr 127.0.0.50", "serverip 127.0.0.1"}));
    if (c.badChecksum) {
        expected << "###### filetransfer failed ! --> EXIT";
        EXPECT_EQ(sim.bootCount(), 0);
        EXPECT_TRUE(dialogs.transcriptLines().last().startsWith("error: "));
    } else {
        expected << "****** RESULT : file transfer complete, stop TFTP server ******"
                 << "****** RESULT : emergency image loaded, bootm a4000000 sent ******"
                 << "****** RESULT : emergency image verified and started (Starting kernel "
                    "...) ******";
        EXPECT_EQ(sim.loadedImage(), pc.bootImage);
        EXPECT_EQ(sim.bootCount(), 1);
        EXPECT_EQ(sim.linesReceived().last(), "bootm a4000000");
        // The loader's report reaches the log whole, though the job boots in the middle of it.
        EXPECT_TRUE(log.entries().contains(QStringLiteral("Bytes transferred = %1 (%2 hex)")
                                               .arg(pc.bootImage.size())
                                               .arg(pc.bootImage.size(), 0, 16)));
    }
    QStringList steps = log.steps();
    steps.removeIf([](const QString& s) { return s.contains(" sent to 127.0.0.1:"); });
    EXPECT_EQ(steps, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, EmergencyEndToEnd,
    ::testing::Values(Case{"BootsOnFirstTry", false, 1, false, false, false},
                      Case{"FormatsAndBootsOnTry51", true, 51, false, false, false},
                      Case{"NoPromptIn51Tries", false, 52, false, false, false},
                      Case{"BadChecksum", false, 1, true, false, false},
                      Case{"ExistingNameStopsTheCopy", false, 1, false, true, false},
                      Case{"TruncatedImageStopsBeforeTheHunt", false, 1, false, false, true}),
    [](const auto& param) { return std::string(param.param.name); });

const char kAsUserMarker[] = "STBMATE_EMERGENCY_AS_USER";

// The whole job as a normal user, as the installed package runs it: the program side holds no
// capability from its start to its end, and port 69 comes from a copy of the helper that
// carries cap_net_bind_service.
TEST(EmergencyAsNormalUser, LoadsTheImageThroughTheHelpersPort) {
    const Case c{"AsUser", false, 1, false, false, false};
    if (const char* value = std::getenv(kAsUserMarker)) {
        const QStringList where = QString::fromLocal8Bit(value).split(QLatin1Char('\n'));
        ASSERT_EQ(where.size(), 3);
        EXPECT_NE(::getuid(), 0u);
        EXPECT_EQ(nettest::OwnStatusField("CapEff"), "0000000000000000");
        PcSide pc(c, where[0], where[1], where[2].toStdString());
        ASSERT_TRUE(pc.prepare());
        pc.run();
        EXPECT_TRUE(pc.transferEnded);
        EXPECT_TRUE(pc.log.steps().last().startsWith(
            "****** RESULT : emergency image verified and started"))
            << pc.log.steps().join('\n').toStdString();
        EXPECT_EQ(nettest::OwnStatusField("CapEff"), "0000000000000000");
        return;
    }
    NET_TEST_IN_PRIVATE_NETNS();
    stbsim::BootLoaderSimulator sim;
    QString error;
    ASSERT_TRUE(sim.start({c.promptFromCr, c.badChecksum, 69}, &error)) << error.toStdString();
    stbtest::ScratchDir scratch;
    QFile::setPermissions(scratch.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                              QFile::ReadOther | QFile::ExeOther);
    const QString helper = nettest::CopyPortHelper(QStringLiteral(STBMATE_PORT_HELPER),
                                                   scratch.file(QStringLiteral("helper")), true);
    const QString dir = scratch.file(QStringLiteral("pc"));
    ASSERT_TRUE(QDir().mkdir(dir));
    ASSERT_TRUE(nettest::GiveToNormalUser(dir) && nettest::GiveToNormalUser(sim.portPath()));
    ASSERT_FALSE(helper.isEmpty());
    nettest::RunCurrentTestAsNormalUser(kAsUserMarker, sim.portPath() + QLatin1Char('\n') + dir +
                                                           QLatin1Char('\n') + helper);
    EXPECT_EQ(sim.bootCount(), 1);
    EXPECT_EQ(sim.loadedImage(), readAll(dir + QStringLiteral("/My Images/emergency.ub")));
}

} // namespace
