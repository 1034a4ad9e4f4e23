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
                                                        "cd /config\rrm start.sh\r"));
    EXPECT_EQ(rig.view.page(), 0);
    EXPECT_EQ(rig.sim.configListing(), QStringList{QStringLiteral("old_start.sh.bak")});
    EXPECT_EQ(rig.dialogs.transcriptLines(),
              QStringList({QStringLiteral("confirm: delet start.sh ?"),
                           QStringLiteral("confirm: delet start.sh ?")}));
    EXPECT_TRUE(rig.log.steps().isEmpty());
}

} // namespace
