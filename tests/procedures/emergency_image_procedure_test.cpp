// The emergency image job against scripted seams: its stops before the receiver is reached,
// and the transfer's end as the console watcher reports it (a wrong byte count first, then
// the right one twice; a receiver that never reports).
#include "procedures/emergency_image_procedure.h"
#include "serial/console_dialogue.h"
#include "tests/procedures/session_log_capture.h"
#include "tests/support/fake_console.h"
#include "tests/support/fake_copy_progress.h"
#include "tests/support/fake_dialogs.h"
#include "tests/support/fake_file_server.h"
#include "tests/support/fake_image_server.h"
#include "tests/support/fake_main_view.h"

#include <QFile>
#include <QMap>

#include <gtest/gtest.h>

namespace {

struct Rig {
    JobGate gate;
    std::optional<JobGate::Hold> hold = gate.tryEnter(JobKind::LoadEmergencyImage);
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
                                 std::chrono::milliseconds(300),
                                 std::chrono::milliseconds(300)}};
    int huntWaits = 0;
    bool prompt = true;

    // Answers up to the server start; the loader's prompt comes on the third try. The image is
    // 1234 bytes as made, then damaged.
    explicit Rig(const QString& fileName = "emergency.ub",
                 const std::function<void(QByteArray&)>& damage = {},
                 const QStringList& kind = {"-A", "sh", "-T", "kernel", "-C", "gzip"},
                 const std::vector<bool>& afterChoice = {true, true, true}) {
        for (int n = 1; n <= MessageCatalogue::kCount; ++n)
            messages.setText(n, QStringLiteral("M%1").arg(n));
        messages.setText(int(MessageId::BootImageSummary), "%1|%2|%3|%4|%5");
        view.setReceiverAddress("192.168.1.50");
        QByteArray bytes = stbtest::makeBootImage(dir.file(fileName), QByteArray(1170, 'x'), kind);
        EXPECT_EQ(bytes.size(), 1234) << "mkimage (u-boot-tools) made no image";
        if (damage)
            damage(bytes);
        QFile image(dir.file(fileName));
        image.open(QIODevice::WriteOnly);
        image.write(bytes);
        image.close();
        for (bool ok : {false, false, true})
            dialogs.answerConfirm(ok);
        dialogs.answerOpenFiles({dir.file(fileName)});
        for (bool ok : afterChoice)
            dialogs.answerConfirm(ok);
        ticker.duringWait = [this](int ticks) {
            if (ticks == 5 && ++huntWaits == 3 && prompt)
                feed("\r\nSTB7100-REF> ");
        };
        // The loader: echoes, keeps what setenv gives (a protected variable keeps its value),
        // answers printenv, and prints the test's answer after the command that begins with
        // answerAfter.
        port.onWrite = [this](const QByteArray& line) {
            const QList<QByteArray> words = line.trimmed().split(' ');
            feed(line + '\n');
            if (words.size() == 3 && words[0] == "setenv" && !env.contains(words[1]))
                env[words[1]] = words[2];
            if (words.size() == 2 && words[0] == "printenv")
                feed(words[1] + '=' + env.value(words[1]) + "\r\n");
            if (!answerAfter.isEmpty() && line.startsWith(answerAfter))
                feed(answer);
        };
    }
    QMap<QByteArray, QByteArray> env;
    QByteArray answerAfter;
    QByteArray answer;
    void run() { job.loadEmergencyImage(*hold); }
    void feed(const QByteArray& bytes) {
        for (char c : bytes)
            watcher.feed(c);
    }
};

struct StopCase {
    const char* name;
    QString receiver;
    QStringList addresses;
    QString presetOwn;
    QString fileName;
    QString refusal;
    QString lastBox;
    QStringList lastErrors;
    bool prompt = true;
    std::function<void(QByteArray&)> damage = {};
    QStringList kind = {"-A", "sh", "-T", "kernel", "-C", "gzip"};
    std::vector<bool> afterChoice = {true, true, true};
};

class EmergencyStops : public ::testing::TestWithParam<StopCase> {};

