// The socket-free halves of the telnet session: option negotiation and the output handler.
#include "log/session_log.h"
#include "net/telnet_channel.h"
#include "net/telnet_data_handler.h"
#include "net/telnet_option_parser.h"
#include "tests/support/fake_console.h"
#include "tests/support/fake_main_view.h"
#include "tests/support/fake_telnet.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (int v : values)
        out.append(static_cast<char>(v));
    return out;
}

struct Fed {
    QByteArray text;
    QList<QByteArray> replies;
};

Fed feed(TelnetOptionParser& parser, const QByteArray& block) {
    Fed out;
    out.text = parser.feedBlock(block, [&](const QByteArray& r) { out.replies.append(r); });
    return out;
}

constexpr int IAC = 255, WILL = 251, WONT = 252, DO = 253, DONT = 254, SB = 250, SE = 240;

TEST(TelnetOptionParser, AnswersEachRequestFromTheFixedTable) {
    struct Case {
        QByteArray received;
        QByteArray reply;
    } cases[] = {
        {bytes({IAC, DO, 24}), bytes({IAC, WILL, 24})},
        {bytes({IAC, DO, 1}), bytes({IAC, WILL, 1})},
        {bytes({IAC, DO, 31}), bytes({IAC, WONT, 31})},
        {bytes({IAC, DO, 37}), bytes({IAC, WONT, 37})},
        {bytes({IAC, WILL, 3}), bytes({IAC, DONT, 3})},
        {bytes({IAC, WILL, 1}), bytes({IAC, DO, 1})},
        {bytes({IAC, WILL, 25}), bytes({IAC, DO, 25})},
        {bytes({IAC, WONT, 1}), bytes({IAC, DONT, 1})},
        {bytes({IAC, DONT, 31}), bytes({IAC, WONT, 31})},
        {bytes({IAC, DONT, 1}), bytes({IAC, WONT, 1})},
    };
    for (const auto& c : cases) {
        TelnetOptionParser parser;
        const Fed fed = feed(parser, "a" + c.received + "b");
        EXPECT_EQ(fed.text, "ab");
        ASSERT_EQ(fed.replies.size(), 1);
        EXPECT_EQ(fed.replies.front(), c.reply) << c.received.toHex().toStdString();
        EXPECT_TRUE(parser.serverSpeaksTelnet());
    }
}

TEST(TelnetOptionParser, TerminalTypeRequestGetsDumbInOneWrite) {
    TelnetOptionParser parser;
    const Fed fed = feed(parser, bytes({IAC, SB, 24, 1, IAC, SE}) + "x");
    ASSERT_EQ(fed.replies.size(), 1);
    EXPECT_EQ(fed.replies.front(), bytes({IAC, SB, 24, 0}) + "dumb" + bytes({IAC, SE}));
    EXPECT_EQ(fed.text, "x");

    // An empty terminal type is answered as "dumb" too; a subnegotiation not ending in SEND
    // gets nothing.
    parser.setTerminal("");
    EXPECT_EQ(feed(parser, bytes({IAC, SB, 24, 1, IAC, SE})).replies.front(),
              bytes({IAC, SB, 24, 0}) + "dumb" + bytes({IAC, SE}));
    EXPECT_TRUE(feed(parser, bytes({IAC, SB, 24, 0, 'v', 't', IAC, SE})).replies.isEmpty());
    // SB right after SB ... IAC finishes the first and starts the next.
    EXPECT_EQ(feed(parser, bytes({IAC, SB, 24, 1, IAC, SB, 24, 1, IAC, SE})).replies.size(), 2);
}

