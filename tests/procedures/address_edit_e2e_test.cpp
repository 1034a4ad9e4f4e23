// Changing the address in an existing short /config/start.sh with a real busybox vi: which
// line is replaced or where the new one goes, and that nothing else in the script changes.
#include "tests/procedures/receiver_rig.h"

#include <gtest/gtest.h>

namespace {

std::string text(const QStringList& lines) {
    return lines.join(u'\n').toStdString();
}

QByteArray script(const QStringList& lines) {
    return (lines.join(u'\n') + u'\n').toUtf8();
}

struct EditRun {
    QStringList before;
    QStringList after;
};

// Runs the procedure on a receiver whose /config holds start.sh = before; checks the
// outcome that does not depend on the script and returns the script's lines afterwards.
QStringList runEdit(const QStringList& before) {
    ReceiverRig rig;
    stbsim::ReceiverSimulator::Options options;
    options.configFiles[QStringLiteral("start.sh")] = script(before);
    QString error;
    EXPECT_TRUE(rig.start(options, &error)) << error.toStdString();
    if (!error.isEmpty())
        return {};

    rig.procedure.setAddress();

    EXPECT_EQ(text(rig.log.steps()), text(editRunSteps()));
    EXPECT_EQ(text(rig.dialogs.transcriptLines()), "information: M1\nmessage: M3");
    EXPECT_EQ(rig.sim.configFileMode(QStringLiteral("start.sh")), 0755);
    EXPECT_EQ(text(rig.sim.stubCalls(QStringLiteral("ifconfig"))), "eth0 192.168.1.50");
    EXPECT_EQ(text(rig.sim.configListing()), "start.sh");
    // At the next boot the script sets the new address and nothing else.
    EXPECT_EQ(text(rig.sim.runStartScript(QStringLiteral("ifconfig"))), "eth0 192.168.1.50");
    QStringList after = rig.configLines(QStringLiteral("start.sh"));
    if (!after.isEmpty() && after.last().isEmpty())
        after.removeLast();
    return after;
}

TEST(AddressEdit, IfconfigLineOnFirstScreenIsReplacedInPlace) {
    const QStringList before = {
        QStringLiteral("#!/bin/sh"),
        QStringLiteral("insmod /app/modules_sys/smsc911x.ko tx_dma=256 rx_dma=256"),
        QStringLiteral("echo configuring"),
        QStringLiteral("ifconfig eth0 10.0.0.1"),
        QStringLiteral("route add default gw 10.0.0.254"),
        QStringLiteral("cd /app"),
        QStringLiteral("/app/start.sh")};
    QStringList expected = before;
    expected[3] = QStringLiteral("ifconfig eth0 192.168.1.50");
    EXPECT_EQ(text(runEdit(before)), text(expected));
}

TEST(AddressEdit, WithoutIfconfigTheLineGoesAboveTheLastLine) {
    const QStringList before = {
        QStringLiteral("insmod /app/modules_sys/smsc911x.ko tx_dma=256 rx_dma=256"),
        QStringLiteral("cd /app"), QStringLiteral("/app/start.sh")};
    const QStringList expected = {
        QStringLiteral("insmod /app/modules_sys/smsc911x.ko tx_dma=256 rx_dma=256"),
        QStringLiteral("cd /app"), QStringLiteral("ifconfig eth0 192.168.1.50"),
        QStringLiteral("/app/start.sh")};
    EXPECT_EQ(text(runEdit(before)), text(expected));
}

} // namespace
