// The FTP server installation against scripted seams: one event list records the network
// check, the HTTP server's and the telnet session's calls and the procedure's own waits in
// the order they happened, so each test pins the exact transcript of a path. The telnet
// output that carries the download marker goes through the real data handler and telnet channel.
#include "procedures/ftp_install_procedure.h"
#include "procedures/receiver_answers.h"

#include "log/session_log.h"
#include "net/telnet_channel.h"
#include "net/telnet_data_handler.h"
#include "tests/procedures/session_log_capture.h"
#include "tests/support/fake_console.h"
#include "tests/support/fake_dialogs.h"
#include "tests/support/fake_file_server.h"
#include "tests/support/fake_main_view.h"
#include "tests/support/fake_telnet.h"

#include <QFileInfo>

#include <gtest/gtest.h>

#include <functional>

namespace {

const QString kArchive = QStringLiteral("/home/user/Downloads/proftpd.tar.bz2");
const QString kProgress = QStringLiteral(
    "proftpd.tar.bz2      100% |*****************************|  1024  0:00:00 ETA\r\n");

// Public: the exit table's set-up steps reach into it.
class FtpInstallTest : public ::testing::Test {
public:
    FtpInstallTest() {
        for (int n = 1; n <= MessageCatalogue::kCount; ++n)
            messages.setText(n, QStringLiteral("M%1").arg(n));
        view.setReceiverAddress(QStringLiteral("192.168.0.20"));
        telnet.journal = server.journal = ticker.journal = &events;
        resetAnswers();
        // The download tool's last progress line reaches the view during the long wait.
        ticker.duringWait = [this](int ticks) {
            if (ticks == settleDelay + 150 && markerArrives)
                receive(kProgress);
        };
        dialogs.setOnShow(
            [this](const FakeDialogs::Shown&) { logAtBox << currentLog->steps().size(); });
        // The receiver answers the two grep queries; a null answer is no answer at all.
        telnet.onLine = [this](const QString& line) {
            const QString answer = line == kBeforeQuery  ? grepBefore
                                   : line == kAfterQuery ? grepAfter
                                                         : QString();
            if (!answer.isNull())
                receive(QStringLiteral("\r\n") + answer + kAnswerEnd + QStringLiteral("\r\n/ # "));
        };
    }
    // A block of telnet output, as the wiring hands it to the window and to the job's lines.
    void receive(const QString& text) {
        showTelnetOutput(view, *currentLog, text);
        channel.received(text);
    }
    void resetAnswers() {
        grepBefore = QStringLiteral("2:ifconfig eth0 192.168.0.20\r\n4\r\n");
        grepAfter =
            QStringLiteral("2:ifconfig eth0 192.168.0.20\r\n3:cd /ramdisk\r\n"
                           "4:tar xjf /data/proftpd.tar.bz2\r\n"
                           "5:/ramdisk/proftpd/proftpd -c /ramdisk/proftpd/proftpd.conf\r\n");
    }

    FtpInstallProcedure procedure() {
        return FtpInstallProcedure({dialogs, view, messages,
                                    [this] {
                                        events << QStringLiteral("check");
                                        if (!ownAddress.isEmpty())
                                            view.setOwnAddress(ownAddress);
                                        return linkUp;
                                    },
                                    telnet, channel, server, *currentLog});
    }
    void answerUpToTheFile(const QString& file = kArchive) {
        dialogs.answerConfirm(true);
        dialogs.answerOpenFiles({file});
    }
    void run() { procedure().installFtpServer(); }

    // The events of a run that reaches the telnet login, up to the connect.
    static QStringList upToConnect() {
        return {QStringLiteral("check"),
                QStringLiteral("http reset"),
                QStringLiteral("http receiver 192.168.0.20"),
                QStringLiteral("http bind 192.168.0.10"),
                QStringLiteral("http activate"),
                QStringLiteral("telnet reset"),
                QStringLiteral("host 192.168.0.20"),
                QStringLiteral("connect")};
    }
    static QStringList stepsUpToTelnet() {
        return {"****** COMMAND: check network connection ******",
                "****** RESULT: network connection ok ******",
                "****** COMMAND: select file proftpd.tar.bz2 ******",
                "****** RESULT: proftpd.tar.bz2 was selected ******",
                "****** COMMAND: start http-server ******",
                "****** RESULT: http-server was started ******",
                "****** COMMAND: start telnet session ******"};
    }

