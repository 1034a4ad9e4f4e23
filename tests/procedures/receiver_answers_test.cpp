// The pure checks the receiver jobs rely on: which addresses may be typed at the receiver,
// how a grep answer is read, which vi keys edit the ifconfig lines, and when a script counts
// as written; which boot loader lines end the emergency job and when it counts as booted.
#include "procedures/loader_answers.h"
#include "procedures/receiver_answers.h"

#include <gtest/gtest.h>

namespace {

TEST(plainAddress, OnlyDottedIpv4) {
    const struct {
        const char* text;
        const char* address; // nullptr: refused
    } cases[] = {
        {"192.168.178.44", "192.168.178.44"},
        {"  10.0.0.1\t", "10.0.0.1"},
        {"0.0.0.0", "0.0.0.0"},
        {"255.255.255.255", "255.255.255.255"},
        {"", nullptr},
        {"   ", nullptr},
        {"192.168.1784.4", nullptr},
        {"192.168.178.256", nullptr},
        {"192.168.178", nullptr},
        {"1.2.3.4.5", nullptr},
        {"1..3.4", nullptr},
        {"1.2.3.4.", nullptr},
        {"010.0.0.1", nullptr},
        {"1.2.3.-4", nullptr},
        {"1.2.3.+4", nullptr},
        {"1.2.3.4 5", nullptr},
        {"192.168.178.44; echo INJECTED > FILE", nullptr},
        {"1.2.3.4\n", "1.2.3.4"},
        {"１.2.3.4", nullptr},
    };
    for (const auto& c : cases) {
        const std::optional<QString> got = plainAddress(QString::fromUtf8(c.text));
        if (c.address)
            EXPECT_EQ(got, QString::fromLatin1(c.address)) << c.text;
        else
            EXPECT_FALSE(got.has_value()) << c.text;
    }
}

TEST(parseScriptAnswer, EndsOnlyAtTheMarkerOfEchoNotOfTheEchoedCommand) {
    const QString command = QStringLiteral("/config # ") + ifconfigQuery("start.sh");
    EXPECT_FALSE(parseScriptAnswer({command, QStringLiteral("2:ifconfig eth0 1.2.3.4")}));
    const std::optional<ScriptAnswer> answer = parseScriptAnswer(
        {command, QStringLiteral("2:ifconfig eth0 1.2.3.4"), QStringLiteral("17:  ifconfig lo up "),
         QStringLiteral("61"), kAnswerEnd, QStringLiteral("/config # ")});
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->lines,
              (QList<NumberedLine>{{2, "ifconfig eth0 1.2.3.4"}, {17, "  ifconfig lo up"}}));
    EXPECT_EQ(answer->lineCount, 61);
    EXPECT_FALSE(command.contains(kAnswerEnd));
}

