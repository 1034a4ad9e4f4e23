#include "serial/port_scan.h"

#include "serial/com_port.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool usableCharDevice(const QString& path) {
    struct stat st {};
    const QByteArray native = QFile::encodeName(path);
    return ::stat(native.constData(), &st) == 0 && S_ISCHR(st.st_mode) &&
           ::access(native.constData(), R_OK | W_OK) == 0;
}

} // namespace

// sysfs reports type 0 (no UART) for the placeholder ports the 8250 driver always creates.
bool hasRealUart(const QString& sysRoot, const QString& name) {
    QFile type(sysRoot + QLatin1Char('/') + name + QStringLiteral("/type"));
    if (!type.open(QIODevice::ReadOnly))
        return false;
    bool ok = false;
    const int value = type.readAll().trimmed().toInt(&ok);
    return ok && value != 0;
}

namespace {

int numberOf(const QString& name) {
    static const QRegularExpression digits(QStringLiteral("([0-9]+)$"));
    const auto m = digits.match(name);
    return m.hasMatch() ? m.captured(1).toInt() : 0;
}

} // namespace

QList<SerialDeviceEntry> listSerialDevices(const QString& devRoot, const QString& sysRoot) {
    QList<SerialDeviceEntry> builtIn;
    QList<SerialDeviceEntry> usb;
    const QDir dev(devRoot);
    const QStringList names = dev.entryList(
        {QStringLiteral("ttyS*"), QStringLiteral("ttyUSB*"), QStringLiteral("ttyACM*")},
        QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        const QString path = dev.filePath(name);
        if (name.startsWith(QLatin1String("ttyS"))) {
            const int n = numberOf(name);
            if (n + 1 > TComPort::kMaxComNumber || !hasRealUart(sysRoot, name) ||
                !usableCharDevice(path))
                continue;
            builtIn.append({QStringLiteral("COM%1").arg(n + 1),
                            QStringLiteral("COM%1 (%2)").arg(n + 1).arg(path)});
        } else if (usableCharDevice(path)) {
            usb.append({path, path});
        }
    }
    // Natural order: ttyS2 before ttyS10, ttyACM* before ttyUSB*.
    const auto byNameAndNumber = [](const SerialDeviceEntry& a, const SerialDeviceEntry& b) {
        const QString na = a.portText.section(QLatin1Char('/'), -1);
        const QString nb = b.portText.section(QLatin1Char('/'), -1);
        const QString pa = na.left(na.size() - QString::number(numberOf(na)).size());
        const QString pb = nb.left(nb.size() - QString::number(numberOf(nb)).size());
        return pa != pb ? pa < pb : numberOf(na) < numberOf(nb);
    };
    std::sort(builtIn.begin(), builtIn.end(), byNameAndNumber);
    std::sort(usb.begin(), usb.end(), byNameAndNumber);
    return builtIn + usb;
}