TEST_P(EmergencyStops, LogsAndShowsWhyAndSendsNothing) {
    const StopCase& c = GetParam();
    Rig rig(c.fileName, c.damage, c.kind, c.afterChoice);
    rig.view.setReceiverAddress(c.receiver);
    rig.addresses = c.addresses;
    rig.view.setOwnAddress(c.presetOwn);
    rig.server.refusal = c.refusal;
    rig.prompt = c.prompt;
    // Port 69 must be closed before the last box shows.
    QStringList callsAtLastBox;
    rig.dialogs.setOnShow([&](const FakeDialogs::Shown&) { callsAtLastBox = rig.server.calls; });
    rig.run();
    EXPECT_EQ(rig.dialogs.transcriptLines().last(), c.lastBox);
    EXPECT_EQ(rig.log.steps().mid(rig.log.steps().size() - c.lastErrors.size()), c.lastErrors);
    EXPECT_EQ(QByteArray(rig.port.transcript()).replace('\r', ""), "")
        << "only the hunt's carriage returns may reach the loader";
    if (!rig.server.calls.first().startsWith("start")) {
        EXPECT_EQ(rig.port.transcript(), "") << "not even a carriage return before the server";
    }
    if (rig.server.calls.first().startsWith("start") && c.refusal.isEmpty()) {
        EXPECT_EQ(callsAtLastBox.last(), "stop");
    }
    EXPECT_EQ(rig.server.calls.last(), "stop");
    EXPECT_FALSE(rig.job.transferOpen());
    rig.hold.reset();
    EXPECT_FALSE(rig.gate.held());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EmergencyStops,
    ::testing::Values(
        StopCase{"NoAddress",
                 "",
                 {"192.168.1.2"},
                 "",
                 "emergency.ub",
                 "",
                 "error: M6",
                 {"###### no ip address for ufs910 was given ! --> EXIT"}},
        StopCase{"AddressWithCommand",
                 "192.168.1.5;nand erase 0 800000",
                 {"192.168.1.2"},
                 "",
                 "emergency.ub",
                 "",
                 "error: M26",
                 {"###### ip address for ufs910 \"192.168.1.5;nand erase 0 800000\" is not a "
                  "valid ip address ! --> EXIT"}},
        StopCase{"NoOwnAddress",
                 "192.168.1.50",
                 {"10.0.0.1"},
                 "",
                 "emergency.ub",
                 "",
                 "message: keine eigene IP-Adresse gefunden !",
                 {"###### ip-address could not be detected ! --> EXIT"}},
        StopCase{"StaleOwnAddressNotOfThisPc",
                 "192.168.1.50",
                 {"10.0.0.1"},
                 "192.168.1.7",
                 "emergency.ub",
                 "",
                 "message: keine eigene IP-Adresse gefunden !",
                 {"###### ip-address could not be detected ! --> EXIT"}},
        StopCase{"OwnAddressOnOtherSubnet",
                 "192.168.1.50",
                 {"10.0.0.9"},
                 "10.0.0.9",
                 "emergency.ub",
                 "",
                 "message: keine Netzwerkverbindung möglich zwischen 10.0.0.9 und 192.168.1.50 !",
                 {"###### ip-address 192.168.1.50 and 10.0.0.9, network connection not possible "
                  "! --> EXIT"}},
        StopCase{"NameDiffersInCase",
                 "192.168.1.50",
                 {"192.168.1.2"},
                 "",
                 "Emergency.ub",
                 "",
                 "message: M10",
                 {"###### emergency.ub was not selected on openfile dialog ! --> EXIT"}},
        StopCase{"NoPrompt",
                 "192.168.1.50",
                 {"192.168.1.2"},
                 "",
                 "emergency.ub",
                 "",
                 "message: Prompt nicht erkannt !",
                 {"###### start point STB7100-REF> not found ! --> EXIT"},
                 false},
        StopCase{"BindRefused",
                 "192.168.1.50",
                 {"192.168.1.2"},
                 "",
                 "emergency.ub",
                 "bind 192.168.1.2:69: Permission denied (EACCES)",
                 "message: could not start TFTP-Server !\n\nbind 192.168.1.2:69: Permission "
                 "denied (EACCES)",
                 {"###### could not start TFTP-Server !",
                  "###### TFTP-Server: bind 192.168.1.2:69: Permission denied (EACCES)"}},
        StopCase{"FlippedDataByte",
                 "192.168.1.50",
                 {"192.168.1.2"},
                 "",
                 "emergency.ub",
                 "",
                 "error: M33",
                 {"###### emergency.ub has damaged data (data checksum wrong) ! --> EXIT"},
                 true,
                 [](QByteArray& b) { b[100] = char(b[100] ^ 0x20); }},
        StopCase{"ArmImageNotWanted",
                 "192.168.1.50",
                 {"192.168.1.2"},
                 "",
                 "emergency.ub",
                 "",
                 "caution: stbmate test|1234|ARM|Kernel|gzip\n\nM36",
                 {"****** RESULT : emergency.ub is a boot image: \"stbmate test\", 1234 bytes, "
                  "architecture ARM, type Kernel, compression gzip ******",
                  "###### emergency.ub is not built for the receiver (SuperH kernel or multi-file "
                  "image expected) ! --> EXIT"},
                 true,
                 {},
                 {"-A", "arm", "-T", "kernel", "-C", "gzip"},
                 {false}}),
    [](const auto& param) { return std::string(param.param.name); });

