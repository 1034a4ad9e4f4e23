// The procedure's orderly stops, and the one input that looks like a stop but is not
// (blanks), against the simulated receiver.
#include "tests/procedures/receiver_rig.h"

#include <gtest/gtest.h>

namespace {

std::string text(const QStringList& lines) {
    return lines.join(u'\n').toStdString();
}

TEST(AddressStops, EmptyAddressSendsNothing) {
    ReceiverRig rig;
    QString error;
    ASSERT_TRUE(rig.start({}, &error)) << error.toStdString();
    rig.view.setReceiverAddress(QString());

    rig.procedure.setAddress();

    EXPECT_EQ(text(rig.log.steps()), "****** COMMAND: set ip address ******\n"
                                     "###### no ip address for ufs910 was given ! --> EXIT");
    EXPECT_EQ(text(rig.dialogs.transcriptLines()), "error: M6");
    EXPECT_TRUE(rig.busy.shownTexts.isEmpty());
    EXPECT_TRUE(rig.sim.receivedFromProgram().isEmpty());
    EXPECT_FALSE(rig.sim.configFile(QStringLiteral("start.sh")).has_value());
}

TEST(AddressStops, BlanksAreAnAddress) {
    ReceiverRig rig;
    QString error;
    ASSERT_TRUE(rig.start({}, &error)) << error.toStdString();
    rig.view.setReceiverAddress(QStringLiteral("   "));

    rig.procedure.setAddress();

    EXPECT_TRUE(rig.sim.receivedFromProgram().contains("ifconfig eth0    \r"));
    // The shell drops the trailing blanks: ifconfig got the interface name alone.
    EXPECT_EQ(text(rig.sim.stubCalls(QStringLiteral("ifconfig"))), "eth0");
    EXPECT_EQ(text(rig.log.steps()), text(createRunSteps()));
    EXPECT_EQ(text(rig.dialogs.transcriptLines()), "information: M1\nmessage: M3");
    const QStringList script = rig.configLines(QStringLiteral("start.sh"));
    ASSERT_GE(script.size(), 2);
    EXPECT_EQ(script[1].toStdString(), "ifconfig eth0    ");
}

TEST(AddressStops, SilentLine) {
    ReceiverRig rig;
    stbsim::ReceiverSimulator::Options options;
    options.withShell = false;
    QString error;
    ASSERT_TRUE(rig.start(options, &error)) << error.toStdString();
    rig.view.setSerialLight(true);

    rig.procedure.setAddress();

    EXPECT_EQ(text(rig.log.steps()), "****** COMMAND: set ip address ******\n"
                                     "****** COMMAND: check serial connection ******\n"
                                     "###### no serial connection ! --> EXIT");
    EXPECT_EQ(text(rig.dialogs.transcriptLines()), "information: M1\nerror: M2");
    EXPECT_FALSE(rig.view.serialLight());
    EXPECT_EQ(rig.busy.shownTexts,
              QList<QString>{QStringLiteral("Serielle Verbindung wird geprüft")});
    EXPECT_FALSE(rig.busy.visible);
    EXPECT_EQ(rig.sim.receivedFromProgram(), QByteArray("\x03"
                                                        "echo hello\r"));
}

TEST(AddressStops, ShellCannotChangeToConfig) {
    ReceiverRig rig;
    stbsim::ReceiverSimulator::Options options;
    options.withConfigDir = false;
    options.startDir = QStringLiteral("/data");
    QString error;
    ASSERT_TRUE(rig.start(options, &error)) << error.toStdString();

    rig.procedure.setAddress();

    EXPECT_EQ(text(rig.log.steps()),
              "****** COMMAND: set ip address ******\n"
              "****** COMMAND: check serial connection ******\n"
              "****** RESULT: serial connection ok ******\n"
              "****** COMMAND: STRG C ******\n"
              "###### \"/config #\" was expected at prompt but not found ! --> EXIT");
    EXPECT_EQ(text(rig.dialogs.transcriptLines()), "information: M1\nerror: M2");
    EXPECT_TRUE(rig.view.serialLight());
    // The running system was still told the address before the prompt check failed.
    EXPECT_EQ(text(rig.sim.stubCalls(QStringLiteral("ifconfig"))), "eth0 192.168.1.50");
    EXPECT_TRUE(rig.sim.receivedFromProgram().endsWith("cd /config\r"));
}

} // namespace
