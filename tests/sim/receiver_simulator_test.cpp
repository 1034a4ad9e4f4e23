// The simulator is only worth its tests if it behaves like the receiver's console: a shell
// that echoes, shows its working directory in the prompt, records ifconfig/insmod instead of
// running them, stays silent when told to and leaves nothing behind.
#include "tests/sim/receiver_simulator.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <chrono>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using stbsim::ReceiverSimulator;

namespace {

// The program's end of the cable, reduced to raw reads and writes.
class Cable {
public:
    explicit Cable(const QString& path)
        : m_fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {}
    ~Cable() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool isOpen() const { return m_fd >= 0; }
    void send(const QByteArray& bytes) {
        ASSERT_EQ(::write(m_fd, bytes.constData(), size_t(bytes.size())), bytes.size());
    }
    // Reads until text shows up (true) or timeoutMs passes (false); keeps everything read.
    bool readUntil(const QByteArray& text, int timeoutMs) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!m_seen.contains(text)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            pollfd pfd{m_fd, POLLIN, 0};
            if (::poll(&pfd, 1, int(left.count())) > 0) {
                char buffer[1024];
                const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
                if (n > 0)
                    m_seen.append(buffer, n);
            }
        }
        return true;
    }
    const QByteArray& seen() const { return m_seen; }

private:
    int m_fd;
    QByteArray m_seen;
};

} // namespace

TEST(ReceiverSimulator, ShellEchoesAndPromptShowsWorkingDirectory) {
    ReceiverSimulator sim;
    ReceiverSimulator::Options options;
    options.configFiles[QStringLiteral("start.sh")] = "echo hi\n";
    QString error;
    ASSERT_TRUE(sim.start(options, &error)) << error.toStdString();
    Cable cable(sim.portPath());
    ASSERT_TRUE(cable.isOpen());

    cable.send("echo hello\r");
    // The echo of the typed line comes first, then the command's own output.
    ASSERT_TRUE(cable.readUntil("hello\r\nhello\r\n/ # ", 3000)) << cable.seen().toStdString();
    cable.send("cd /config\r");
    ASSERT_TRUE(cable.readUntil("/config # ", 3000)) << cable.seen().toStdString();
    cable.send("ls\r");
    EXPECT_TRUE(cable.readUntil("start.sh", 3000)) << cable.seen().toStdString();
    EXPECT_TRUE(sim.receivedFromProgram().startsWith("echo hello\rcd /config\r"));
}

TEST(ReceiverSimulator, NetworkCommandsOnlyRecordTheirArguments) {
    ReceiverSimulator sim;
    QString error;
    ASSERT_TRUE(sim.start({}, &error)) << error.toStdString();
    Cable cable(sim.portPath());
    // Typed ahead, as a user might: the shell takes them one after the other.
    cable.send("ifconfig eth0 192.168.1.50\r"
               "insmod /app/modules_sys/smsc911x.ko tx_dma=256\r"
               "echo do\"\"ne\r"); // the echo of the typed line must not match below
    ASSERT_TRUE(cable.readUntil("done\r\n", 3000)) << cable.seen().toStdString();
    EXPECT_EQ(sim.stubCalls(QStringLiteral("ifconfig")).join(u'|').toStdString(),
              "eth0 192.168.1.50");
    EXPECT_EQ(sim.stubCalls(QStringLiteral("insmod")).join(u'|').toStdString(),
              "/app/modules_sys/smsc911x.ko tx_dma=256");
}

TEST(ReceiverSimulator, SilentLineAnswersNothing) {
    ReceiverSimulator sim;
    ReceiverSimulator::Options options;
    options.withShell = false;
    QString error;
    ASSERT_TRUE(sim.start(options, &error)) << error.toStdString();
    Cable cable(sim.portPath());
    cable.send("\x03"
               "echo hello\r");
    EXPECT_FALSE(cable.readUntil("hello", 600));
    EXPECT_TRUE(cable.seen().isEmpty());
    EXPECT_EQ(sim.receivedFromProgram(), QByteArray("\x03"
                                                    "echo hello\r"));
}

TEST(ReceiverSimulator, ChangingToMissingConfigFolderFails) {
    ReceiverSimulator sim;
    ReceiverSimulator::Options options;
    options.withConfigDir = false;
    options.startDir = QStringLiteral("/data");
    QString error;
    ASSERT_TRUE(sim.start(options, &error)) << error.toStdString();
    Cable cable(sim.portPath());
    cable.send("cd /config\r");
    ASSERT_TRUE(cable.readUntil("/data # ", 3000)) << cable.seen().toStdString();
    EXPECT_FALSE(cable.seen().contains("/config #"));
}

TEST(ReceiverSimulator, StopRemovesEverything) {
    QString root;
    {
        ReceiverSimulator sim;
        QString error;
        ASSERT_TRUE(sim.start({}, &error)) << error.toStdString();
        root = sim.rootPath();
        ASSERT_TRUE(QFileInfo(root + QStringLiteral("/bin/busybox")).isFile());
        Cable cable(sim.portPath());
        // A child the shell started must die with it (the whole process group goes).
        cable.send("sleep 30 &\r");
        ASSERT_TRUE(cable.readUntil("/ # ", 3000));
        sim.stop();
        EXPECT_TRUE(sim.rootPath().isEmpty());
        sim.stop(); // a second stop is harmless
    }
    EXPECT_FALSE(QFileInfo::exists(root));
}
