// A port whose device vanished: a pseudo-terminal is never opened again, even when another
// user takes its number and makes it readable; a USB adapter only when it is the same one.
#include "log/session_log.h"
#include "serial/com_port.h"
#include "serial/port_replug.h"
#include "tests/support/pty_pair.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <QDir>

#include <QFile>

#include <memory>

#include <fcntl.h>
#include <grp.h>
#include <pty.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QString logText(const QString& folder) {
    QString all;
    for (const QFileInfo& file : QDir(folder).entryInfoList(QDir::Files)) {
        QFile f(file.filePath());
        if (f.open(QIODevice::ReadOnly))
            all += QString::fromUtf8(f.readAll());
    }
    return all;
}

// A child running as the user nobody opens pseudo-terminals until it holds path's number, makes
// it readable for all, says so on ready, and keeps it until the test closes its end of hold.
pid_t takeNumberAsOtherUser(const QString& path, int ready, const int hold[2]) {
    const passwd* other = ::getpwnam("nobody");
    const QByteArray wanted = path.toLocal8Bit();
    const pid_t pid = other ? ::fork() : -1;
    if (pid != 0)
        return pid;
    if (::setgroups(0, nullptr) != 0 || ::setresgid(other->pw_gid, other->pw_gid, other->pw_gid) ||
        ::setresuid(other->pw_uid, other->pw_uid, other->pw_uid))
        ::_exit(2);
    ::close(hold[1]);
    for (int tries = 0; tries < 300; ++tries) {
        int master = -1, slave = -1;
        char name[256] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
            ::_exit(3);
        if (wanted == name && ::fchmod(slave, 0666) == 0 && ::write(ready, "!", 1) == 1) {
            char byte;
            ::_exit(::read(hold[0], &byte, 1) == 0 ? 0 : 4);
        }
    }
    ::_exit(5);
}

TEST(PortReplug, PseudoTerminalBackUnderItsNumberForAnotherUserIsNotReopened) {
    stbtest::ScratchDir dir;
    SessionLog log(dir.path());
    auto first = std::make_unique<PtyPair>();
    const QString path = first->path();
    TComPort port;
    port.setDevicePath(path);
    port.Open();
    TPortReplug replug(port, log);
    QStringList lost, gone;
    QObject::connect(&replug, &TPortReplug::lost, [&](const QString& p) { lost << p; });
    QObject::connect(&replug, &TPortReplug::gone, [&](const QString& p) { gone << p; });

    first->closeMaster();
    ASSERT_TRUE(stbtest::spinUntil([&] { return !port.isOpen(); }, 3000));
    int ready[2], hold[2];
    ASSERT_EQ(::pipe2(ready, O_NONBLOCK), 0);
    ASSERT_EQ(::pipe(hold), 0);
    const pid_t child = takeNumberAsOtherUser(path, ready[1], hold);
    ASSERT_GT(child, 0);
    ::close(hold[0]);
    char byte = 0;
    EXPECT_TRUE(stbtest::spinUntil([&] { return ::read(ready[0], &byte, 1) == 1; }, 5000))
        << "the other user did not get " << path.toStdString();
    stbtest::spinUntil([] { return false; }, 1500); // three polls and the inotify event
    EXPECT_FALSE(port.isOpen()) << "reopened another user's terminal";
    ::close(hold[1]);
    int status = -1;
    ::waitpid(child, &status, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(gone, QStringList{path});
    EXPECT_TRUE(lost.isEmpty());
    EXPECT_FALSE(replug.watching());
    EXPECT_TRUE(logText(log.folder()).contains(QStringLiteral("%1 is gone; it is not").arg(path)));
}

TEST(PortReplug, AdapterIsKnownAgainOnlyByItsByIdNameOrSerial) {
    const DeviceIdentity serial{false, {}, "0403", "6001", "A50285BI"};
    const DeviceIdentity named{false, "usb-FTDI_FT232R-if00-port0", "0403", "6001", {}};
    const DeviceIdentity noSerial{false, {}, "1a86", "7523", {}};
    const DeviceIdentity pty{true, {}, {}, {}, {}};
    EXPECT_TRUE(serial.sameDevice(serial));
    EXPECT_TRUE(named.sameDevice(named));
    EXPECT_FALSE(serial.sameDevice(DeviceIdentity{false, {}, "0403", "6001", "A50285BJ"}));
    EXPECT_FALSE(serial.sameDevice(DeviceIdentity{false, {}, "0403", "6015", "A50285BI"}));
    EXPECT_FALSE(named.sameDevice(DeviceIdentity{false, "usb-FTDI_FT232R-if01-port0", {}, {}, {}}));
    EXPECT_FALSE(noSerial.sameDevice(noSerial)) << "any adapter of that make would pass";
    EXPECT_FALSE(pty.sameDevice(pty));
}

} // namespace
