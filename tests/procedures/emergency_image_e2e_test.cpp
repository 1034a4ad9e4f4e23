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
#include "tests/support/fake_file_server.h"
#include "tests/support/fake_main_view.h"
#include "usbstick/format_dialog.h"
#include "usbstick/mkfs_format_library.h"

#include <QComboBox>
#include <QDir>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

struct Case {
    const char* name;
    bool formatImage; // else the format dialog is left with "Abbrechen" and a folder is chosen
    int promptFromCr;
    bool badChecksum;
    bool clash; // a third image whose name the stick already holds
};

class CountingServer : public ImageServer {
public:
    TftpImageServer real;
    int stops = 0;
    QString start(const Serve& serve) override {
        // The simulated loader's busybox client sends from 127.0.0.1, whatever ipaddr it got.
        return real.start({serve.imagePath, serve.size, "127.0.0.1", serve.bindAddress});
    }
    void stop() override {
        ++stops;
        real.stop();
    }
    void setNewsHandler(NewsHandler handler) override { real.setNewsHandler(std::move(handler)); }
};

class ImageFiles : public usbstick::DriveLister {
public:
    std::vector<usbstick::DriveEntry> removableVolumes() override { return {}; }
    usbstick::DriveClass classify(const QString& path) override {
        return QFileInfo(path).isFile() ? usbstick::DriveClass::Image
                                        : usbstick::DriveClass::Unknown;
    }
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

class EmergencyEndToEnd : public ::testing::TestWithParam<Case> {};

TEST_P(EmergencyEndToEnd, Run) {
    NET_TEST_IN_PRIVATE_NETNS();
    const Case& c = GetParam();
    qputenv("MTOOLS_SKIP_CHECK", "1");
    stbtest::ScratchDir dir;
    SessionLogCapture log;
    stbsim::BootLoaderSimulator sim;
    QString error;
    ASSERT_TRUE(sim.start({c.promptFromCr, c.badChecksum, 69}, &error)) << error.toStdString();
    TComPort port;
    port.setDevicePath(sim.portPath());
    port.Open();
    SerialConsoleLink link(port, log, 0);
    FakeDialogs dialogs;
    FakeMainView view;
    view.setReceiverAddress("127.0.0.50");
    MessageCatalogue messages;
    FakeCopyProgress progress;
    CountingServer server;
    FakeFileServer http;
    usbstick::MkfsFormatLibrary library;
    ImageFiles lister;
    usbstick::TForm3 form3(library, lister,
                           {[&](const QString& t) { dialogs.showMessage(t); },
                            [&](const QString& t) { return dialogs.confirm(t); },
                            [](int n) { return QStringLiteral("M%1").arg(n); }});
    for (int n = 1; n <= MessageCatalogue::kCount; ++n)
        messages.setText(n, QStringLiteral("M%1").arg(n));

    const QString stick = dir.file(c.formatImage ? "stick.img" : "stick");
    QStringList images;
    QDir().mkpath(dir.file("images"));
    QDir().mkpath(dir.file("My Images"));
    for (const char* name : {"a.img", "b.img", "c.img"})
        if (images.size() < (c.clash ? 3 : 2))
            images << dir.file(QStringLiteral("images/") + name);
    std::vector<QByteArray> imageBytes;
    for (const QString& path : images)
        imageBytes.push_back(writeFile(path, 70000));
    const QByteArray bootImage = writeFile(dir.file("My Images/emergency.ub"), 3 << 20);
    if (c.formatImage) {
        QFile file(stick);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.resize(64 << 20));
    } else {
        QDir().mkpath(stick + "/kathrein/ufs910");
        writeFile(stick + "/kathrein/ufs910/c.img", 10);
    }

    // Msg16, the format's own question, Msg22, (folder), images, Msg12, emergency.ub, 13/23/14.
    for (bool ok : c.formatImage ? std::vector{true, true, true} : std::vector{true, true})
        dialogs.answerConfirm(ok);
    if (!c.formatImage)
        dialogs.answerFolder(stick);
    dialogs.answerOpenFiles(images);
    dialogs.answerConfirm(true);
    dialogs.answerOpenFiles({dir.file("My Images/emergency.ub")});
    for (int i = 0; i < 3; ++i)
        dialogs.answerConfirm(true);

    EmergencyImageProcedure job(
        {dialogs,
         view,
         messages,
         link.dialogue(),
         progress,
         server,
         http,
         log,
         [&] {
             QTimer::singleShot(0, &form3, [&] {
                 if (!c.formatImage)
                     return form3.Button2->click();
                 form3.ComboBox1->setEditText(stick);
                 form3.Button1->click();
             });
             form3.ShowUsbFormatDialog("M17", "M18", "Formatieren");
         },
         [&] { return usbstick::stickFolderFor(form3.ComboBox1->currentText(), library); },
         ListLocalAddresses,
         {},
         [](const QString&) {},
         "/media"});
    job.loadEmergencyImage();

