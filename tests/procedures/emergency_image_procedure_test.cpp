// The emergency image job against scripted seams: its stops before the receiver is reached,
// and the transfer's end as the console watcher reports it (a wrong byte count first, then
// the right one twice; a receiver that never reports).
#include "procedures/emergency_image_procedure.h"
#include "tests/procedures/session_log_capture.h"
#include "tests/support/fake_console.h"
#include "tests/support/fake_copy_progress.h"
#include "tests/support/fake_dialogs.h"
#include "tests/support/fake_file_server.h"
#include "tests/support/fake_main_view.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

class FakeImageServer : public ImageServer {
public:
    QString refusal;
    QStringList calls;
    NewsHandler handler;
    QString start(const Serve& serve) override {
        calls << "start " + serve.imagePath.section('/', 0, -2) + " " + serve.bindAddress;
        return refusal;
    }
    void stop() override { calls << "stop"; }
    void setNewsHandler(NewsHandler h) override { handler = std::move(h); }
};

struct Rig {
    SessionLogCapture log;
    stbtest::ScratchDir dir;
    FakeDialogs dialogs;
    FakeMainView view;
    MessageCatalogue messages;
    FakeConsolePort port;
    FakeTicker ticker;
    ResponseWatcher watcher;
    ConsoleDialogue console{port, ticker, watcher, 0};
    FakeCopyProgress progress;
    FakeImageServer server;
    FakeFileServer http;
    QStringList addresses{"10.0.0.1", "192.168.1.2"};
    EmergencyImageProcedure job{{dialogs,
                                 view,
                                 messages,
                                 console,
                                 progress,
                                 server,
                                 http,
                                 log,
                                 [] {},
                                 [] { return std::nullopt; },
                                 [this] { return addresses; },
                                 {},
                                 [](const QString&) {},
                                 "/media",
                                 std::chrono::milliseconds(300)}};
    int huntWaits = 0;

    // Answers up to the server start; the loader's prompt comes on the third try.
    explicit Rig(const QString& fileName = "emergency.ub") {
        for (int n = 1; n <= MessageCatalogue::kCount; ++n)
            messages.setText(n, QStringLiteral("M%1").arg(n));
        view.setReceiverAddress("192.168.1.50");
        QFile image(dir.file(fileName));
        image.open(QIODevice::WriteOnly);
        image.write(QByteArray(1234, 'x'));
        image.close();
        for (bool ok : {false, false, true})
            dialogs.answerConfirm(ok);
        dialogs.answerOpenFiles({dir.file(fileName)});
        for (int i = 0; i < 3; ++i)
            dialogs.answerConfirm(true);
        ticker.duringWait = [this](int ticks) {
            if (ticks == 5 && ++huntWaits == 3)
                feed("\r\nSTB7100-REF> ");
        };
    }
    void feed(const QByteArray& bytes) {
        for (char c : bytes)
            watcher.feed(c);
    }
};

struct StopCase {
    const char* name;
    QStringList addresses;
    QString presetOwn;
    QString fileName;
    QString refusal;
    QString lastBox;
    QStringList lastErrors;
};

class EmergencyStops : public ::testing::TestWithParam<StopCase> {};

TEST_P(EmergencyStops, LogsAndShowsWhyAndSendsNothing) {
    const StopCase& c = GetParam();
    Rig rig(c.fileName);
    rig.addresses = c.addresses;
    rig.view.setOwnAddress(c.presetOwn);
    rig.server.refusal = c.refusal;
    rig.job.loadEmergencyImage();
    EXPECT_EQ(rig.dialogs.transcriptLines().last(), c.lastBox);
    EXPECT_EQ(rig.log.steps().mid(rig.log.steps().size() - c.lastErrors.size()), c.lastErrors);
    EXPECT_TRUE(rig.port.writes.isEmpty());
    EXPECT_FALSE(rig.job.transferOpen());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EmergencyStops,
    ::testing::Values(
        StopCase{"NoOwnAddress",
                 {"10.0.0.1"},
                 "",
                 "emergency.ub",
                 "",
                 "message: keine eigene IP-Adresse gefunden !",
                 {"###### ip-address could not be detected ! --> EXIT"}},
        StopCase{"EarlierAddressOnOtherSubnet",
                 {},
                 "10.0.0.9",
                 "emergency.ub",
                 "",
                 "message: keine Netzwerkverbindung möglich zwischen 10.0.0.9 und 192.168.1.50 !",
                 {"###### ip-address 192.168.1.50 and 10.0.0.9, network connection not possible "
                  "! --> EXIT"}},
        StopCase{"NameDiffersInCase",
                 {"192.168.1.2"},
                 "",
                 "Emergency.ub",
                 "",
                 "message: M10",
                 {"###### emergency.ub was not selected on openfile dialog ! --> EXIT"}},
        StopCase{"BindRefused",
                 {"192.168.1.2"},
                 "",
                 "emergency.ub",
                 "bind 192.168.1.2:69: Permission denied (EACCES)",
                 "message: could not start TFTP-Server !",
                 {"###### could not start TFTP-Server !",
                  "###### TFTP-Server: bind 192.168.1.2:69: Permission denied (EACCES)"}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(EmergencyTransfer, OnlyTheImagesOwnByteCountBootsAndOnlyOnce) {
    Rig rig;
    rig.http.setServeLocation("/home/user/", "proftpd.tar.bz2"); // the FTP job's earlier choice
    rig.job.loadEmergencyImage();
    ASSERT_TRUE(rig.job.transferOpen());
    EXPECT_EQ(rig.http.serveDrive() + rig.http.servePath(), ""); // no longer handed out
    EXPECT_EQ(rig.watcher.ImageSizeText, "1234");
    EXPECT_EQ(rig.server.calls, QStringList{"start " + rig.dir.path() + " 192.168.1.2"});
    EXPECT_EQ(rig.port.transcript(), "\r\r\rset ipaddr 192.168.1.50\rset serverip 192.168.1.2\r"
                                     "tftp a4000000 emergency.ub\r");
    rig.feed("Bytes transferred = 12345 (3039 hex)\rBytes transferred = 123 (7b hex)\r");
    EXPECT_TRUE(rig.job.transferOpen());
    rig.feed("Bytes transferred = 1234 (4d2 hex)\rBytes transferred = 1234 (4d2 hex)\r");
    EXPECT_FALSE(rig.job.transferOpen());
    EXPECT_EQ(rig.server.calls.count("stop"), 1);
    EXPECT_EQ(rig.port.writes.count("bootm a4000000\r"), 1);
    ASSERT_TRUE(stbtest::spinUntil([&] { return rig.dialogs.transcript().size() == 8; }));
    EXPECT_EQ(rig.dialogs.transcript().back().kind, FakeDialogs::Kind::Information);
}

TEST(EmergencyTransfer, AReceiverThatNeverReportsIsNamedAfterTheSilence) {
    Rig rig;
    rig.job.loadEmergencyImage();
    ASSERT_TRUE(stbtest::spinUntil([&] { return rig.dialogs.transcript().size() == 8; }));
    EXPECT_TRUE(rig.dialogs.transcriptLines().last().startsWith("error: Der Receiver hat"));
    EXPECT_TRUE(rig.log.steps().last().startsWith("###### no end of the file transfer"));
    EXPECT_TRUE(rig.server.calls.count("stop") == 0 && rig.job.transferOpen());
}

} // namespace
