// The port choice: which devices are offered, and the "Select Port" dialog that offers them.
#include "app/port_select_form.h"
#include "serial/com_port.h"
#include "serial/port_scan.h"
#include "tests/support/pty_pair.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>

namespace {

// A fake /dev whose device nodes are links to /dev/null (a character device anyone may
// use), and a fake /sys/class/tty with the UART types.
struct FakeDeviceTree {
    stbtest::ScratchDir scratch;
    QString dev = scratch.file(QStringLiteral("dev"));
    QString sys = scratch.file(QStringLiteral("sys"));
    FakeDeviceTree() {
        QDir().mkpath(dev);
        QDir().mkpath(sys);
    }
    void device(const QString& name) {
        QFile::link(QStringLiteral("/dev/null"), dev + QLatin1Char('/') + name);
    }
    void uartType(const QString& name, const QByteArray& type) {
        QDir().mkpath(sys + QLatin1Char('/') + name);
        QFile f(sys + QLatin1Char('/') + name + QStringLiteral("/type"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(type + "\n");
    }
};

QStringList portTexts(const QList<SerialDeviceEntry>& list) {
    QStringList out;
    for (const auto& e : list)
        out << e.portText;
    return out;
}

TEST(PortScan, OffersRealUartsAndUsbAdaptersInNaturalOrder) {
    FakeDeviceTree t;
    for (const char* n : {"ttyS0", "ttyS1", "ttyS3", "ttyS10", "ttyUSB10", "ttyUSB2", "ttyACM0"})
        t.device(QString::fromLatin1(n));
    t.uartType(QStringLiteral("ttyS0"), "4");
    t.uartType(QStringLiteral("ttyS1"), "0"); // placeholder without a UART
    t.uartType(QStringLiteral("ttyS10"), "4");
    // ttyS3 has no sysfs entry at all; ttyUSB5 is a plain file, not a device.
    QFile plain(t.dev + QStringLiteral("/ttyUSB5"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();

    const auto list = listSerialDevices(t.dev, t.sys);
    EXPECT_EQ(portTexts(list), (QStringList{"COM1", "COM11", t.dev + "/ttyACM0", t.dev + "/ttyUSB2",
                                            t.dev + "/ttyUSB10"}));
    ASSERT_FALSE(list.isEmpty());
    EXPECT_EQ(list[0].label, QStringLiteral("COM1 (%1/ttyS0)").arg(t.dev));
}

TEST(PortScan, EmptyTreeOffersNothing) {
    FakeDeviceTree t;
    EXPECT_TRUE(listSerialDevices(t.dev, t.sys).isEmpty());
}

QList<SerialDeviceEntry> twoPorts() {
    return {{QStringLiteral("COM2"), QStringLiteral("COM2 (/dev/ttyS1)")},
            {QStringLiteral("/dev/ttyUSB0"), QStringLiteral("/dev/ttyUSB0")}};
}

TEST(PortSelectForm, ShowsItsTextsAndPreselectsTheFirstPort) {
    TPortSelectForm form(twoPorts());
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Select Port"));
    EXPECT_EQ(form.Label1->text(), QStringLiteral("The configured serial port is not valid."));
    EXPECT_EQ(form.Label2->text(), QStringLiteral("Please choose another port."));
    EXPECT_EQ(form.OKButton->text(), QStringLiteral("OK"));
    EXPECT_EQ(form.CancelButton->text(), QStringLiteral("Cancel"));
    EXPECT_EQ(form.ComboBox1->count(), 2);
    EXPECT_EQ(form.selectedPort(), QStringLiteral("COM2"));
    form.ComboBox1->setCurrentIndex(1);
    EXPECT_EQ(form.selectedPort(), QStringLiteral("/dev/ttyUSB0"));
}

TEST(PortSelectForm, OkTakesTheSelectionCancelAndEmptyListGiveNone) {
    DialogPortChooser chooser;
    chooser.setDeviceLister(twoPorts);
    chooser.setRunner([](TPortSelectForm& form) {
        form.ComboBox1->setCurrentIndex(1);
        form.OKButton->click();
        return form.result();
    });
    EXPECT_EQ(chooser.choosePort(), std::optional<QString>(QStringLiteral("/dev/ttyUSB0")));

    chooser.setRunner([](TPortSelectForm& form) {
        form.CancelButton->click();
        return form.result();
    });
    EXPECT_EQ(chooser.choosePort(), std::nullopt);

    chooser.setDeviceLister([] { return QList<SerialDeviceEntry>{}; });
    chooser.setRunner([](TPortSelectForm& form) {
        EXPECT_FALSE(form.OKButton->isEnabled());
        return int(QDialog::Accepted);
    });
    EXPECT_EQ(chooser.choosePort(), std::nullopt);
}

TEST(PortSelectForm, ChosenPortIsOpened) {
    PtyPair pty;
    DialogPortChooser chooser;
    chooser.setDeviceLister([&] { return QList<SerialDeviceEntry>{{pty.path(), pty.path()}}; });
    chooser.setRunner([](TPortSelectForm& form) {
        form.OKButton->click();
        return form.result();
    });
    TComPort port;
    port.setPortChooser(&chooser);
    port.WriteText("ok");
    EXPECT_TRUE(port.isOpen());
    EXPECT_EQ(pty.read(2, 2000), QByteArray("ok"));
}

} // namespace
