// The emergency image job as the user meets it, against a real boot loader: the real main
// window and its menu item, the port on the pty of Debian's U-Boot in QEMU, our TFTP server on
// port 69 of the tap device the board's network sits on, all in the test's own namespace.
#include "tests/net/netns.h"
#include "tests/procedures/session_log_capture.h"
#include "tests/sim/qemu_boot_loader.h"
#include "tests/support/fake_dialogs.h"
#include "tests/support/program_rig.h"
#include "tests/support/test_support.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QLabel>

#include <gtest/gtest.h>

#include <memory>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using stbtest::spinUntil;
using stbtest::widget;

// True when nothing holds UDP port 69 on the PC's address any more.
bool port69Free() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(69);
    ::inet_pton(AF_INET, "192.168.178.1", &address.sin_addr);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}

struct Board {
    const char* name;
    bool network; // else the board has no network device
};

class EmergencyUBoot : public ::testing::TestWithParam<Board> {};

TEST_P(EmergencyUBoot, Run) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root: a tap device in a network namespace of its own and port 69";
    if (::access("/dev/net/tun", R_OK | W_OK) != 0)
        GTEST_SKIP() << "this machine has no /dev/net/tun: the board's network needs a tap device";
    NET_TEST_IN_PRIVATE_NETNS({"ip tuntap add stbtap0 mode tap",
                               "ip addr add 192.168.178.1/24 dev stbtap0",
                               "ip link set stbtap0 up"});
    const Board& board = GetParam();
    stbtest::ScratchDir dir;
    QString error;
    const QString image = stbsim::MakeMarkerImage(dir.path(), &error);
    ASSERT_FALSE(image.isEmpty()) << error.toStdString();
    const QString size = QString::number(QFileInfo(image).size());
    stbsim::QemuBootLoader loader;
    ASSERT_TRUE(loader.start({board.network ? "stbtap0" : ""}, &error)) << error.toStdString();
    QFile ini(dir.file(QStringLiteral("stbmate.ini")));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[Main]\nLanguage=Deutsch\nIP=192.168.178.20\nDelay=0\nComPort=" +
              QFile::encodeName(loader.portPath()) + "\n\n[Deutsch]\n");
    ini.close();

    SessionLogCapture log;
    FakeDialogs dialogs;
    ProgramRig rig{dialogs, log};
    TForm1* form = &rig.start(dir.path());
    form->show();
    ASSERT_TRUE(spinUntil([&] { return rig.wiring().comPort().isOpen(); }, 5000));
    // No stick; the image; go on although it is not built for the receiver; the three steps.
    for (bool ok : {false, false, true})
        dialogs.answerConfirm(ok);
    dialogs.answerOpenFiles({image});
    for (int i = 0; i < 4; ++i)
        dialogs.answerConfirm(true);

    widget<QAction>(*form, "NotfallImageaufspielen1")->trigger();
    ASSERT_TRUE(spinUntil([&] { return !rig.wiring().jobRunning(); }, 90000));
    const auto ended = stbsim::QemuBootLoader::Clock::now();
    // Anything typed after the end would show up here.
    spinUntil([] { return false; }, 1500);

    const QStringList typed = loader.linesTyped();
    const QString output = QString::fromLatin1(loader.consoleOutput());
    const QString boxes = dialogs.transcriptLines().join('\n');
    ASSERT_TRUE(loader.qemuStarted()) << loader.qemuError().toStdString();
    EXPECT_TRUE(dialogs.scriptUsedUp()) << boxes.toStdString();
    EXPECT_TRUE(port69Free());
    EXPECT_TRUE(typed.contains("tftp a4000000 emergency.ub")) << typed.join('|').toStdString();
    if (board.network) {
        EXPECT_TRUE(loader.waitForOutput(stbsim::kMarker, 5000)) << output.toStdString();
        EXPECT_EQ(typed.count("bootm a4000000"), 1);
        EXPECT_EQ(typed.last(), "bootm a4000000") << "typed after bootm";
        const QString transferred = QStringLiteral("Bytes transferred = %1 (%2 hex)")
                                        .arg(size, QString::number(size.toLongLong(), 16));
        EXPECT_TRUE(log.entries().contains(transferred)) << log.entries().join('\n').toStdString();
        EXPECT_EQ(dialogs.transcript().size(), 8u)
            << "no box after the questions: " << boxes.toStdString();
        EXPECT_TRUE(log.steps().contains(
            "****** RESULT : emergency image verified and started (Starting kernel ...) ******"))
            << log.steps().join('\n').toStdString();
        EXPECT_TRUE(widget<QLabel>(*form, "TransferStatus")->text().contains("gestartet"));
    } else {
        EXPECT_FALSE(typed.contains("bootm a4000000"));
        const auto tftpTyped = loader.whenTyped("tftp a4000000 emergency.ub");
        ASSERT_TRUE(tftpTyped.has_value());
        EXPECT_LT(ended - *tftpTyped, 15s);
        EXPECT_TRUE(dialogs.transcriptLines().last().contains("No ethernet found."))
            << boxes.toStdString();
        EXPECT_TRUE(log.steps().last().contains("No ethernet found."))
            << log.steps().join('\n').toStdString();
    }
    rig.parts.reset();
}

INSTANTIATE_TEST_SUITE_P(Boards, EmergencyUBoot,
                         ::testing::Values(Board{"BootsTheImage", true},
                                           Board{"WithoutNetworkDevice", false}),
                         [](const auto& param) { return std::string(param.param.name); });

} // namespace
