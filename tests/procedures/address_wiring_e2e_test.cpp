// The address command as the user meets it: the real main window, its port opened on the
// simulated receiver from stbmate.ini, the menu item and the right-click on the port label.
#include "app/status_light.h"
#include "log/session_log.h"
#include "serial/com_port.h"
#include "tests/sim/receiver_simulator.h"
#include "tests/support/fake_dialogs.h"
#include "tests/support/program_rig.h"
#include "tests/support/test_support.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

using stbtest::spinUntil;
using stbtest::widget;

// The window on the simulated receiver, its port opened from stbmate.ini.
class AddressWiring : public ::testing::Test {
protected:
    void SetUp() override {
        QString error;
        ASSERT_TRUE(sim.start({}, &error)) << error.toStdString();
        QFile ini(dir.file(QStringLiteral("stbmate.ini")));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write("[Main]\nLanguage=Deutsch\nIP=192.168.1.77\nDelay=0\nComPort=" +
                  QFile::encodeName(sim.portPath()) +
                  "\n\n[Deutsch]\nMsg1=Receiver einschalten\nMsg3=Fertig\nMsg40=Bitte warten\n");
        ini.close();
        form = &rig.start(dir.path());
        form->show();
        ASSERT_TRUE(spinUntil([&] { return rig.wiring().comPort().isOpen(); }, 5000));
    }

    // start.sh as one run of the address job writes it.
    void expectScriptWrittenOnce() {
        const std::optional<QByteArray> script = sim.configFile(QStringLiteral("start.sh"));
        ASSERT_TRUE(script.has_value());
        EXPECT_TRUE(script->startsWith("insmod /app/modules_sys/smsc911x.ko tx_dma=256 "
                                       "rx_dma=256\nifconfig eth0 192.168.1.77\ncd /app\n"
                                       "/app/start.sh\n"))
            << script->toStdString();
        EXPECT_EQ(sim.stubCalls(QStringLiteral("ifconfig")), QStringList{"eth0 192.168.1.77"});
    }

    stbsim::ReceiverSimulator sim;
    stbtest::ScratchDir dir;
    SessionLog log{dir.path()};
    FakeDialogs dialogs;
    ProgramRig rig{dialogs, log};
    TForm1* form = nullptr;
};

TEST_F(AddressWiring, MenuCommandCreatesTheScriptAndPortLabelDeletesIt) {
    widget<QAction>(*form, "IPAdressesetzenndern1")->trigger();

    EXPECT_EQ(dialogs.transcriptLines(),
              QStringList({QStringLiteral("information: Receiver einschalten"),
                           QStringLiteral("message: Fertig")}));
    EXPECT_TRUE(widget<TStatusLight>(*form, "StatusLight1")->Lit());
    expectScriptWrittenOnce();

    dialogs.clear();
    dialogs.answerConfirm(true);
    QContextMenuEvent rightClick(QContextMenuEvent::Mouse, QPoint(2, 2),
                                 widget<QLabel>(*form, "Label3")->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(widget<QLabel>(*form, "Label3"), &rightClick);
    EXPECT_EQ(dialogs.transcriptLines().first(), QStringLiteral("caution: delet start.sh ?"));
    EXPECT_FALSE(sim.configFile(QStringLiteral("start.sh")).has_value());
}

// The check button pressed 3.8 s into the address job (a click queued before the window
// locked reaches its handler), the menu command once more and a close: the first two are
// refused, the close waits, and the script comes out as one job wrote it.
TEST_F(AddressWiring, SecondActionDuringTheJobIsRefusedAndTheCloseWaits) {
    QElapsedTimer sinceStart;
    bool interfered = false;
    bool visibleAfterClose = false;
    QTimer poke;
    poke.setInterval(50);
    QObject::connect(&poke, &QTimer::timeout, [&] {
        if (interfered || !rig.wiring().jobRunning() || sinceStart.elapsed() < 3800)
            return;
        interfered = true;
        form->Button2Click();
        emit widget<QAction>(*form, "IPAdressesetzenndern1")->triggered();
        form->close();
        visibleAfterClose = form->isVisible();
    });
    sinceStart.start();
    poke.start();
    widget<QAction>(*form, "IPAdressesetzenndern1")->trigger();
    poke.stop();

    ASSERT_TRUE(interfered) << "the job ended before 3.8 s";
    EXPECT_TRUE(visibleAfterClose);
    EXPECT_EQ(dialogs.transcriptLines(),
              QStringList({QStringLiteral("information: Receiver einschalten"),
                           QStringLiteral("information: Bitte warten"),
                           QStringLiteral("information: Bitte warten"),
                           QStringLiteral("message: Fertig")}));
    expectScriptWrittenOnce();
    EXPECT_TRUE(spinUntil([&] { return !form->isVisible(); }, 2000));
}

} // namespace
