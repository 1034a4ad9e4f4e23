// Changing the address in an existing /config/start.sh with a real busybox vi: which line is
// replaced or where the new one goes, and that nothing else in the script changes.
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

// vi on a 24-row console shows lines 1 to 23. "ifconfig" on line 30 never reaches the
// screen, so the procedure takes the "L" path: the new line lands above line 23, the last
// one shown, and the old ifconfig line stays where it was. The script then sets the
// address twice at boot and the later, old one wins. Pinned here as real vi does it.
TEST(AddressEdit, LongScriptWithIfconfigBelowTheFirstScreen) {
    QStringList before;
    for (int n = 1; n <= 40; ++n)
        before << QStringLiteral("echo line %1").arg(n);
    before[29] = QStringLiteral("ifconfig eth0 10.0.0.1");
    QStringList expected = before;
    expected.insert(22, QStringLiteral("ifconfig eth0 192.168.1.50"));
    const QStringList after = runEdit(before);
    EXPECT_EQ(text(after), text(expected));
    EXPECT_EQ(after.indexOf(QStringLiteral("ifconfig eth0 10.0.0.1")), 30);
}

// The watcher keeps at most 255 characters of a line, and vi draws its whole first screen
// without a single carriage return. Long lines ahead of the ifconfig line push it past that
// window, so it is not "seen" although it is on the screen: the "L" path again, and the old
// line stays.
TEST(AddressEdit, IfconfigOnScreenButBeyondTheWatchedLine) {
    QStringList before;
    for (int n = 1; n <= 4; ++n)
        before << QStringLiteral("# ") + QString(70, QLatin1Char('a' + n));
    before << QStringLiteral("ifconfig eth0 10.0.0.1") << QStringLiteral("cd /app")
           << QStringLiteral("/app/start.sh");
    QStringList expected = before;
    expected.insert(6, QStringLiteral("ifconfig eth0 192.168.1.50"));
    EXPECT_EQ(text(runEdit(before)), text(expected));
}

} // namespace