// Bytes after the image are not served, and the loader is to report the image's own size.
TEST(EmergencyTransfer, OnlyTheImagesOwnByteCountBootsAndOnlyOnce) {
    Rig rig("emergency.ub", [](QByteArray& b) { b.append(100, '\0'); });
    rig.http.setServeLocation("/home/user/", "proftpd.tar.bz2"); // the FTP job's earlier choice
    rig.run();
    ASSERT_TRUE(rig.job.transferOpen());
    rig.hold.reset(); // the menu command has returned: the job keeps the gate by itself
    EXPECT_TRUE(rig.gate.held());
    EXPECT_EQ(rig.http.servedFile(), ""); // no longer handed out
    EXPECT_EQ(rig.watcher.ImageSizeText, "1234");
    EXPECT_EQ(rig.server.calls, QStringList{"start " + rig.dir.file("emergency.ub") +
                                            " 1234 192.168.1.50 192.168.1.2"});
    EXPECT_EQ(rig.dialogs.transcriptLines().value(4),
              "confirm: stbmate test|1234|SuperH|Kernel|gzip\n\nM13");
    EXPECT_EQ(rig.port.transcript(),
              "\r\r\rsetenv ipaddr 192.168.1.50\rsetenv serverip 192.168.1.2\r"
              "printenv ipaddr\rprintenv serverip\r"
              "tftp a4000000 emergency.ub\r");
    rig.feed("Bytes transferred = 12345 (3039 hex)\rBytes transferred = 123 (7b hex)\r");
    EXPECT_TRUE(rig.job.transferOpen());
    rig.feed("Bytes transferred = 1234 (4d2 hex)\rBytes transferred = 1234 (4d2 hex)\r");
    EXPECT_EQ(rig.server.calls.count("stop"), 1);
    EXPECT_EQ(rig.port.writes.count("bootm a4000000\r"), 1);
    // Booted only once the loader verified the image and handed over to it.
    EXPECT_TRUE(rig.job.transferOpen() && rig.gate.held());
    rig.feed("Starting kernel ...\r\n   Verifying Checksum ... OK\r\nStarting kernel ...\r\n");
    EXPECT_FALSE(rig.job.transferOpen() || rig.gate.held());
    EXPECT_EQ(rig.log.steps().last(),
              "****** RESULT : emergency image verified and started (Starting kernel ...) ******");
    EXPECT_EQ(rig.port.writes.last(), "bootm a4000000\r");
}

