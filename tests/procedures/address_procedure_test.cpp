// The address procedure against a scripted console: the exact keystrokes, boxes and log
// steps of every path, with waits that return at once. The same paths run against a real
// shell and vi in the end-to-end tests; these pin the order and the decisions quickly.
#include "procedures/address_procedure.h"
#include "serial/console_dialogue.h"

#include "log/session_log.h"
#include "serial/port_errors.h"
#include "tests/procedures/session_log_capture.h"
#include "tests/support/fake_console.h"
#include "tests/support/fake_dialogs.h"
#include "tests/support/fake_main_view.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace {

using Writes = QList<QByteArray>;

const QByteArray kInsmod = "insmod /app/modules_sys/smsc911x.ko tx_dma=256 rx_dma=256\r";

// Plays the receiver: for each write it feeds the watcher what a busybox console would
// echo and answer during the settle wait that follows (once per write, however many waits).
class ScriptedReceiver {
public:
    QByteArray listing = "start.sh";     // what "ls" prints
    QByteArray viScreen = "~\x1b[3;1H~"; // what "vi start.sh" shows
    bool answers = true;
    bool configExists = true;
    bool viWrites = true; // false: ":wq" leaves vi open ("'start.sh' is read only")
    // What the grep queries print before the end marker, one per query in turn; a query
    // with none left gets no answer at all.
    QList<QByteArray> grepAnswers = {"2:ifconfig eth0 192.168.1.50\r\n4\r\n"};
    std::function<void(const QByteArray&)> onCommand;

    void attach(FakeTicker& ticker, FakeConsolePort& port, ResponseWatcher& watcher) {
        ticker.duringWait = [this, &port, &watcher](int) {
            if (port.writes.size() <= m_answered || !answers)
                return;
            m_answered = port.writes.size();
            const QByteArray sent = port.writes.last();
            if (onCommand)
                onCommand(sent);
            for (char c : reply(sent))
                watcher.feed(c);
        };
    }
    void rewind() { m_answered = 0; }

private:
    QByteArray reply(const QByteArray& sent) {
        const QByteArray prompt = m_dir + " # ";
        if (sent == "\x03")
            return "^C\r\n" + prompt;
        if (sent == "cd /config\r") {
            if (configExists)
                m_dir = "/config";
            return "cd /config\r\n" + (configExists ? QByteArray() : "sh: can't cd\r\n") + m_dir +
                   " # ";
        }
        if (sent == "ls\r")
            return "ls\r\n" + listing + "\r\n" + prompt;
        if (sent == "vi start.sh\r")
            return "vi start.sh\r\n\x1b[?1049h\x1b[H\x1b[J" + viScreen;
        if (sent == ":wq\r")
            return viWrites ? "\x1b[?1049l" + prompt : QByteArray("'start.sh' is read only");
        if (sent.startsWith("grep -n ifconfig start.sh")) {
            if (grepAnswers.isEmpty())
                return sent + "\n";
            return sent + "\n" + grepAnswers.takeFirst() + "STBMATE-END\r\n" + prompt;
        }
        // Any other line is echoed as a shell would; vi's own keys get no reply here.
        if (sent.endsWith('\r') && sent.size() > 1 && sent != "/ifconfig\r" && sent != ":q!\r")
            return sent + "\n" + (sent == "echo hello\r" ? "hello\r\n" : "") + prompt;
        return {};
    }

    QByteArray m_dir = "/";
    qsizetype m_answered = 0;
};

const QByteArray kQuery = "grep -n ifconfig start.sh; grep -c '' start.sh; echo STBMATE-''END\r";

class AddressProcedureTest : public ::testing::Test {
protected:
    AddressProcedureTest() {
        for (int n = 1; n <= MessageCatalogue::kCount; ++n)
            messages.setText(n, QStringLiteral("M%1").arg(n));
        watcher.setHooks({[this](const QString& line) { log.WriteLogEntry(line); }, {}, {}});
        receiver.attach(ticker, port, watcher);
        view.setReceiverAddress(QStringLiteral("192.168.1.50"));
    }

    Writes writesAfterCheck() const { return port.writes.mid(2); }

    SessionLogCapture log;
    FakeTicker ticker;
    FakeConsolePort port;
    ResponseWatcher watcher;
    ConsoleDialogue console{port, ticker, watcher, 0};
    FakeBusyIndicator busy;
    FakeDialogs dialogs;
    FakeMainView view;
    MessageCatalogue messages;
    ScriptedReceiver receiver;
    AddressProcedure procedure{{dialogs, view, messages, console, busy, log}};
};