TEST(ifconfigEditKeys, ShortPathOnlyWhereItIsRight) {
    const QByteArray line = "ifconfig eth0 1.2.3.4\r";
    const QByteArray esc = "\x1b";
    const struct {
        const char* name;
        ScriptAnswer before;
        QList<QByteArray> keys;
    } cases[] = {
        {"one line inside",
         {{{2, "ifconfig eth0 9.9.9.9"}}, 4},
         {"/ifconfig\r", "dd", "i", line, esc}},
        {"one line last", {{{2, "ifconfig eth0 9.9.9.9"}}, 2}, {"2G", "i", line, esc, "3G", "dd"}},
        {"none", {{}, 3}, {"G", "i", line, esc}},
        {"only lo", {{{1, "ifconfig lo up"}}, 3}, {"G", "i", line, esc}},
        {"lo before eth0",
         {{{1, "ifconfig lo up"}, {5, "ifconfig eth0 9.9.9.9"}}, 9},
         {"5G", "i", line, esc, "6G", "dd"}},
        {"two eth0",
         {{{5, "ifconfig eth0 1.1.1.1"}, {150, "ifconfig eth0 2.2.2.2"}}, 200},
         {"5G", "i", line, esc, "151G", "dd", "6G", "dd"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ifconfigEditKeys(c.before, line), c.keys) << c.name;
}

TEST(ScriptChecks, WrittenOnlyWithTheWantedLines) {
    const QString a = QStringLiteral("1.2.3.4");
    EXPECT_TRUE(holdsOnlyAddress({{{2, "ifconfig eth0 1.2.3.4"}, {3, "ifconfig lo up"}}, 4}, a));
    EXPECT_FALSE(
        holdsOnlyAddress({{{2, "ifconfig eth0 1.2.3.4"}, {9, "ifconfig eth0 1.2.3.4"}}, 9}, a));
    EXPECT_FALSE(holdsOnlyAddress({{{2, "ifconfig eth0 1.2.3.45"}}, 4}, a));
    EXPECT_FALSE(holdsOnlyAddress({{}, 4}, a));

    const QStringList ftp = ftpStartLines();
    const ScriptAnswer good{{{2, "ifconfig eth0 1.2.3.4"}, {3, ftp[0]}, {4, ftp[1]}, {5, ftp[2]}},
                            -1};
    EXPECT_TRUE(ftpLinesFollowIfconfig(good));
    ScriptAnswer gap = good;
    gap.lines[1].number = 4;
    EXPECT_FALSE(ftpLinesFollowIfconfig(gap));
    const ScriptAnswer above{{{1, ftp[0]}, {2, ftp[1]}, {3, ftp[2]}, {4, "ifconfig eth0 1.2.3.4"}},
                             -1};
    EXPECT_FALSE(ftpLinesFollowIfconfig(above));
    EXPECT_FALSE(ftpLinesFollowIfconfig({{{2, "ifconfig eth0 1.2.3.4"}, {3, ftp[0]}}, -1}));
}

// Lines as the boot loader prints them after bootm; the outcome after the last.
TEST(BootWatch, StartedOnlyAfterAVerifiedChecksumAndFailedOnTheLoadersFailureLines) {
    using O = BootWatch::Outcome;
    const struct {
        QStringList lines;
        O outcome;
        const char* last;
    } cases[] = {
        {{"bootm a4000000", "   Verifying Checksum ... OK", "", "Starting kernel ..."},
         O::Started,
         "Starting kernel ..."},
        {{"   Verifying Checksum ... OK", "## Transferring control to Linux (at address 0)"},
         O::Started,
         "## Transferring control to Linux (at address 0)"},
        {{"Starting kernel ..."}, O::Pending, "Starting kernel ..."}, // never verified
        {{"   Verifying Checksum ... Bad Data CRC", "Starting kernel ..."},
         O::Failed,
         "Verifying Checksum ... Bad Data CRC"},
        {{"Wrong Image Format for bootm command", "ERROR: can't get kernel image!"},
         O::Failed,
         "Wrong Image Format for bootm command"},
        {{"   Bad Magic Number"}, O::Failed, "Bad Magic Number"},
        {{"resetting ..."}, O::Failed, "resetting ..."},
        {{"## Booting kernel from Legacy Image at a4000000 ...", "   Image Name:   x"},
         O::Pending,
         "Image Name:   x"},
    };
    for (const auto& c : cases) {
        BootWatch watch;
        for (const QString& line : c.lines)
            watch.feed(line);
        EXPECT_EQ(watch.outcome(), c.outcome) << c.lines.join('|').toStdString();
        EXPECT_EQ(watch.lastLine(), c.last);
    }
    // Before bootm the same table ends the job; an address read back must be exact.
    for (const char* line :
         {"Unknown command 'set' - try 'help'", "*** ERROR: `serverip' not set",
          "TFTP error: 'File not found' (1)", "Retry count exceeded; starting again",
          "No ethernet found.", "Bad Header Checksum"})
        EXPECT_EQ(loaderFailure(line), QString(line));
    EXPECT_EQ(loaderFailure("Bytes transferred = 3145728 (300000 hex)"), std::nullopt);
    EXPECT_TRUE(printsVariable(" ipaddr=10.0.0.5 ", "ipaddr", "10.0.0.5"));
    EXPECT_FALSE(printsVariable("ipaddr=10.0.0.50", "ipaddr", "10.0.0.5"));
    EXPECT_FALSE(printsVariable("## Error: \"ipaddr\" not defined", "ipaddr", "10.0.0.5"));
}

} // namespace