// A failure line from the loader, or a read-back that differs, ends the job at once: port 69
// closed before the box, which quotes the loader; nothing more is typed into the loader.
TEST(EmergencyTransfer, TheLoadersFailureLinesEndTheJob) {
    struct Case {
        QByteArray after, answer, lastWrite;
        QString box;
    } const cases[] = {
        {"setenv ipaddr", "Unknown command 'setenv' - try 'help'\r\n",
         "setenv ipaddr 192.168.1.50\r",
         "Der Boot-Loader des Receivers meldet:\nUnknown command 'setenv' - try 'help'"},
        {"printenv serverip", "", "printenv serverip\r",
         "Der Boot-Loader hat serverip nicht übernommen (serverip=192.168.1.9 statt 192.168.1.2)."},
        {"tftp", "No ethernet found.\r\n", "tftp a4000000 emergency.ub\r",
         "Der Boot-Loader des Receivers meldet:\nNo ethernet found."},
        {"bootm", "   Verifying Checksum ... Bad Data CRC\r\n", "bootm a4000000\r",
         "Der Boot-Loader des Receivers meldet:\nVerifying Checksum ... Bad Data CRC"},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.answerAfter = c.after;
        rig.answer = c.answer;
        if (c.after == "printenv serverip")
            rig.env["serverip"] = "192.168.1.9"; // protected: setenv leaves it
        QStringList callsAtBox;
        rig.dialogs.setOnShow([&](const FakeDialogs::Shown&) { callsAtBox = rig.server.calls; });
        rig.run();
        if (c.after == "bootm")
            rig.feed("Bytes transferred = 1234 (4d2 hex)\r");
        rig.hold.reset();
        ASSERT_TRUE(stbtest::spinUntil([&] { return !rig.gate.held(); })) << c.after.constData();
        ASSERT_TRUE(stbtest::spinUntil([&] { return rig.dialogs.transcript().size() == 8; }));
        EXPECT_EQ(rig.dialogs.transcript().back().text, c.box);
        EXPECT_EQ(callsAtBox.value(callsAtBox.size() - 1), "stop") << c.after.constData();
        EXPECT_EQ(rig.port.writes.last(), c.lastWrite);
        EXPECT_TRUE(rig.log.steps().last().startsWith("###### boot loader "))
            << c.after.constData();
    }
}

// The silence of the transfer or of the boot, and an end from outside (the port lost, the
// program closing) all close port 69 and open the gate; a late report then boots nothing.
TEST(EmergencyTransfer, SilenceOrAnOutsideEndStopsTheServerAndOpensTheGate) {
    for (const char* how : {"transfer silent", "boot silent", "outside"}) {
        Rig rig;
        rig.run();
        rig.hold.reset();
        ASSERT_TRUE(rig.gate.held());
        if (how == std::string("outside")) {
            rig.job.endTransfer("serial port lost");
        } else {
            const bool boot = how == std::string("boot silent");
            if (boot)
                rig.feed("Bytes transferred = 1234 (4d2 hex)\r## Booting kernel\r\n");
            ASSERT_TRUE(stbtest::spinUntil([&] { return rig.dialogs.transcript().size() == 8; }));
            EXPECT_EQ(rig.dialogs.transcriptLines().last(),
                      boot
                          ? "message: Der Receiver hat innerhalb von 0 s nicht gemeldet, dass das "
                            "Image startet. Zuletzt gesehen: \"## Booting kernel\""
                          : "error: Der Receiver hat das Ende der Übertragung nicht gemeldet: seit "
                            "0 s keine Daten. Der TFTP-Server wurde beendet.");
            EXPECT_TRUE(rig.log.steps().last().startsWith(boot ? "###### no start of the image"
                                                               : "###### no end of the file"));
        }
        EXPECT_EQ(rig.server.calls.last(), "stop");
        EXPECT_FALSE(rig.job.transferOpen() || rig.gate.held()) << how;
        const int boots = int(rig.port.writes.count("bootm a4000000\r"));
        rig.feed("Bytes transferred = 1234 (4d2 hex)\r");
        EXPECT_EQ(rig.port.writes.count("bootm a4000000\r"), boots);
    }
}

} // namespace