    const QString root = c.formatImage ? stick + "::" : stick;
    QStringList expected = {"****** copy *.img files to usb stick  ******",
                            "****** drive " + root + " for usb stick selected ******"};
    for (int i = 0; i < 2; ++i) {
        expected << "****** " + images[i] + " copied to " + root + "/kathrein/ufs910/  ******";
        const QString name = QFileInfo(images[i]).fileName();
        EXPECT_EQ(c.formatImage ? onStick(stick, name)
                                : readAll(stick + "/kathrein/ufs910/" + name),
                  imageBytes[i]);
    }
    if (c.clash) {
        EXPECT_EQ(dialogs.transcriptLines().last(),
                  "message: " + images[2] + " konnte nicht kopiert werden");
        EXPECT_EQ(log.steps().mid(0, 4), expected);
        EXPECT_EQ(log.steps().value(4), "###### " + images[2] + " could not be copied ! --> EXIT");
        EXPECT_EQ(QFileInfo(stick + "/kathrein/ufs910/c.img").size(), 10);
        return;
    }
    EXPECT_EQ(progress.positions(), (std::vector<int>{1, 2}));
    expected << "****** COMMAND: get ip  ******"
             << "****** RESULT: found 127.0.0.1 ******"
             << "****** 127.0.0.1 set for server-ip ******"
             << "****** COMMAND: select file emergency.ub ******"
             << "****** RESULT: emergency.ub was selected ******"
             << "****** COMMAND :start TFTP server successful ******"
             << "****** RESULT : TFTP server was successfully started ******"
             << "****** COMMAND :trying to find start point STB7100-REF> ******";
    if (c.promptFromCr > 51) {
        expected << "###### start point STB7100-REF> not found ! --> EXIT";
        EXPECT_EQ(log.steps(), expected);
        EXPECT_EQ(sim.linesReceived().size(), 51);
        EXPECT_EQ(dialogs.transcriptLines().last(), "message: Prompt nicht erkannt !");
        EXPECT_TRUE(server.real.server().running());
        return;
    }
    expected << "****** RESULT :found start point STB7100-REF> ******"
             << "****** COMMAND: start file transfer ******";
    EXPECT_EQ(sim.linesReceived().indexOf("set ipaddr 127.0.0.50"), c.promptFromCr);
    ASSERT_TRUE(stbtest::spinUntil([&] { return !job.transferOpen(); }, 30000));
    ASSERT_TRUE(stbtest::spinUntil([&] { return dialogs.scriptUsedUp(); }, 3000));
    stbtest::spinUntil([] { return false; }, 1500); // the end's box is posted
    EXPECT_EQ(server.stops, 1);
    EXPECT_FALSE(server.real.server().running());
    EXPECT_EQ(sim.setCommands(), (QStringList{"ipaddr 127.0.0.50", "serverip 127.0.0.1"}));
    if (c.badChecksum) {
        expected << "###### filetransfer failed ! --> EXIT";
        EXPECT_EQ(sim.bootCount(), 0);
        EXPECT_TRUE(dialogs.transcriptLines().last().startsWith("error: "));
    } else {
        expected << "****** RESULT : file transfer complete, stop TFTP server ******"
                 << "****** RESULT : emergency image loaded, bootm a4000000 sent ******";
        EXPECT_EQ(sim.loadedImage(), bootImage);
        EXPECT_EQ(sim.bootCount(), 1);
        EXPECT_EQ(sim.linesReceived().count("bootm a4000000"), 1);
        EXPECT_TRUE(dialogs.transcriptLines().last().startsWith("information: "));
    }
    QStringList steps = log.steps();
    steps.removeIf([](const QString& s) { return s.contains(" sent to 127.0.0.1:"); });
    EXPECT_EQ(steps, expected);
}

INSTANTIATE_TEST_SUITE_P(Runs, EmergencyEndToEnd,
                         ::testing::Values(Case{"BootsOnFirstTry", false, 1, false, false},
                                           Case{"FormatsAndBootsOnTry51", true, 51, false, false},
                                           Case{"NoPromptIn51Tries", false, 52, false, false},
                                           Case{"BadChecksum", false, 1, true, false},
                                           Case{"ExistingNameStopsTheCopy", false, 1, false, true}),
                         [](const auto& param) { return std::string(param.param.name); });

} // namespace
