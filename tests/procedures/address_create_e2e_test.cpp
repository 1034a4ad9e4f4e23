// Creating /config/start.sh on a real busybox shell and vi: what ends up on the receiver,
// what the running system was told, what the user saw and what the log holds.
#include "tests/procedures/receiver_rig.h"

#include <gtest/gtest.h>

namespace {

std::string text(const QStringList& lines) {
    return lines.join(u'\n').toStdString();
}

// vi starts a new file with one empty line; the Enter after the last typed line leaves a
// second, empty line behind it, which :wq writes too.
const QStringList kCreatedScript = {
    QStringLiteral("insmod /app/modules_sys/smsc911x.ko tx_dma=256 rx_dma=256"),
    QStringLiteral("ifconfig eth0 192.168.1.50"),
    QStringLiteral("cd /app"),
    QStringLiteral("/app/start.sh"),
    QString(),
    QString()};

TEST(AddressCreate, NoScriptYet) {
    ReceiverRig rig;
    QString error;
    ASSERT_TRUE(rig.start({}, &error)) << error.toStdString();
    rig.view.showPage(1);

    rig.procedure.setAddress();

    EXPECT_EQ(text(rig.configLines(QStringLiteral("start.sh"))), text(kCreatedScript));
    EXPECT_EQ(rig.sim.configFileMode(QStringLiteral("start.sh")), 0755);
    EXPECT_EQ(text(rig.sim.stubCalls(QStringLiteral("ifconfig"))), "eth0 192.168.1.50");
    EXPECT_TRUE(rig.sim.stubCalls(QStringLiteral("insmod")).isEmpty());
    EXPECT_EQ(text(rig.dialogs.transcriptLines()), "information: M1\nmessage: M3");
    EXPECT_TRUE(rig.view.serialLight());
    EXPECT_EQ(rig.view.page(), 0);
    EXPECT_EQ(text(rig.log.steps()), text(createRunSteps()));
    // "more start.sh" put the new script on the console, and the watcher logged its lines.
    const QStringList entries = rig.log.entries();
    const qsizetype more = entries.indexOf(QStringLiteral("/config # more start.sh"));
    ASSERT_GE(more, 0) << text(entries);
    EXPECT_EQ(text(entries.mid(more + 1, 4)), text(kCreatedScript.mid(0, 4)));
}

TEST(AddressCreate, OnlyABackupWithSimilarName) {
    ReceiverRig rig;
    stbsim::ReceiverSimulator::Options options;
    options.configFiles[QStringLiteral("old_start.sh.bak")] = "ifconfig eth0 10.0.0.1\n";
    QString error;
    ASSERT_TRUE(rig.start(options, &error)) << error.toStdString();

    rig.procedure.setAddress();

    // A complete script, not one holding just the ifconfig line: the receiver must still
    // load its network driver and run its own start-up.
    EXPECT_EQ(text(rig.configLines(QStringLiteral("start.sh"))), text(kCreatedScript));
    EXPECT_EQ(rig.sim.configFileMode(QStringLiteral("start.sh")), 0755);
    EXPECT_EQ(rig.sim.configFile(QStringLiteral("old_start.sh.bak")),
              QByteArray("ifconfig eth0 10.0.0.1\n"));
    EXPECT_EQ(text(rig.log.steps()), text(createRunSteps()));
    EXPECT_EQ(text(rig.dialogs.transcriptLines()), "information: M1\nmessage: M3");
}

} // namespace