TEST(TelnetOptionParser, StateCarriesOverBlocksButSubnegotiationCountsDoNot) {
    TelnetOptionParser parser;
    // IAC at the end of one block, its verb in the next.
    EXPECT_TRUE(feed(parser, "x" + bytes({IAC})).replies.isEmpty());
    EXPECT_EQ(parser.state(), TelnetOptionParser::State::Command);
    const Fed next = feed(parser, bytes({DO, 24}) + "y");
    EXPECT_EQ(next.replies.front(), bytes({IAC, WILL, 24}));
    EXPECT_EQ(next.text, "y");

    // The SEND byte in one block and IAC SE in the next: the new block starts counting afresh
    // with no last data byte, so there is no answer.
    feed(parser, bytes({IAC, SB, 24, 1}));
    EXPECT_EQ(parser.state(), TelnetOptionParser::State::SubData);
    EXPECT_TRUE(feed(parser, bytes({IAC, SE})).replies.isEmpty());
    EXPECT_EQ(parser.state(), TelnetOptionParser::State::Data);

    parser.reset();
    EXPECT_FALSE(parser.serverSpeaksTelnet());
    EXPECT_EQ(parser.state(), TelnetOptionParser::State::Data);
}

TEST(TelnetOptionParser, DoubledIacIsOneDataByteAndOtherCommandsVanish) {
    TelnetOptionParser parser;
    EXPECT_EQ(feed(parser, "a" + bytes({IAC, IAC}) + "b").text, "a" + bytes({255}) + "b");
    EXPECT_EQ(feed(parser, "a" + bytes({IAC, 241, IAC, 239}) + "b").text, "ab"); // NOP, EOR
    // IAC inside subnegotiation data is data of the subnegotiation, never text.
    const Fed sub = feed(parser, bytes({IAC, SB, 24, IAC, IAC, IAC, SE}) + "c");
    EXPECT_EQ(sub.text, "c");
    EXPECT_TRUE(sub.replies.isEmpty());
    // SB IAC x drops x.
    EXPECT_EQ(feed(parser, bytes({IAC, SB, IAC, 'x'}) + "d").text, "d");
}

class TelnetDataHandlerTest : public ::testing::Test {
protected:
    // Everything logged so far, all log files of the scratch folder together.
    QByteArray logged() const {
        QByteArray all;
        const QDir logs(m_scratch.path() + QStringLiteral("/Logs"));
        for (const QString& name : logs.entryList(QDir::Files)) {
            QFile file(logs.filePath(name));
            if (file.open(QIODevice::ReadOnly))
                all += file.readAll();
        }
        return all;
    }
    static QByteArray entries(const QStringList& texts) {
        QByteArray out;
        for (const QString& text : texts)
            out += "12:34:56 - " + text.toUtf8() + "\r\n";
        return out;
    }

    stbtest::ScratchDir m_scratch;
    SessionLog m_log{m_scratch.path(),
                     [] { return QDateTime(QDate(2026, 12, 7), QTime(12, 34, 56)); }};
    FakeMainView m_view;
};

TEST_F(TelnetDataHandlerTest, SplitsLinesAtCarriageReturnsAcrossBlocks) {
    showTelnetOutput(m_view, m_log, QStringLiteral("login: "));
    showTelnetOutput(m_view, m_log, QStringLiteral("root\r\n# ls\r\nbin\r"));
    showTelnetOutput(m_view, m_log, QStringLiteral("\nx\ny\r\r# "));
    EXPECT_EQ(m_view.networkLines(),
              (QStringList{QStringLiteral("login: root"), QStringLiteral("# ls"),
                           QStringLiteral("bin"), QString(), QStringLiteral("x"),
                           QStringLiteral("y"), QString(), QStringLiteral("# ")}));
    EXPECT_EQ(logged(), entries({QStringLiteral("login: "), QStringLiteral("root"),
                                 QStringLiteral("# ls"), QStringLiteral("bin"),
                                 QStringLiteral("xy"), QString(), QStringLiteral("# ")}));
}

