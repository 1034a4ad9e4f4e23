// Runs the real vtfeed program: vttest's cursor-movement screens against screens checked by
// hand against the VT100's documented behaviour, and the tool's other modes.
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace {

struct Result {
    int exitCode = -1;
    QByteArray out;
};

Result vtfeed(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(VTFEED_PATH), args);
    Result r;
    if (!p.waitForFinished(60000))
        return r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    return r;
}

QString data(const char* name) {
    return stbtest::sourceDir() + QStringLiteral("/tests/terminal/data/") + QLatin1String(name);
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(Vtfeed, VttestCursorMovementScreens) {
    const Result r = vtfeed({QStringLiteral("-k"), data("vttest_movements.bin")});
    ASSERT_EQ(r.exitCode, 0);
    const QByteArray expected = readAll(data("vttest_movements.screens"));
    ASSERT_FALSE(expected.isEmpty());
    // Compare block by block so a failure names the screen that went wrong.
    const QList<QByteArray> got = r.out.split('@');
    const QList<QByteArray> want = expected.split('@');
    ASSERT_EQ(got.size(), want.size());
    for (qsizetype i = 0; i < want.size(); ++i)
        EXPECT_EQ(got[i].toStdString(), want[i].toStdString()) << "block " << i;
    // The screens themselves carry the proof a person would look for.
    EXPECT_TRUE(expected.contains("*+        E with  one (1) free position around it.    Push"));
    EXPECT_TRUE(expected.contains("A B C D E F G H I\nA B C D E F G H I\nA B C D E F G H I\n"
                                  "A B C D E F G H I\n"));
    EXPECT_TRUE(expected.contains("\nThis is a correct sentence\n"));
}

TEST(Vtfeed, AttributesRepliesAndCheckpoints) {
    stbtest::ScratchDir dir;
    const QString file = dir.file(QStringLiteral("s.bin"));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("ab\x1b[1;4;31;44mcd\x1b[7mef\x1b[m\r\n\x1b(0lqk\x1b(A#\x1b[6n\x05\x1b[?2l\x1bZ");
    f.close();
    QFile cp(file + QStringLiteral(".checkpoints"));
    ASSERT_TRUE(cp.open(QIODevice::WriteOnly));
    cp.write("2\tafter ab\n# a comment\n\n15\tmid colour\n");
    cp.close();

    const Result r = vtfeed({QStringLiteral("-k"), QStringLiteral("-a"), file});
    ASSERT_EQ(r.exitCode, 0);
    const std::string text = r.out.toStdString();
    const QList<QByteArray> lines = r.out.split('\n');
    ASSERT_GT(lines.size(), 30);
    EXPECT_EQ(lines[0].toStdString(), "# vtdump 1 stream=s.bin bytes=49 rows=24 cols=80 "
                                      "chunk=4096 checkpoints=2");
    EXPECT_EQ(lines[1].toStdString(), "@2 after ab");
    EXPECT_EQ(lines[2].toStdString(), "cursor 0 2");
    EXPECT_EQ(lines[3].toStdString(), "ab");
    EXPECT_EQ(lines[27].toStdString(), "@15 mid colour");
    EXPECT_EQ(lines[29].toStdString(), "abc"); // the slice stopped inside "cd"
    EXPECT_EQ(lines[53].toStdString(), "attr 0 2-2 bold underline fg=1 bg=4");
    EXPECT_NE(text.find("\n@49 END\ncursor 1 4\nabcdef\n┌─┐£\n"), std::string::npos);
    EXPECT_NE(text.find("\nattr 0 2-3 bold underline fg=1 bg=4\n"
                        "attr 0 4-5 bold underline reverse fg=1 bg=4\n"),
              std::string::npos);
    EXPECT_TRUE(r.out.endsWith("reply \\e[2;5RSTBterm\\e/Z\n"));
}

TEST(Vtfeed, TimingOnceAndBadCommandLines) {
    // One megabyte a run: the figure is not looked at, and a sanitizer build is slow.
    const Result t = vtfeed({QStringLiteral("-t"), QStringLiteral("-m"), QStringLiteral("1"),
                             data("vttest_movements.bin")});
    ASSERT_EQ(t.exitCode, 0);
    const QStringList fields = QString::fromUtf8(t.out).trimmed().split(QLatin1Char('\t'));
    ASSERT_EQ(fields.size(), 3);
    EXPECT_EQ(fields[0], QStringLiteral("vttest_movements.bin"));
    EXPECT_EQ(fields[1], QStringLiteral("16724"));
    EXPECT_GT(fields[2].toDouble(), 0.0);

    const Result o = vtfeed({QStringLiteral("-o"), data("vttest_movements.bin")});
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_TRUE(o.out.isEmpty());

    EXPECT_EQ(vtfeed({}).exitCode, 2);
    EXPECT_EQ(vtfeed({QStringLiteral("-x"), data("vttest_movements.bin")}).exitCode, 2);
    EXPECT_EQ(vtfeed({QStringLiteral("-t"), QStringLiteral("-m"), QStringLiteral("0"),
                      data("vttest_movements.bin")})
                  .exitCode,
              2);
    EXPECT_EQ(vtfeed({QStringLiteral("/nonexistent/stream")}).exitCode, 1);
    // Checkpoint files that cannot be honoured are refused, not skipped.
    stbtest::ScratchDir dir;
    const QString file = dir.file(QStringLiteral("x.bin"));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("abc");
    f.close();
    EXPECT_EQ(vtfeed({QStringLiteral("-k"), file}).exitCode, 1); // no .checkpoints file
    QFile cp(file + QStringLiteral(".checkpoints"));
    ASSERT_TRUE(cp.open(QIODevice::WriteOnly));
    cp.write("99\tpast the end\n");
    cp.close();
    EXPECT_EQ(vtfeed({QStringLiteral("-k"), file}).exitCode, 1);
}

} // namespace
