// Scripts longer than vi's first screen, against a real busybox vi: wherever the ifconfig
// lines stand, afterwards exactly one carries the new address, in the first one's place, and
// running the script sets that address and no other.
#include "tests/procedures/receiver_rig.h"

#include <gtest/gtest.h>

namespace {

std::string text(const QStringList& lines) {
    return lines.join(u'\n').toStdString();
}

QStringList echoLines(int count) {
    QStringList lines;
    for (int n = 1; n <= count; ++n)
        lines << QStringLiteral("echo line %1").arg(n);
    return lines;
}

TEST(AddressLongScript, EveryOldIfconfigLineGoesAndOneNewStays) {
    const QString fresh = QStringLiteral("ifconfig eth0 192.168.1.50");
    struct Case {
        const char* name;
        QStringList before;
        QStringList expected;
    };
    QStringList line58 = echoLines(61);
    line58[57] = QStringLiteral("ifconfig eth0 10.0.0.1");
    QStringList line58After = line58;
    line58After[57] = fresh;

    QStringList two = echoLines(200);
    two[4] = QStringLiteral("ifconfig eth0 10.0.0.1");
    two[149] = QStringLiteral("ifconfig eth0 10.0.0.2");
    QStringList twoAfter = two;
    twoAfter.removeAt(149);
    twoAfter[4] = fresh;

    const QStringList none = echoLines(200);
    QStringList noneAfter = none;
    noneAfter.insert(199, fresh);

    const Case cases[] = {{"line 58 of 61", line58, line58After},
                          {"two lines in 200", two, twoAfter},
                          {"none in 200", none, noneAfter}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReceiverRig rig;
        stbsim::ReceiverSimulator::Options options;
        options.configFiles[QStringLiteral("start.sh")] = (c.before.join(u'\n') + u'\n').toUtf8();
        QString error;
        ASSERT_TRUE(rig.start(options, &error)) << error.toStdString();

        rig.procedure.setAddress();

        EXPECT_EQ(text(rig.dialogs.transcriptLines()), "information: M1\nmessage: M3");
        EXPECT_EQ(text(rig.log.steps()), text(editRunSteps()));
        QStringList after = rig.configLines(QStringLiteral("start.sh"));
        if (!after.isEmpty() && after.last().isEmpty())
            after.removeLast();
        EXPECT_EQ(text(after), text(c.expected));
        EXPECT_EQ(text(rig.sim.runStartScript(QStringLiteral("ifconfig"))), "eth0 192.168.1.50");
    }
}

} // namespace