TEST_F(AddressProcedureTest, CreatesScriptWhenListingHasNoStartScript) {
    for (const QByteArray& listing : {QByteArray(""), QByteArray("old_start.sh.bak"),
                                      QByteArray("start.sh.orig  my_start.sh")}) {
        SCOPED_TRACE(listing.toStdString());
        port.writes.clear();
        receiver.rewind();
        dialogs.clear();
        receiver.listing = listing;
        receiver.grepAnswers = {"2:ifconfig eth0 192.168.1.50\r\n4\r\n"};
        procedure.setAddress();
        const Writes expected = {"\x03",
                                 "ifconfig eth0 192.168.1.50\r",
                                 "cd /config\r",
                                 "ls\r",
                                 "vi start.sh\r",
                                 "i",
                                 kInsmod,
                                 "ifconfig eth0 192.168.1.50\r",
                                 "cd /app\r",
                                 "/app/start.sh\r",
                                 "\x1b",
                                 ":wq\r",
                                 "chmod 755 start.sh\r",
                                 "more start.sh\r",
                                 "\r",
                                 kQuery};
        EXPECT_EQ(writesAfterCheck(), expected);
        EXPECT_EQ(dialogs.transcriptLines(), QStringList({"information: M1", "message: M3"}));
    }
}

TEST_F(AddressProcedureTest, FullRunBoxesLogLightAndWaits) {
    receiver.listing = "";
    view.showPage(1);
    procedure.setAddress();

    EXPECT_EQ(port.writes.mid(0, 2), Writes({"\x03", "echo hello\r"}));
    EXPECT_EQ(view.page(), 0);
    EXPECT_TRUE(view.serialLight());
    EXPECT_EQ(busy.shownTexts, QList<QString>{QStringLiteral("Serielle Verbindung wird geprüft")});
    EXPECT_FALSE(busy.visible);
    // Two waits for the check, fifteen for a new script and one for reading it back, each
    // SettleDelay + 8 ticks.
    EXPECT_EQ(ticker.requests, QList<int>(18, 8));
    EXPECT_EQ(log.steps(), QStringList({"****** COMMAND: set ip address ******",
                                        "****** COMMAND: check serial connection ******",
                                        "****** RESULT: serial connection ok ******",
                                        "****** COMMAND: STRG C ******",
                                        "****** RESULT: \"/config #\" was found ******",
                                        "****** COMMAND: create new start.sh ******",
                                        "****** RESULT: IP-address successfully set ******"}));
    // Received console lines are logged in between, as the watcher completes them, whole:
    // the prompt the command was typed after stays on the command's line.
    EXPECT_EQ(log.entries().filter(QStringLiteral("cd /config")).value(0).right(12),
              "# cd /config");
}

