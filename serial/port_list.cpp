#include "serial/port_list.h"

#include "serial/port_scan.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <sys/inotify.h>
#include <sys/stat.h>

namespace {

constexpr int kComEntries = 4; // ttyS0..ttyS3 are COM1..COM4 already
constexpr std::uint32_t kWatchMask =
    IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM | IN_ATTRIB;

bool isCharDevice(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISCHR(st.st_mode);
}

// "ttyUSB10" → {"ttyUSB", 10}.
std::pair<QString, int> nameAndNumber(const QString& name) {
    qsizetype digits = name.size();
    while (digits > 0 && name[digits - 1].isDigit())
        --digits;
    return {name.left(digits), name.mid(digits).toInt()};
}

} // namespace

TSerialPortList::TSerialPortList(const QString& devDir, const QString& byIdDir,
                                 const QString& sysDir, QObject* parent)
    : QObject(parent), m_devDir(devDir), m_byIdDir(byIdDir), m_sysDir(sysDir) {
    connect(&m_devWatch, &TDeviceWatch::changed, this, &TSerialPortList::lookAgain);
    connect(&m_byIdWatch, &TDeviceWatch::changed, this, &TSerialPortList::lookAgain);
}

QStringList TSerialPortList::ports() const {
    const QDir dev(m_devDir);
    QStringList names = dev.entryList(
        {QStringLiteral("ttyS*"), QStringLiteral("ttyUSB*"), QStringLiteral("ttyACM*")},
        QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    names.erase(std::remove_if(names.begin(), names.end(),
                               [&](const QString& name) {
                                   if (!isCharDevice(dev.filePath(name)))
                                       return true;
                                   if (!name.startsWith(QLatin1String("ttyS")))
                                       return false;
                                   return nameAndNumber(name).second < kComEntries ||
                                          !hasRealUart(m_sysDir, name);
                               }),
                names.end());
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        return nameAndNumber(a) < nameAndNumber(b);
    });
    // by-id entries are links; the device they lead to is the one listed.
    QHash<QString, QString> stableName;
    const QDir byId(m_byIdDir);
    for (const QString& link : byId.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot))
        stableName.insert(QFileInfo(byId.filePath(link)).canonicalFilePath(), byId.filePath(link));
    QStringList paths;
    for (const QString& name : names) {
        const QString path = dev.filePath(name);
        paths << stableName.value(QFileInfo(path).canonicalFilePath(), path);
    }
    return paths;
}

void TSerialPortList::follow() {
    m_last = ports();
    m_devWatch.watch(m_devDir, kWatchMask);
    // The by-id links follow their device a moment later; udev makes the folder itself with
    // the first adapter, so it is watched again whenever the device folder changes.
    m_byIdWatch.watch(m_byIdDir, kWatchMask);
}

void TSerialPortList::lookAgain() {
    if (!m_byIdWatch.watching())
        m_byIdWatch.watch(m_byIdDir, kWatchMask);
    QStringList now = ports();
    if (now == m_last)
        return;
    m_last = std::move(now);
    emit changed();
}