// The lines a job reads its answers from: complete at CR, LF or CR LF wherever the blocks
// are cut; the text after the last line end waits for its end. An expected text is seen
// however the blocks cut it, and only once it came after expect().
TEST(TelnetChannelTest, CompletesLinesAndSeesTextAcrossBlocks) {
    const struct Case {
        QStringList blocks;
        QStringList lines;
    } cases[] = {
        {{"a\r\nb\r\n"}, {"a", "b"}},
        {{"a\r", "\nb\n"}, {"a", "b"}},
        {{"a\r\r\n", "\r\n"}, {"a", "", ""}},
        {{"x\n\ny\r", "z"}, {"x", "", "y"}},
        {{"ip 10.0.", "0.2\r\n"}, {"ip 10.0.0.2"}},
        {{"/ # gr", "ep -n\r", "\n2:ifconfig eth0", " 10.0.0.2\r\nSTBMATE-END\r\n/ # "},
         {"/ # grep -n", "2:ifconfig eth0 10.0.0.2", "STBMATE-END"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.blocks.join(QLatin1Char('|')).toStdString());
        FakeTelnet session;
        FakeTicker ticker;
        TelnetChannel channel(session, ticker, {});
        channel.received(QStringLiteral("old 10.0.0.2\r\n"));
        channel.expect(QStringLiteral("10.0.0.2"));
        QStringList lines;
        channel.setLineCompleted([&](const QString& line) { lines << line; });
        for (const QString& block : c.blocks)
            channel.received(block);
        EXPECT_EQ(lines, c.lines);
        EXPECT_EQ(channel.seen(QStringLiteral("10.0.0.2")), c.blocks.join("").contains("10.0.0.2"));
    }
}

TEST_F(TelnetDataHandlerTest, EmptyBlockOnlyGivesTheViewItsFirstLine) {
    showTelnetOutput(m_view, m_log, QString());
    EXPECT_EQ(m_view.networkLines(), QStringList{QString()});
    showTelnetOutput(m_view, m_log, QString());
    EXPECT_EQ(m_view.networkLines(), QStringList{QString()});
    EXPECT_TRUE(logged().isEmpty());
}

// Any bar width, any line end, split anywhere; a bar that did not reach 100% or whose stars
// stop short of the closing bar is no marker.
TEST(DownloadWatchTest, FinishedBarOfAnyWidthIsFoundWhateverEndsItsLine) {
    const auto bar = [](int stars, const char* percent = "100") {
        return QStringLiteral("proftpd.tar.bz2      %1% |").arg(QLatin1String(percent)) +
               QString(stars, QLatin1Char('*')) + QLatin1Char('|');
    };
    const QString tail = QStringLiteral(" 1234k  0:00:00 ETA");
    const struct {
        QString text;
        bool complete;
    } cases[] = {
        {QStringLiteral("\r") + bar(29) + tail + QStringLiteral("\r\n# "), true},
        {QStringLiteral("\r") + bar(32) + tail + QStringLiteral("\n# "), true},
        {QStringLiteral("\r") + bar(26) + QStringLiteral("\r"), true},
        {QStringLiteral("\r") + bar(200) + QStringLiteral("\n"), true},
        {QStringLiteral("\r") + bar(32, "99") + QStringLiteral("\r\n"), false},
        {QStringLiteral("\rproftpd.tar.bz2      100% |*******         |\r\n"), false},
        {QStringLiteral("\rproftpd.tar.bz2       50% |****            |\r\nwget: short\n"), false},
    };
    for (const auto& c : cases) {
        // Every split point into two blocks, after a long line without any end.
        for (qsizetype cut = 0; cut <= c.text.size(); ++cut) {
            DownloadWatch watch;
            watch.received(QString(5000, QLatin1Char('x')));
            watch.received(c.text.left(cut));
            watch.received(c.text.mid(cut));
            EXPECT_EQ(watch.complete(), c.complete) << c.text.toStdString() << " cut " << cut;
        }
    }
    DownloadWatch watch;
    watch.received(bar(32));
    watch.reset();
    EXPECT_FALSE(watch.complete());
}

} // namespace
