// The FTP server installation against real peers, each run inside a network namespace of its
// own (port 23 is fixed): busybox telnetd hands out a shell in a throw-away chroot
// that holds the start script as the address job writes it, the chroot's busybox wget fetches
// the archive from our real HTTP server, and the real telnet client, network check (echo and
// telnet probe) and tick wait are used with SettleDelay 0, so every wait is real.
//
// The receiver's download tool draws its progress bar to the terminal's width minus 48
// columns; the session has no window size (the client refuses NAWS), so busybox falls back to
// COLUMNS or 80: 29 stars at 77 columns, 32 at 80. Either counts as a finished download.
#include "log/session_log.h"
#include "net/http_server.h"
#include "net/network_check.h"
#include "net/telnet_channel.h"
#include "net/telnet_client.h"
#include "net/telnet_data_handler.h"
#include "procedures/ftp_install_procedure.h"
#include "serial/tick_wait.h"
#include "tests/net/netns.h"
#include "tests/procedures/session_log_capture.h"
#include "tests/sim/receiver_simulator.h"
#include "tests/support/fake_console.h"
#include "tests/support/fake_dialogs.h"
#include "tests/support/fake_main_view.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using stbtest::spinUntil;

const QByteArray kStartScript = "insmod /app/modules_sys/smsc911x.ko tx_dma=256 rx_dma=256\n"
                                "ifconfig eth0 127.0.0.2\n"
                                "cd /app\n"
                                "/app/start.sh\n";

bool portAnswers(const char* address, std::uint16_t port) {
    const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, address, &a.sin_addr);
    const bool up = ::connect(probe, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(probe);
    return up;
}