TEST_F(AddressProcedureTest, EditsScriptListedUnderItsOwnName) {
    struct Case {
        QByteArray listing;
        QByteArray before; // the first grep answer
        Writes keys;       // between "vi start.sh\r" and ":wq\r"
    };
    const QByteArray line = "ifconfig eth0 192.168.1.50\r";
    const Case cases[] = {
        {"start.sh", "2:ifconfig eth0 10.0.0.1\r\n4\r\n", {"/ifconfig\r", "dd", "i", line, "\x1b"}},
        {"old_start.sh.bak  start.sh", "3\r\n", {"G", "i", line, "\x1b"}},
        {"\x1b[1;32mstart.sh\x1b[0m",
         "2:ifconfig eth0 1.1.1.1\r\n9:ifconfig eth0 2.2.2.2\r\n9\r\n",
         {"2G", "i", line, "\x1b", "10G", "dd", "3G", "dd"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.listing.toStdString());
        port.writes.clear();
        receiver.rewind();
        dialogs.clear();
        receiver.listing = c.listing;
        receiver.grepAnswers = {c.before, "2:ifconfig eth0 192.168.1.50\r\n4\r\n"};
        procedure.setAddress();
        Writes expected = {"\x03", line, "cd /config\r", "ls\r", kQuery, "vi start.sh\r"};
        expected += c.keys;
        expected += Writes{":wq\r", "chmod 755 start.sh\r", kQuery};
        EXPECT_EQ(writesAfterCheck(), expected);
        EXPECT_EQ(dialogs.transcriptLines(), QStringList({"information: M1", "message: M3"}));
    }
    const QStringList steps = log.steps();
    EXPECT_EQ(steps.count(QStringLiteral("****** COMMAND: edit existing start.sh ******")), 3);
    EXPECT_EQ(steps.count(QStringLiteral("****** RESULT: IP-address successfully changed ******")),
              3);
}

// Success only for a script that was written and holds the new address; vi left open by a
// failed write is quit unsaved before anything else is typed.
TEST_F(AddressProcedureTest, FailuresAfterViShowTheirOwnBoxAndNoSuccess) {
    struct Case {
        const char* name;
        bool viWrites;
        QList<QByteArray> grepAnswers;
        Writes tail; // from ":wq\r" on
        const char* entry;
        const char* box = "error: M39"; // the cable is fine: never Msg2
    };
    const Case cases[] = {
        {"vi cannot write",
         false,
         {"2:ifconfig eth0 10.0.0.1\r\n4\r\n"},
         {":wq\r", "\x1b", ":q!\r"},
         "###### start.sh could not be written ! --> EXIT",
         "error: M38"},
        {"old address stays",
         true,
         {"2:ifconfig eth0 10.0.0.1\r\n4\r\n", "2:ifconfig eth0 10.0.0.1\r\n4\r\n"},
         {":wq\r", "chmod 755 start.sh\r", kQuery},
         "###### start.sh does not hold the new ip address ! --> EXIT"},
        {"two lines stay",
         true,
         {"2:ifconfig eth0 10.0.0.1\r\n4\r\n",
          "2:ifconfig eth0 192.168.1.50\r\n3:ifconfig eth0 10.0.0.1\r\n5\r\n"},
         {":wq\r", "chmod 755 start.sh\r", kQuery},
         "###### start.sh does not hold the new ip address ! --> EXIT"},
        {"no answer to the read-back",
         true,
         {"2:ifconfig eth0 10.0.0.1\r\n4\r\n"},
         {":wq\r", "chmod 755 start.sh\r", kQuery},
         "###### start.sh does not hold the new ip address ! --> EXIT"},
        {"no answer before vi",
         true,
         {},
         {},
         "###### start.sh could not be read ! --> EXIT",
         "error: M37"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        port.writes.clear();
        receiver.rewind();
        dialogs.clear();
        receiver.viWrites = c.viWrites;
        receiver.grepAnswers = c.grepAnswers;
        procedure.setAddress();
        const Writes writes = port.writes;
        if (c.tail.isEmpty()) {
            EXPECT_EQ(writes.last(), kQuery);
            EXPECT_FALSE(writes.contains("vi start.sh\r"));
        } else {
            EXPECT_EQ(writes.mid(writes.indexOf(":wq\r")), c.tail);
        }
        EXPECT_EQ(dialogs.transcriptLines(), QStringList({"information: M1", c.box}));
        EXPECT_EQ(log.steps().last(), QLatin1String(c.entry));
    }
}

TEST_F(AddressProcedureTest, AddressThatIsNotPlainIpv4SendsNothing) {
    for (const QString& address : {QStringLiteral("192.168.178.44; echo INJECTED > FILE"),
                                   QStringLiteral("192.168.1784.4"), QStringLiteral("   ")}) {
        SCOPED_TRACE(address.toStdString());
        dialogs.clear();
        const qsizetype before = log.steps().size();
        view.setReceiverAddress(address);
        procedure.setAddress();
        EXPECT_TRUE(port.writes.isEmpty());
        EXPECT_EQ(dialogs.transcriptLines(), QStringList{"error: M26"});
        EXPECT_EQ(log.steps().mid(before),
                  QStringList({"****** COMMAND: set ip address ******",
                               "###### ip address for ufs910 \"" + address +
                                   "\" is not a valid ip address ! --> EXIT"}));
    }
}

TEST_F(AddressProcedureTest, AddressTypedDuringTheRunIsUsedFromThenOn) {
    receiver.listing = "";
    receiver.grepAnswers = {"2:ifconfig eth0 10.1.1.9\r\n4\r\n"};
    receiver.onCommand = [this](const QByteArray& sent) {
        if (sent.startsWith("ifconfig eth0 192.168.1.50"))
            view.setReceiverAddress(QStringLiteral("10.1.1.9"));
    };
    procedure.setAddress();
    EXPECT_EQ(port.writes.count("ifconfig eth0 192.168.1.50\r"), 1);
    EXPECT_EQ(port.writes.count("ifconfig eth0 10.1.1.9\r"), 1);
}

TEST_F(AddressProcedureTest, OrderlyStops) {
    {
        SCOPED_TRACE("empty address: nothing sent, Msg1 never shown");
        view.setReceiverAddress(QString());
        procedure.setAddress();
        EXPECT_TRUE(port.writes.isEmpty());
        EXPECT_EQ(dialogs.transcriptLines(), QStringList{"error: M6"});
        EXPECT_EQ(log.steps(),
                  QStringList({"****** COMMAND: set ip address ******",
                               "###### no ip address for ufs910 was given ! --> EXIT"}));
    }
    view.setReceiverAddress(QStringLiteral("192.168.1.50"));
    {
        SCOPED_TRACE("no answer");
        dialogs.clear();
        receiver.answers = false;
        view.setSerialLight(true);
        procedure.setAddress();
        EXPECT_EQ(port.writes, Writes({"\x03", "echo hello\r"}));
        EXPECT_FALSE(view.serialLight());
        EXPECT_EQ(dialogs.transcriptLines(), QStringList({"information: M1", "error: M2"}));
        EXPECT_EQ(log.steps().last(), QStringLiteral("###### no serial connection ! --> EXIT"));
    }
    {
        SCOPED_TRACE("no /config prompt");
        port.writes.clear();
        receiver.rewind();
        dialogs.clear();
        receiver.answers = true;
        receiver.configExists = false;
        procedure.setAddress();
        EXPECT_EQ(writesAfterCheck(),
                  Writes({"\x03", "ifconfig eth0 192.168.1.50\r", "cd /config\r"}));
        EXPECT_EQ(dialogs.transcriptLines(), QStringList({"information: M1", "error: M2"}));
        EXPECT_EQ(
            log.steps().last(),
            QStringLiteral("###### \"/config #\" was expected at prompt but not found ! --> EXIT"));
    }
}

TEST_F(AddressProcedureTest, PortFailureEndsTheRunAndKeepsTheLineLog) {
    receiver.listing = "";
    port.onWrite = [](const QByteArray& bytes) {
        if (bytes == "ls\r")
            throw EAlreadyOpen();
    };
    EXPECT_THROW(procedure.setAddress(), EPortException);
    EXPECT_EQ(port.writes.last(), QByteArray("cd /config\r"));
    EXPECT_EQ(dialogs.transcriptLines(), QStringList{"information: M1"});
    EXPECT_EQ(log.steps().last(), QStringLiteral("****** RESULT: \"/config #\" was found ******"));

    // The listing tap must have handed line logging back to the hook that was there.
    const qsizetype before = log.entries().size();
    for (char c : QByteArray("after failure\r"))
        watcher.feed(c);
    EXPECT_EQ(log.entries().mid(before), QStringList{"/config # after failure"});
}

TEST_F(AddressProcedureTest, HiddenDeleteCommand) {
    view.showPage(1);
    dialogs.answerConfirm(false);
    procedure.deleteStartScript();
    EXPECT_TRUE(port.writes.isEmpty());
    EXPECT_EQ(view.page(), 1);

    dialogs.answerConfirm(true);
    procedure.deleteStartScript();
    // The prompt came, rm went out and the listing read back still names start.sh.
    EXPECT_EQ(port.writes, Writes({"\x03", "cd /config\r", "rm start.sh\r", "ls\r"}));
    EXPECT_EQ(view.page(), 0);
    EXPECT_EQ(dialogs.transcriptLines(), QStringList({"caution: delet start.sh ?",
                                                      "caution: delet start.sh ?", "error: M42"}));
}

TEST(listingNamesFile, WholeNamesOnly) {
    const QString name = QStringLiteral("start.sh");
    const std::map<QString, bool> cases = {
        {QStringLiteral("start.sh"), true},
        {QStringLiteral("ls"), false},
        {QStringLiteral("old_start.sh.bak"), false},
        {QStringLiteral("start.sh.bak  mystart.sh"), false},
        {QStringLiteral("a.conf     start.sh   z.txt"), true},
        {QStringLiteral("\tstart.sh\t"), true},
        {QStringLiteral("[1;32mstart.sh[0m"), true},
        {QStringLiteral("start.sh*"), true},
        {QStringLiteral("Start.sh"), false},
        {QStringLiteral("/config # "), false},
    };
    for (const auto& [line, expected] : cases)
        EXPECT_EQ(listingNamesFile({QStringLiteral("ls"), line}, name), expected)
            << line.toStdString();
    EXPECT_FALSE(listingNamesFile({}, name));
}

} // namespace
