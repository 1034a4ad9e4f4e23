// The hidden delete command on the port label, against the simulated receiver.
#include "tests/procedures/receiver_rig.h"

#include <gtest/gtest.h>

namespace {

TEST(AddressDelete, CancelSendsNothingAndOkRemovesTheScript) {
    ReceiverRig rig;
    stbsim::ReceiverSimulator::Options options;
    options.configFiles[QStringLiteral("start.sh")] = "ifconfig eth0 10.0.0.1\n";
    options.configFiles[QStringLiteral("old_start.sh.bak")] = "ifconfig eth0 10.0.0.2\n";
    // Starting elsewhere shows that the command changes to /config itself.
    options.startDir = QStringLiteral("/data");
    QString error;
    ASSERT_TRUE(rig.start(options, &error)) << error.toStdString();
    rig.view.showPage(1);

    rig.dialogs.answerConfirm(false);
    rig.procedure.deleteStartScript();
    EXPECT_TRUE(rig.sim.receivedFromProgram().isEmpty());
    EXPECT_EQ(rig.view.page(), 1);
    EXPECT_TRUE(rig.sim.configFile(QStringLiteral("start.sh")).has_value());

    rig.dialogs.answerConfirm(true);
    rig.procedure.deleteStartScript();
    EXPECT_EQ(rig.sim.receivedFromProgram(), QByteArray("\x03"
                                                        "cd /config\rrm start.sh\rls\r"));
    EXPECT_EQ(rig.view.page(), 0);
    EXPECT_EQ(rig.sim.configListing(), QStringList{QStringLiteral("old_start.sh.bak")});
    // The question defaults to "Abbrechen"; the listing read back is reported.
    EXPECT_EQ(rig.dialogs.transcriptLines(),
              QStringList({QStringLiteral("caution: delet start.sh ?"),
                           QStringLiteral("caution: delet start.sh ?"),
                           QStringLiteral("message: ") +
                               rig.messages.text(MessageId::StartScriptDeleted)}));
    EXPECT_EQ(rig.log.steps().last(), QStringLiteral("****** RESULT: start.sh deleted ******"));
}

// No "/config #" prompt: rm would act in whatever folder the shell is in, so it is not sent.
TEST(AddressDelete, WithoutTheConfigPromptNothingIsRemoved) {
    ReceiverRig rig;
    stbsim::ReceiverSimulator::Options options;
    options.withConfigDir = false;
    options.startDir = QStringLiteral("/data");
    QString error;
    ASSERT_TRUE(rig.start(options, &error)) << error.toStdString();
    rig.dialogs.answerConfirm(true);
    rig.procedure.deleteStartScript();
    EXPECT_FALSE(rig.sim.receivedFromProgram().contains("rm "));
    EXPECT_EQ(rig.dialogs.transcriptLines().last(),
              QStringLiteral("error: ") + rig.messages.text(MessageId::NoSerialConnection));
}

} // namespace