// Runs a program to its end; its exit status, or -1 when it could not run.
int runProgram(const QStringList& command) {
    std::vector<QByteArray> texts;
    for (const QString& part : command)
        texts.push_back(QFile::encodeName(part));
    std::vector<char*> argv;
    for (QByteArray& text : texts)
        argv.push_back(text.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawn(&pid, argv.front(), nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList successSteps() {
    return {"****** COMMAND: check network connection ******",
            "****** RESULT: network connection ok ******",
            "****** COMMAND: select file proftpd.tar.bz2 ******",
            "****** RESULT: proftpd.tar.bz2 was selected ******",
            "****** COMMAND: start http-server ******",
            "****** RESULT: http-server was started ******",
            "****** COMMAND: start telnet session ******",
            "****** RESULT: telnet session started ******",
            "****** COMMAND: download proftpd.tar.bz2 by using wget ******",
            "****** RESULT: download complete ******",
            "****** RESULT: FTP-Server successfully installed ******"};
}

// The receiver and the PC side for one run; everything is torn down in reverse order.
class Rig {
public:
    struct Receiver {
        std::optional<int> columns;  // the shell's width; none: busybox's own default
        bool bareLineFeeds = false;  // the terminal sends LF without CR (stty -onlcr)
        int fileBlocks = 0;          // the shell's file size limit (ulimit -f); 0: none
        bool withStartScript = true; // false: a receiver whose address was never set
    };

    bool start(const Receiver& receiver) {
        if (!startReceiver(receiver))
            return false;
        startPc(archive);
        return true;
    }

    // The receiver's side: the simulated receiver, the archive to serve and telnetd on port
    // 23 (so it needs root).
    bool startReceiver(const Receiver& receiver) {
        QString error;
        stbsim::ReceiverSimulator::Options options;
        options.configFiles = {{QStringLiteral("network.conf"), QByteArray("dhcp=0\n")}};
        if (receiver.withStartScript)
            options.configFiles[QStringLiteral("start.sh")] = kStartScript;
        if (!sim.start(options, &error)) {
            ADD_FAILURE() << error.toStdString();
            return false;
        }
        const QString root = sim.rootPath();
        EXPECT_TRUE(QDir(root).mkpath(QStringLiteral("ramdisk")));

        const QString busybox = nettest::RequireProgram(QStringLiteral("busybox"));
        if (busybox.isEmpty())
            return false;
        // A real bzip2'd tar holding what the script's lines unpack and start.
        const QString tree = downloads.file(QStringLiteral("tree"));
        QDir().mkpath(tree + QStringLiteral("/proftpd"));
        QFile conf(tree + QStringLiteral("/proftpd/proftpd.conf"));
        conf.open(QIODevice::WriteOnly);
        conf.write("ServerName \"receiver\"\nPort 21\n");
        conf.close();
        // Enough bytes that a download cut off halfway shows as one.
        QFile payload(tree + QStringLiteral("/proftpd/payload.bin"));
        payload.open(QIODevice::WriteOnly);
        QByteArray noise(2 * 1024 * 1024, Qt::Uninitialized);
        std::uint32_t state = 0x9E3779B9u;
        for (char& byte : noise) {
            state = state * 1664525u + 1013904223u;
            byte = static_cast<char>(state >> 24);
        }
        payload.write(noise);
        payload.close();
        archive = downloads.file(QStringLiteral("My Files/proftpd.tar.bz2"));
        QDir().mkpath(downloads.file(QStringLiteral("My Files")));
        if (runProgram({busybox, QStringLiteral("tar"), QStringLiteral("-cjf"), archive,
                        QStringLiteral("-C"), tree, QStringLiteral("proftpd")}) != 0) {
            ADD_FAILURE() << "could not build the archive";
            return false;
        }

        // No login on the receiver: telnetd hands out its shell at once.
        const QString login = downloads.file(QStringLiteral("login.sh"));
        QFile script(login);
        script.open(QIODevice::WriteOnly);
        script.write("#!/bin/sh\n");
        script.write(receiver.columns ? QByteArray("export COLUMNS=") +
                                            QByteArray::number(*receiver.columns) + "\n"
                                      : QByteArray("unset COLUMNS\n"));
        if (receiver.bareLineFeeds)
            script.write(QFile::encodeName(busybox) + " stty -onlcr\n");
        if (receiver.fileBlocks > 0)
            script.write("ulimit -f " + QByteArray::number(receiver.fileBlocks) + "\n");
        script.write("export PATH=/bin:/sbin HOME=/ PS1='/ # '\n");
        script.write("exec " + QFile::encodeName(busybox) + " chroot " + QFile::encodeName(root) +
                     " /bin/sh -i\n");
        script.close();
        QFile::setPermissions(login, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        if (!telnetd.start(busybox, {QStringLiteral("telnetd"), QStringLiteral("-F"),
                                     QStringLiteral("-K"), QStringLiteral("-p"),
                                     QStringLiteral("23"), QStringLiteral("-l"), login}))
            return false;
        if (!spinUntil([] { return portAnswers("127.0.0.1", 23); })) {
            ADD_FAILURE() << "telnetd does not listen";
            return false;
        }
        return true;
    }

    // The PC's side, which needs no privilege: the job's parts and the archive it offers.
    void startPc(const QString& archivePath) {
        for (int n = 1; n <= MessageCatalogue::kCount; ++n)
            messages.setText(n, QStringLiteral("M%1").arg(n));
        // The receiver's wget reaches us from the address we reach it at, the only one our
        // server answers.
        view.setReceiverAddress(QStringLiteral("127.0.0.1"));
        telnet.setOnDataAvailable([this](const QString& text) {
            showTelnetOutput(view, log, text);
            channel.received(text);
        });
        telnet.setSettleDelay(0);
        dialogs.answerConfirm(true);
        dialogs.answerOpenFiles({archivePath});
    }

    void run() {
        NetworkLinkParts network(view, busy, dialogs, telnet);
        FtpInstallProcedure procedure({dialogs, view, messages,
                                       [&network] { return CheckNetworkLink(network); }, telnet,
                                       channel, http, log});
        procedure.installFtpServer();
    }

    // The port the job typed into the wget line, as the receiver's shell echoed it; 0 if none.
    int wgetPort() const {
        static const QRegularExpression url(
            QStringLiteral("wget -P /data/ http://127\\.0\\.0\\.1:(\\d+)/"));
        const QRegularExpressionMatch match = url.match(view.networkLines().join('\n'));
        return match.hasMatch() ? match.captured(1).toInt() : 0;
    }

    QByteArray fetched() const {
        return readAll(sim.rootPath() + QStringLiteral("/data/proftpd.tar.bz2"));
    }

    stbtest::ScratchDir downloads;
    stbsim::ReceiverSimulator sim;
    nettest::PeerProcess telnetd;
    SessionLogCapture log;
    EventLoopTicker ticker;
    TTelnetClient telnet{ticker};
    TelnetChannel channel{telnet, ticker, {}};
    THTTPServer http;
    FakeBusyIndicator busy;
    FakeDialogs dialogs;
    FakeMainView view;
    MessageCatalogue messages;
    QString archive;
};

TEST(FtpInstallEndToEnd, InstallsTheArchiveFromOurHttpServer) {
    NET_TEST_IN_PRIVATE_NETNS();
    Rig rig;
    ASSERT_TRUE(rig.start({77}));
    rig.run();

    EXPECT_EQ(rig.dialogs.transcriptLines(),
              QStringList({"confirm: M9", "open: (*.bz2);;Alle Dateien (*)", "information: M11"}));
    EXPECT_TRUE(rig.view.networkLight());
    EXPECT_EQ(rig.view.ownAddress(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(rig.http.servePath(), rig.archive);

    // The folder's blank went out encoded and the server handed out the file unchanged.
    const QByteArray original = readAll(rig.archive);
    ASSERT_FALSE(original.isEmpty());
    EXPECT_EQ(rig.fetched(), original);

    EXPECT_EQ(rig.sim.configFile(QStringLiteral("start.sh")),
              QByteArray("insmod /app/modules_sys/smsc911x.ko tx_dma=256 rx_dma=256\n"
                         "ifconfig eth0 127.0.0.2\n"
                         "cd /ramdisk\n"
                         "tar xjf /data/proftpd.tar.bz2\n"
                         "/ramdisk/proftpd/proftpd -c /ramdisk/proftpd/proftpd.conf\n"
                         "cd /app\n"
                         "/app/start.sh\n"));
    const QStringList files = rig.sim.configListing();
    EXPECT_EQ(files, QStringList({"network.conf", "start.sh"}));
    for (const QString& name : files)
        EXPECT_EQ(rig.sim.configFileMode(name), 0777) << name.toStdString();

    const QStringList steps = rig.log.steps();
    EXPECT_EQ(steps, successSteps());
    // The finished bar reached the view whole, however TCP cut it into blocks (the log keeps
    // the blocks as they came, so it is not looked at for the bar), and the listed script
    // reached the log.
    EXPECT_FALSE(rig.view.networkLines().filter(DownloadWatch::kDoneMarker).isEmpty());
    EXPECT_TRUE(rig.channel.seen(DownloadWatch::kDoneMarker));
    const QStringList entries = rig.log.entries();
    EXPECT_TRUE(entries.contains(QStringLiteral("tar xjf /data/proftpd.tar.bz2")))
        << entries.join('\n').toStdString();

    // A port the system chose, above the privileged range, and released at the end.
    EXPECT_GE(rig.wgetPort(), 1024);
    EXPECT_FALSE(rig.http.active());
    EXPECT_FALSE(portAnswers("127.0.0.1", rig.wgetPort())) << "the HTTP server is released";
    EXPECT_FALSE(rig.telnet.Connected());
}

// A receiver whose address was never set: the job stops before the download and /config
// stays as it was.
TEST(FtpInstallEndToEnd, WithoutStartScriptTheJobStopsAndChangesNothing) {
    NET_TEST_IN_PRIVATE_NETNS();
    Rig rig;
    ASSERT_TRUE(rig.start({77, false, 0, false}));
    rig.run();

    EXPECT_EQ(rig.dialogs.transcriptLines(),
              QStringList({"confirm: M9", "open: (*.bz2);;Alle Dateien (*)", "error: M27"}));
    QStringList steps = successSteps().mid(0, 8);
    steps << "###### start.sh with an ifconfig line was not found ! --> EXIT";
    EXPECT_EQ(rig.log.steps(), steps);
    EXPECT_EQ(rig.sim.configListing(), QStringList{"network.conf"});
    EXPECT_EQ(rig.sim.configFile(QStringLiteral("network.conf")), QByteArray("dhcp=0\n"));
    EXPECT_EQ(rig.sim.configFileMode(QStringLiteral("network.conf")), 0644);
    EXPECT_TRUE(rig.fetched().isEmpty()) << "nothing was downloaded";
    EXPECT_FALSE(rig.telnet.Connected());
    EXPECT_FALSE(rig.http.active());
}

// The newer tool's 32-star bar at 80 columns, ended by a bare LF.
TEST(FtpInstallEndToEnd, EightyColumnBarEndedByABareLineFeedCompletes) {
    NET_TEST_IN_PRIVATE_NETNS();
    Rig rig;
    ASSERT_TRUE(rig.start({std::nullopt, true}));
    rig.run();

    EXPECT_EQ(rig.dialogs.transcriptLines(),
              QStringList({"confirm: M9", "open: (*.bz2);;Alle Dateien (*)", "information: M11"}));
    EXPECT_EQ(rig.fetched(), readAll(rig.archive));
    const QStringList bars = rig.view.networkLines().filter(QStringLiteral("100% |"));
    ASSERT_FALSE(bars.isEmpty()) << rig.view.networkLines().join('\n').toStdString();
    EXPECT_TRUE(bars.last().contains(QStringLiteral("proftpd.tar.bz2      100% |") +
                                     QString(32, QLatin1Char('*')) + QLatin1Char('|')))
        << bars.last().toStdString();
    EXPECT_EQ(rig.log.steps(), successSteps());
}

// The receiver's disk fills halfway through: the bar never reaches 100% and the run stops.
TEST(FtpInstallEndToEnd, DownloadCutOffHalfwayStopsTheRun) {
    NET_TEST_IN_PRIVATE_NETNS();
    Rig rig;
    ASSERT_TRUE(rig.start({77, false, 2048}));
    rig.run();

    EXPECT_EQ(rig.dialogs.transcriptLines(),
              QStringList({"confirm: M9", "open: (*.bz2);;Alle Dateien (*)", "error: M25"}));
    EXPECT_LT(rig.fetched().size(), readAll(rig.archive).size());
    EXPECT_FALSE(rig.channel.seen(DownloadWatch::kDoneMarker));
    QStringList steps = successSteps().mid(0, 9);
    steps << "###### download was not successful ! --> EXIT";
    EXPECT_EQ(rig.log.steps(), steps);
    EXPECT_EQ(rig.sim.configFile(QStringLiteral("start.sh")), kStartScript) << "vi never ran";
    EXPECT_FALSE(rig.telnet.Connected());
    EXPECT_FALSE(rig.http.active());
    EXPECT_FALSE(portAnswers("127.0.0.1", rig.wgetPort()));
}

const char kAsUserMarker[] = "STBMATE_FTP_INSTALL_AS_USER";

// The whole job as a normal user: the program side runs as nobody and holds no capability
// from its start to its end. The namespace allows ICMP sockets to every group, as Debian's
// desktop sets it up, so the probe needs nothing either.
TEST(FtpInstallAsNormalUser, InstallsTheArchive) {
    if (const char* archive = std::getenv(kAsUserMarker)) {
        EXPECT_NE(::getuid(), 0u);
        EXPECT_EQ(nettest::OwnStatusField("CapEff"), "0000000000000000");
        Rig rig;
        rig.startPc(QString::fromLocal8Bit(archive));
        rig.run();
        EXPECT_EQ(
            rig.dialogs.transcriptLines(),
            QStringList({"confirm: M9", "open: (*.bz2);;Alle Dateien (*)", "information: M11"}));
        EXPECT_EQ(rig.log.steps(), successSteps());
        EXPECT_EQ(nettest::OwnStatusField("CapEff"), "0000000000000000");
        return;
    }
    NET_TEST_IN_PRIVATE_NETNS(
        {QStringLiteral("echo 0 2147483647 >/proc/sys/net/ipv4/ping_group_range")});
    Rig rig;
    ASSERT_TRUE(rig.startReceiver({77}));
    QFile::setPermissions(rig.downloads.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                    QFile::ExeOwner | QFile::ReadOther |
                                                    QFile::ExeOther);
    nettest::RunCurrentTestAsNormalUser(kAsUserMarker, rig.archive);
    EXPECT_EQ(rig.fetched(), readAll(rig.archive));
    EXPECT_TRUE(rig.sim.configFile(QStringLiteral("start.sh"))
                    .value_or(QByteArray())
                    .contains("tar xjf /data/proftpd.tar.bz2\n"));
}

} // namespace
