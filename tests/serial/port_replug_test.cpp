// An unplugged adapter coming back: the port's device is a link to a pseudo-terminal; the
// pty goes away with its link, a new one comes under the same link, and the port reopens it
// within a second with the same line settings, sending nothing, the log telling both.
#include "log/session_log.h"
#include "serial/com_port.h"
#include "serial/port_replug.h"
#include "tests/support/pty_pair.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <memory>

#include <termios.h>

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

TEST(PortReplug, LinkRemovedAndRecreatedIsReopenedWithinASecond) {
    stbtest::ScratchDir dir;
    SessionLog log(dir.path());
    const QString link = dir.file(QStringLiteral("ttyUSB0"));
    auto first = std::make_unique<PtyPair>();
    ASSERT_TRUE(QFile::link(first->path(), link));
    TComPort port;
    port.setDevicePath(link);
    port.Open();
    TPortReplug replug(port, log);
    int lost = 0, back = 0;
    QObject::connect(&replug, &TPortReplug::lost, [&] { ++lost; });
    QObject::connect(&replug, &TPortReplug::reopened, [&] { ++back; });

    // Unplugged: the far end goes, then its name.
    first->closeMaster();
    ASSERT_TRUE(stbtest::spinUntil([&] { return !port.isOpen(); }, 3000));
    ASSERT_TRUE(QFile::remove(link));
    stbtest::spinUntil([] { return false; }, 700); // a while with nothing there
    EXPECT_EQ(lost, 1);
    EXPECT_TRUE(replug.watching());
    EXPECT_FALSE(port.isOpen());

    // Plugged in again under the same name.
    PtyPair second;
    ASSERT_TRUE(QFile::link(second.path(), link));
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(stbtest::spinUntil([&] { return port.isOpen(); }, 3000));
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_EQ(back, 1);
    EXPECT_FALSE(replug.watching());
    EXPECT_TRUE(second.read(1, 300).isEmpty()) << "nothing is sent on reopen";
    termios line{};
    ASSERT_EQ(::tcgetattr(second.master(), &line), 0);
    EXPECT_EQ(::cfgetospeed(&line), speed_t(B115200));
    EXPECT_TRUE(line.c_iflag & IXOFF);
    port.WriteText("ok\r");
    EXPECT_EQ(second.read(3, 2000), QByteArray("ok\r"));

    const QString text = logText(log.folder());
    EXPECT_TRUE(text.contains(QStringLiteral("serial port %1 is gone").arg(link)))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("serial port %1 is back").arg(link)));
}

} // namespace