    SessionLogCapture log;
    SessionLogCapture* currentLog = &log;
    QStringList events;
    FakeTelnet telnet;
    FakeFileServer server;
    FakeTicker ticker;
    int settleDelay = 0;
    TelnetChannel channel{telnet, ticker, [this] { return settleDelay; }};
    FakeDialogs dialogs;
    FakeMainView view;
    MessageCatalogue messages;
    QList<qsizetype> logAtBox; // how many step entries were logged when each box came up
    bool linkUp = true;
    QString ownAddress = QStringLiteral("192.168.0.10");
    bool markerArrives = true;
    QString grepBefore;
    QString grepAfter;
    static inline const QString kBeforeQuery = ifconfigQuery(QStringLiteral("/config/start.sh"));
    static inline const QString kAfterQuery = ftpLinesQuery(QStringLiteral("/config/start.sh"));
};

TEST_F(FtpInstallTest, SuccessfulRunSendsEveryKeyAndWaitInOrder) {
    for (int delay : {0, 3}) {
        SCOPED_TRACE(delay);
        settleDelay = delay;
        events.clear();
        dialogs.clear();
        answerUpToTheFile();
        server.setServeLocation(QStringLiteral("X:"), QStringLiteral("/stale"));
        server.refused = {QStringLiteral("192.168.0.66")};
        run();

        const QString w15 = QStringLiteral("wait %1").arg(delay + 15);
        QStringList expected = upToConnect();
        expected
            << w15 << "line " + kBeforeQuery << "line cd /data"
            << "line wget -P /data/ http://192.168.0.10:40080/home/user/Downloads/proftpd.tar.bz2"
            << QStringLiteral("wait %1").arg(delay + 150) << "line cd /config"
            << "line vi start.sh"
            << "line /ifconfig"
            << "char 106" << w15 << "char 105" << w15 << "line cd /ramdisk"
            << "line tar xjf /data/proftpd.tar.bz2"
            << "line /ramdisk/proftpd/proftpd -c /ramdisk/proftpd/proftpd.conf"
            << "char 27" << w15 << "line :wq"
            << "line chmod 777 /config/*"
            << "line " + kAfterQuery << "line more start.sh"
            << "char 13"
            << "line exit" << w15 << "disconnect"
            << "http stop";
        EXPECT_EQ(events, expected);
        EXPECT_EQ(
            dialogs.transcriptLines(),
            QStringList({"confirm: M9", "open: (*.bz2);;Alle Dateien (*)", "information: M11"}));
        EXPECT_TRUE(dialogs.scriptUsedUp());
        EXPECT_EQ(server.drive(), QString());
        EXPECT_EQ(server.servePath(), kArchive) << "the whole path is served, no drive is cut off";
        EXPECT_EQ(view.page(), 1);
        EXPECT_TRUE(view.networkLight());
    }
    QStringList run = stepsUpToTelnet();
    run << "****** RESULT: telnet session started ******"
        << "****** COMMAND: download proftpd.tar.bz2 by using wget ******"
        << "****** RESULT: download complete ******"
        << "****** RESULT: FTP-Server successfully installed ******";
    EXPECT_EQ(log.steps(), run + run);
    // The success entry is written before the box comes up.
    EXPECT_EQ(logAtBox.last(), 2 * run.size());
    // Turned-away hosts are named once per run, after the server stopped.
    EXPECT_EQ(log.entries().filter(QStringLiteral("refused")),
              QStringList(2, QStringLiteral("http-server refused connection from 192.168.0.66")));
}

// The answers are read from the session's output as it arrives, never from the window,
// whose text the user may clear meanwhile; the hook in force before the run is back after it.
TEST_F(FtpInstallTest, ReadsAnswersFromTheSessionNotTheWindow) {
    QStringList earlier;
    channel.setLineCompleted([&](const QString& line) { earlier << line; });
    telnet.onLine = [this](const QString& line) {
        const QString answer = line == kBeforeQuery  ? grepBefore
                               : line == kAfterQuery ? grepAfter
                                                     : QString();
        if (!answer.isNull())
            channel.received(QStringLiteral("\r\n") + answer + kAnswerEnd +
                             QStringLiteral("\r\n/ # "));
    };
    answerUpToTheFile();
    run();
    EXPECT_EQ(dialogs.transcriptLines().last(), QStringLiteral("information: M11"));
    EXPECT_EQ(earlier.filter(kAnswerEnd).size(), 2) << "the hook in force saw every line too";
    earlier.clear();
    channel.received(QStringLiteral("exit\r\n"));
    EXPECT_EQ(earlier, QStringList{QStringLiteral("/ # exit")});
}

// Every early way out: its error entry, its box, and what was torn down.
TEST_F(FtpInstallTest, EveryEarlyExit) {
    struct Case {
        const char* name;
        std::function<void(FtpInstallTest&)> arrange;
        QStringList tailSteps;        // the run's last step entries, the error entry among them
        QStringList boxes;            // after the confirmation and the file dialog, when shown
        QStringList events;           // the run's complete event list
        qsizetype stepsBeforeLastBox; // -1: no box of its own
    };
    const QStringList http = {"check", "http reset", "http receiver 192.168.0.20",
                              "http bind 192.168.0.10", "http activate"};
    const QStringList atConnect = upToConnect();
    const QString exitTelnet = "###### telnet session could not be started ! --> EXIT";
    const Case cases[] = {
        {"no receiver address",
         [](FtpInstallTest& t) { t.view.setReceiverAddress(QString()); },
         {"###### no ip address for ufs910 was given ! --> EXIT"},
         {"error: M6"},
         {},
         1},
        {"network check fails",
         [](FtpInstallTest& t) { t.linkUp = false; },
         {"****** COMMAND: check network connection ******",
          "###### no network connection ! --> EXIT"},
         {"error: M8"},
         {"check"},
         2},
        {"own address unknown",
         [](FtpInstallTest& t) { t.ownAddress.clear(); },
         {"****** COMMAND: check network connection ******",
          "###### ip-address could not be detected ! --> EXIT"},
         {"message: eigene IP-Adresse konnte nicht ermittelt werden !"},
         {"check"},
         1}, // the box comes before the entry
        {"confirmation cancelled",
         [](FtpInstallTest& t) { t.dialogs.answerConfirm(false); },
         {"****** RESULT: network connection ok ******",
          "###### user selected \"cancel\" ! --> EXIT"},
         {"confirm: M9"},
         {"check"},
         2},
        {"file dialog cancelled",
         [](FtpInstallTest& t) {
             t.dialogs.answerConfirm(true);
             t.dialogs.answerOpenFiles({});
         },
         {"****** COMMAND: select file proftpd.tar.bz2 ******",
          "###### user selected \"cancel\" on openfile dialog ! --> EXIT"},
         {"confirm: M9", "open: (*.bz2);;Alle Dateien (*)"},
         {"check"},
         3},
        {"name differs in letter case",
         [](FtpInstallTest& t) {
             t.answerUpToTheFile(QStringLiteral("/home/user/ProFTPD.tar.bz2"));
         },
         {"****** COMMAND: select file proftpd.tar.bz2 ******",
          "###### proftpd.tar.bz2 was not selected on openfile dialog ! --> EXIT"},
         {"confirm: M9", "open: (*.bz2);;Alle Dateien (*)", "message: M10"},
         {"check"},
         4},
        {"another archive",
         [](FtpInstallTest& t) {
             t.answerUpToTheFile(QStringLiteral("/home/user/proftpd.tar.bz2.part"));
         },
         {"****** COMMAND: select file proftpd.tar.bz2 ******",
          "###### proftpd.tar.bz2 was not selected on openfile dialog ! --> EXIT"},
         {"confirm: M9", "open: (*.bz2);;Alle Dateien (*)", "message: M10"},
         {"check"},
         4},
        {"port taken",
         [](FtpInstallTest& t) {
             t.answerUpToTheFile();
             t.server.refuse = true;
         },
         {"****** COMMAND: start http-server ******",
          "###### http-server could not be started ! --> EXIT"},
         {"confirm: M9", "open: (*.bz2);;Alle Dateien (*)",
          "message: Http-Server konnte nicht gestartet werden"},
         http,
         6},
        {"telnet refused",
         [](FtpInstallTest& t) {
             t.answerUpToTheFile();
             t.telnet.refuse = true;
         },
         {"****** COMMAND: start telnet session ******", exitTelnet},
         {"confirm: M9", "open: (*.bz2);;Alle Dateien (*)", "message: M15"},
         atConnect + QStringList{"http stop"},
         8},
        {"session not open after the connect",
         [](FtpInstallTest& t) {
             t.answerUpToTheFile();
             t.telnet.stayOpen = false;
         },
         {"****** RESULT: http-server was started ******",
          "****** COMMAND: start telnet session ******"},
         {"confirm: M9", "open: (*.bz2);;Alle Dateien (*)", "error: M15"},
         atConnect + QStringList{"http stop"},
         7},
        {"no download marker",
         [](FtpInstallTest& t) {
             t.answerUpToTheFile();
             t.markerArrives = false;
         },
         {"****** COMMAND: download proftpd.tar.bz2 by using wget ******",
          "###### download was not successful ! --> EXIT"},
         {"confirm: M9", "open: (*.bz2);;Alle Dateien (*)", "error: M25"},
         atConnect + QStringList{"wait 15", "line " + kBeforeQuery, "line cd /data",
                                 "line wget -P /data/ "
                                 "http://192.168.0.10:40080/home/user/Downloads/proftpd.tar.bz2",
                                 "wait 150", "disconnect", "http stop"},
         10},
        {"session lost inside vi",
         [](FtpInstallTest& t) {
             t.answerUpToTheFile();
             t.telnet.failOn = QStringLiteral("cd /ramdisk");
         },
         {"****** RESULT: download complete ******", exitTelnet},
         {"confirm: M9", "open: (*.bz2);;Alle Dateien (*)", "message: M15"},
         atConnect + QStringList{"wait 15", "line " + kBeforeQuery, "line cd /data",
                                 "line wget -P /data/ "
                                 "http://192.168.0.10:40080/home/user/Downloads/proftpd.tar.bz2",
                                 "wait 150", "line cd /config", "line vi start.sh",
                                 "line /ifconfig", "char 106", "wait 15", "char 105", "wait 15",
                                 "http stop"},
         11},
        {"receiver address not plain IPv4",
         [](FtpInstallTest& t) { t.view.setReceiverAddress(QStringLiteral("192.168.0.20;id")); },
         {"###### ip address for ufs910 \"192.168.0.20;id\" is not a valid ip address ! --> EXIT"},
         {"error: M26"},
         {},
         1},
        {"own address not plain IPv4",
         [](FtpInstallTest& t) { t.ownAddress = QStringLiteral("192.168.0.10:81"); },
         {"****** COMMAND: check network connection ******",
          "###### own ip address \"192.168.0.10:81\" is not a valid ip address ! --> EXIT"},
         {"error: M26"},
         {"check"},
         2},
        {"no start.sh with an ifconfig line",
         [](FtpInstallTest& t) {
             t.answerUpToTheFile();
             t.grepBefore = QStringLiteral("grep: /config/start.sh: No such file or directory\r\n"
                                           "grep: /config/start.sh: No such file or directory\r\n");
         },
         {"****** RESULT: telnet session started ******",
          "###### start.sh with an ifconfig line was not found ! --> EXIT"},
         {"confirm: M9", "open: (*.bz2);;Alle Dateien (*)", "error: M27"},
         atConnect + QStringList{"wait 15", "line " + kBeforeQuery, "disconnect", "http stop"},
         9},
        {"lines not in the script after vi",
         [](FtpInstallTest& t) {
             t.answerUpToTheFile();
             t.grepAfter = QStringLiteral("2:ifconfig eth0 192.168.0.20\r\n");
         },
         {"****** RESULT: download complete ******",
          "###### start.sh does not hold the ftp server lines ! --> EXIT"},
         {"confirm: M9", "open: (*.bz2);;Alle Dateien (*)", "error: M28"},
         atConnect + QStringList{"wait 15",
                                 "line " + kBeforeQuery,
                                 "line cd /data",
                                 "line wget -P /data/ "
                                 "http://192.168.0.10:40080/home/user/Downloads/proftpd.tar.bz2",
                                 "wait 150",
                                 "line cd /config",
                                 "line vi start.sh",
                                 "line /ifconfig",
                                 "char 106",
                                 "wait 15",
                                 "char 105",
                                 "wait 15",
                                 "line cd /ramdisk",
                                 "line tar xjf /data/proftpd.tar.bz2",
                                 "line /ramdisk/proftpd/proftpd -c /ramdisk/proftpd/proftpd.conf",
                                 "char 27",
                                 "wait 15",
                                 "line :wq",
                                 "line chmod 777 /config/*",
                                 "line " + kAfterQuery,
                                 "disconnect",
                                 "http stop"},
         11},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        resetAnswers();
        SessionLogCapture runLog; // a fresh log for each case
        currentLog = &runLog;
        FtpInstallTest& t = *this;
        t.events.clear();
        t.dialogs.clear();
        t.logAtBox.clear();
        t.view = FakeMainView();
        t.view.setReceiverAddress(QStringLiteral("192.168.0.20"));
        t.linkUp = true;
        t.ownAddress = QStringLiteral("192.168.0.10");
        t.markerArrives = true;
        t.server.refuse = false;
        t.telnet.refuse = false;
        t.telnet.stayOpen = true;
        t.telnet.failOn.clear();
        server.setServeLocation(QString(), QStringLiteral("/left/over"));
        c.arrange(t);
        run();

        const QStringList steps = runLog.steps();
        ASSERT_GE(steps.size(), c.tailSteps.size()) << steps.join('\n').toStdString();
        EXPECT_EQ(steps.mid(steps.size() - c.tailSteps.size()), c.tailSteps)
            << steps.join('\n').toStdString();
        EXPECT_EQ(steps.filter(QStringLiteral("######")).size(),
                  c.tailSteps.filter(QStringLiteral("######")).size())
            << "one error entry per exit";
        EXPECT_EQ(dialogs.transcriptLines(), c.boxes);
        EXPECT_EQ(events, c.events);
        ASSERT_FALSE(logAtBox.isEmpty());
        EXPECT_EQ(logAtBox.last(), c.stepsBeforeLastBox) << "box and log entry out of order";
        // Every run that got past the address check starts with nothing to serve.
        const bool served = events.contains(QStringLiteral("http activate")) && !server.refuse;
        if (!events.contains(QStringLiteral("check")))
            EXPECT_EQ(server.servePath(), QStringLiteral("/left/over"));
        else
            EXPECT_EQ(server.servePath(), served ? kArchive : QString());
        EXPECT_EQ(events.count(QStringLiteral("http stop")), served ? 1 : 0)
            << "the server is released exactly when it was started";
        // The check's verdict stays on the lamp, also when the run stops.
        EXPECT_EQ(view.networkLight(), events.contains("check") && linkUp);
        currentLog = &log;
    }
}

// Where each way out of the telnet dialogue puts its box among the teardown: the user reads
// the box while the session is still open, and the HTTP server goes last on every path.
TEST_F(FtpInstallTest, TelnetExitsShowTheirBoxBeforeTheTeardown) {
    struct Case {
        const char* name;
        std::function<void(FtpInstallTest&)> arrange;
        QStringList tail;
    };
    const Case cases[] = {
        {"success",
         [](FtpInstallTest&) {},
         {"wait 15", "box information: M11", "disconnect", "http stop"}},
        {"no download marker",
         [](FtpInstallTest& t) { t.markerArrives = false; },
         {"wait 150", "box error: M25", "disconnect", "http stop"}},
        {"session not open after the connect",
         [](FtpInstallTest& t) { t.telnet.stayOpen = false; },
         {"connect", "box error: M15", "http stop"}},
        {"session lost at the pager",
         [](FtpInstallTest& t) { t.telnet.failOn = QStringLiteral("\r"); },
         {"line more start.sh", "box message: M15", "http stop"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        events.clear();
        dialogs.clear();
        markerArrives = true;
        resetAnswers();
        telnet.stayOpen = true;
        telnet.failOn.clear();
        dialogs.setOnShow([this](const FakeDialogs::Shown&) {
            events << QStringLiteral("box ") + dialogs.transcriptLines().last();
        });
        answerUpToTheFile();
        c.arrange(*this);
        run();
        ASSERT_GE(events.size(), c.tail.size()) << events.join('\n').toStdString();
        EXPECT_EQ(events.mid(events.size() - c.tail.size()), c.tail)
            << events.join('\n').toStdString();
    }
}

TEST_F(FtpInstallTest, SecondRunAfterAFailureStartsAfresh) {
    answerUpToTheFile();
    telnet.failOn = QStringLiteral(":wq");
    run();
    ASSERT_EQ(dialogs.transcriptLines().last(), QStringLiteral("message: M15"));
    ASSERT_TRUE(channel.seen(DownloadWatch::kDoneMarker)) << "the first run saw the marker";

    // The marker seen by the first run must not count for the second.
    events.clear();
    dialogs.clear();
    telnet.failOn.clear();
    markerArrives = false;
    answerUpToTheFile();
    run();
    EXPECT_EQ(dialogs.transcriptLines().last(), QStringLiteral("error: M25"));
    EXPECT_EQ(events.mid(0, upToConnect().size()), upToConnect()) << "telnet and HTTP reset again";
    EXPECT_EQ(events.last(), QStringLiteral("http stop"));
}

TEST(FtpInstallUrl, PathReachesWgetAsOneSafeWord) {
    const QString own = QStringLiteral("192.168.0.10");
    EXPECT_EQ(wgetCommandLine(own, 40080, QStringLiteral("/home/u/Downloads/proftpd.tar.bz2")),
              QStringLiteral(
                  "wget -P /data/ http://192.168.0.10:40080/home/u/Downloads/proftpd.tar.bz2"));
    // A blank would split the command; shell characters would run on the receiver.
    EXPECT_EQ(urlPathFor(QStringLiteral("/home/u/My Files/proftpd.tar.bz2")),
              QStringLiteral("/home/u/My%20Files/proftpd.tar.bz2"));
    EXPECT_EQ(urlPathFor(QStringLiteral("/tmp/a;reboot;$(rm x)`y`'\"/proftpd.tar.bz2")),
              QStringLiteral("/tmp/a%3Breboot%3B%24%28rm%20x%29%60y%60%27%22/proftpd.tar.bz2"));
    EXPECT_EQ(urlPathFor(QStringLiteral("/home/jürgen/proftpd.tar.bz2")),
              QStringLiteral("/home/j%C3%BCrgen/proftpd.tar.bz2"));
    EXPECT_EQ(urlPathFor(QStringLiteral("/a-b_c.d~e/100%/proftpd.tar.bz2")),
              QStringLiteral("/a-b_c.d~e/100%25/proftpd.tar.bz2"));
    // The file name is always the archive's, so wget stores it under that name.
    const QString line = wgetCommandLine(own, 40080, QStringLiteral("/x y/proftpd.tar.bz2"));
    EXPECT_TRUE(line.endsWith(QStringLiteral("/proftpd.tar.bz2")));
    EXPECT_EQ(line.count(QLatin1Char(' ')), 3);
}

TEST_F(FtpInstallTest, FolderWithBlanksIsServedAndFetchedWhole) {
    answerUpToTheFile(QStringLiteral("/home/user/My Files/proftpd.tar.bz2"));
    run();
    EXPECT_EQ(server.servePath(), QStringLiteral("/home/user/My Files/proftpd.tar.bz2"));
    EXPECT_TRUE(events.contains(QStringLiteral(
        "line wget -P /data/ http://192.168.0.10:40080/home/user/My%20Files/proftpd.tar.bz2")));
    EXPECT_EQ(dialogs.transcriptLines().last(), QStringLiteral("information: M11"));
}

} // namespace
