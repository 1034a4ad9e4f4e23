// The procedure's orderly stops against the simulated receiver: input refused before anything
// is sent, no answer, no /config, and a script vi cannot write.
#include "tests/procedures/receiver_rig.h"

#include <QFile>

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

TEST(AddressStops, AddressThatIsNotPlainIpv4SendsNothing) {
    ReceiverRig rig;
    QString error;
    ASSERT_TRUE(rig.start({}, &error)) << error.toStdString();
    for (const QString& address : {QStringLiteral("192.168.178.44; echo INJECTED > FILE"),
                                   QStringLiteral("192.168.1784.4"), QStringLiteral("   ")}) {
        SCOPED_TRACE(address.toStdString());
        rig.dialogs.clear();
        const qsizetype before = rig.log.steps().size();
        rig.view.setReceiverAddress(address);

        rig.procedure.setAddress();

        const QStringList steps = rig.log.steps().mid(before);
        ASSERT_EQ(steps.size(), 2);
        EXPECT_TRUE(steps[1].startsWith(QLatin1String("###### ")));
        EXPECT_EQ(text(rig.dialogs.transcriptLines()), "error: M26");
    }
    EXPECT_TRUE(rig.sim.receivedFromProgram().isEmpty());
    EXPECT_TRUE(rig.busy.shownTexts.isEmpty());
    EXPECT_FALSE(QFile::exists(rig.sim.rootPath() + QStringLiteral("/config/FILE")));
    EXPECT_TRUE(rig.sim.configListing().isEmpty());
}

// vi cannot write to a read-only /config: it is left unsaved, no success is shown, and the
// shell takes commands again.
TEST(AddressStops, ReadOnlyConfigReportsFailureAndLeavesVi) {
    const QByteArray script = "insmod x\nifconfig eth0 10.0.0.1\ncd /app\n/app/start.sh\n";
    ReceiverRig rig;
    stbsim::ReceiverSimulator::Options options;
    options.configFiles[QStringLiteral("start.sh")] = script;
    options.readOnlyConfig = true;
    QString error;
    ASSERT_TRUE(rig.start(options, &error)) << error.toStdString();

    rig.procedure.setAddress();

    EXPECT_EQ(text(rig.dialogs.transcriptLines()), "information: M1\nerror: M38");
    EXPECT_EQ(text(rig.log.steps().mid(5)), "****** COMMAND: edit existing start.sh ******\n"
                                            "###### start.sh could not be written ! --> EXIT");
    EXPECT_TRUE(rig.sim.sentToProgram().contains("read only"));
    EXPECT_TRUE(rig.sim.receivedFromProgram().endsWith(":wq\r\x1b:q!\r"));
    EXPECT_EQ(rig.sim.configFile(QStringLiteral("start.sh")), script);
    EXPECT_EQ(text(rig.sim.runStartScript(QStringLiteral("ifconfig"))), "eth0 10.0.0.1");

    const qsizetype from = rig.sim.sentToProgram().size();
    rig.link.dialogue().SendConsole("echo AT''PROMPT\r");
    EXPECT_TRUE(rig.sim.waitForOutput("ATPROMPT\r\n", 2000, from));
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
