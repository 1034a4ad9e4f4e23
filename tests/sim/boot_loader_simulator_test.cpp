// The boot-loader stand-in: silent until its N-th carriage return, then a prompt per line; a
// real TFTP read from our own server; the two ways it reports the end of a transfer.
#include "tests/sim/boot_loader_simulator.h"

#include "net/tftp_server.h"
#include "tests/support/test_support.h"

#include <QFile>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using stbsim::BootLoaderSimulator;

TEST(BootLoaderSimulator, PromptAfterNthReturnThenLoadsAndBoots) {
    stbtest::ScratchDir served;
    QByteArray image(300000, Qt::Uninitialized);
    for (qsizetype i = 0; i < image.size(); ++i)
        image[i] = char(i * 7 + i / 256);
    QFile file(served.file(QStringLiteral("emergency.ub")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(image) == image.size());
    file.close();
    TTftpServer server;
    ASSERT_EQ(server.start({file.fileName().toStdString(), "emergency.ub", -1, "127.0.0.1"},
                           "127.0.0.1", 0),
              "");

    struct Case {
        int promptFromCr;
        bool badChecksum;
        const char* ending;
    };
    for (const Case& c : {Case{3, false, "Bytes transferred = 300000 (493e0 hex)\r\n"},
                          Case{1, true, "bad checksum\r\n"}}) {
        SCOPED_TRACE(c.promptFromCr);
        BootLoaderSimulator loader;
        QString error;
        ASSERT_TRUE(loader.start({c.promptFromCr, c.badChecksum, server.boundPort()}, &error))
            << error.toStdString();
        const int fd = ::open(QFile::encodeName(loader.portPath()).constData(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0);
        const auto send = [fd](const QByteArray& text) {
            ASSERT_EQ(::write(fd, text.constData(), size_t(text.size())), text.size());
        };
        for (int cr = 1; cr < c.promptFromCr; ++cr) {
            send("\r");
            EXPECT_FALSE(loader.waitForOutput("STB7100-REF> ", 100));
        }
        send("\r");
        ASSERT_TRUE(loader.waitForOutput("\r\nSTB7100-REF> ", 2000));
        send("set ipaddr 127.0.0.2\rset serverip 127.0.0.1\rtftp a4000000 emergency.ub\r");
        ASSERT_TRUE(loader.waitForOutput(c.ending, 10000)) << loader.sentToProgram().constData();
        EXPECT_EQ(loader.setCommands(), (QStringList{QStringLiteral("ipaddr 127.0.0.2"),
                                                     QStringLiteral("serverip 127.0.0.1")}));
        EXPECT_EQ(loader.tftpCount(), 1);
        EXPECT_TRUE(loader.loadedImage() == (c.badChecksum ? QByteArray() : image));
        send("bootm a4000000\r");
        ASSERT_TRUE(loader.waitForOutput("Starting kernel ...", 2000));
        EXPECT_EQ(loader.bootCount(), 1);
        // Booted: the loader no longer answers.
        const qsizetype printed = loader.sentToProgram().size();
        send("\r");
        EXPECT_FALSE(loader.waitForOutput("STB7100-REF> ", 200, printed));
        ::close(fd);
    }
}
