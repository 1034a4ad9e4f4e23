#include "tests/support/fake_udisks.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QFile>
#include <QMutexLocker>

#include <fcntl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

using Interfaces = QMap<QString, QVariantMap>;
using ManagedObjects = QMap<QDBusObjectPath, Interfaces>;

// Object paths allow no '-': udisks writes it as "_2d" (dm-0 -> dm_2d0).
QDBusObjectPath blockObject(QString name) {
    return QDBusObjectPath(QStringLiteral("/org/freedesktop/UDisks2/block_devices/") +
                           name.replace(QLatin1Char('-'), QStringLiteral("_2d")));
}

} // namespace

FakeUdisks::FakeUdisks(QString devicePath, QString backing, QString mountDir)
    : m_device(std::move(devicePath)), m_backing(std::move(backing)),
      m_mountDir(std::move(mountDir)) {}

FakeUdisks::~FakeUdisks() {
    QDBusConnection connection(m_connectionName);
    connection.unregisterObject(QStringLiteral("/org/freedesktop/UDisks2"),
                                QDBusConnection::UnregisterTree);
    m_thread.quit();
    m_thread.wait();
    QDBusConnection::disconnectFromBus(m_connectionName);
}

bool FakeUdisks::start(const QString& address) {
    qDBusRegisterMetaType<QList<QByteArray>>();
    qDBusRegisterMetaType<Interfaces>();
    qDBusRegisterMetaType<ManagedObjects>();
    m_thread.start();
    QDBusConnection connection = QDBusConnection::connectToBus(address, m_connectionName);
    // Registered while still on this thread, so the bus's helper object becomes our child
    // (and moves and dies with us); only then are calls answered on the daemon's thread.
    const bool registered =
        connection.isConnected() &&
        connection.registerVirtualObject(QStringLiteral("/org/freedesktop/UDisks2"), this,
                                         QDBusConnection::SubPath);
    moveToThread(&m_thread);
    return registered && connection.registerService(QStringLiteral("org.freedesktop.UDisks2"));
}

void FakeUdisks::addDisk(const FakeUdisksDisk& disk) {
    QMutexLocker lock(&m_mutex);
    const QString prefix = QStringLiteral("/org/freedesktop/UDisks2/");
    const QDBusObjectPath drive(
        disk.bus.isEmpty() ? QStringLiteral("/") : prefix + QStringLiteral("drives/") + disk.name);
    if (!disk.bus.isEmpty())
        m_objects[drive][QStringLiteral("org.freedesktop.UDisks2.Drive")] = {
            {"Vendor", QStringLiteral("Vendor ")},
            {"Model", QStringLiteral("Stick ") + disk.name},
            {"Removable", disk.removable},
            {"MediaRemovable", disk.mediaRemovable},
            {"ConnectionBus", disk.bus}};
    auto block = [&](const QString& name, quint64 size) {
        return QVariantMap{
            {"Device", QByteArray("/dev/" + name.toLatin1() + '\0')},
            {"DeviceNumber", QVariant::fromValue(quint64(makedev(8, m_nextMinor++)))},
            {"Size", QVariant::fromValue(size)},
            {"Drive", QVariant::fromValue(drive)},
            {"HintSystem", false},
            {"HintIgnore", false},
            {"CryptoBackingDevice", QVariant::fromValue(QDBusObjectPath(QStringLiteral("/")))}};
    };
    Interfaces& whole = m_objects[blockObject(disk.name)];
    whole[QStringLiteral("org.freedesktop.UDisks2.Block")] = block(disk.name, disk.size);
    QVariantMap& wholeBlock = whole[QStringLiteral("org.freedesktop.UDisks2.Block")];
    wholeBlock["HintSystem"] = disk.hintSystem;
    wholeBlock["HintIgnore"] = disk.hintIgnore;
    if (!disk.cryptoBacking.isEmpty())
        wholeBlock["CryptoBackingDevice"] = QVariant::fromValue(blockObject(disk.cryptoBacking));
    if (disk.loop)
        whole[QStringLiteral("org.freedesktop.UDisks2.Loop")] = {
            {"BackingFile", QByteArray("/tmp/disk.img")}};
    if (!disk.partitions.isEmpty())
        whole[QStringLiteral("org.freedesktop.UDisks2.PartitionTable")] = {{"Type", "dos"}};
    for (const QString& partition : disk.partitions) {
        Interfaces& object = m_objects[blockObject(partition)];
        object[QStringLiteral("org.freedesktop.UDisks2.Block")] = block(partition, 1000000000);
        object[QStringLiteral("org.freedesktop.UDisks2.Partition")] = {
            {"Table", QVariant::fromValue(blockObject(disk.name))}};
    }
}

void FakeUdisks::setMounted(bool mounted) {
    QMutexLocker lock(&m_mutex);
    m_mounted = mounted;
}

void FakeUdisks::setBusy(bool busy) {
    QMutexLocker lock(&m_mutex);
    m_busy = busy;
}

QStringList FakeUdisks::calls() const {
    QMutexLocker lock(&m_mutex);
    return m_calls;
}

QString FakeUdisks::introspect(const QString&) const {
    return {};
}

QVariant FakeUdisks::blockProperty(const QString& name) const {
    QProcess blkid;
    blkid.start(QStringLiteral("blkid"),
                {QStringLiteral("-p"), QStringLiteral("-o"), QStringLiteral("export"), m_backing});
    blkid.waitForFinished(-1);
    QVariantMap found;
    for (const QByteArray& line : blkid.readAllStandardOutput().split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0)
            found[QString::fromLatin1(line.left(eq))] = QString::fromUtf8(line.mid(eq + 1));
    }
    if (name == QLatin1String("IdType"))
        return found.value(QStringLiteral("TYPE"), QString());
    if (name == QLatin1String("IdVersion"))
        return found.value(QStringLiteral("VERSION"), QString());
    if (name == QLatin1String("IdLabel"))
        return found.value(QStringLiteral("LABEL"), QString());
    if (name == QLatin1String("IdUUID"))
        return found.value(QStringLiteral("UUID"), QString());
    if (name == QLatin1String("Size"))
        return QVariant::fromValue(quint64(QFile(m_backing).size()));
    return {};
}

bool FakeUdisks::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
    const QString member = message.member();
    const QVariantList args = message.arguments();
    auto reply = [&](const QVariantList& out) { connection.send(message.createReply(out)); };
    auto fail = [&](const QString& text) {
        connection.send(
            message.createErrorReply(QStringLiteral("org.freedesktop.UDisks2.Error.Failed"), text));
    };
    QMutexLocker lock(&m_mutex);
    if (member == QLatin1String("ResolveDevice")) {
        const QVariantMap wanted = qdbus_cast<QVariantMap>(args.value(0));
        const QString path = wanted.value(QStringLiteral("path")).toString();
        m_calls << QStringLiteral("ResolveDevice ") + path;
        QList<QDBusObjectPath> objects;
        if (path == m_device)
            objects << QDBusObjectPath(QString::fromLatin1(kObject));
        reply({QVariant::fromValue(objects)});
        return true;
    }
    if (member == QLatin1String("GetManagedObjects")) {
        m_calls << QStringLiteral("GetManagedObjects");
        reply({QVariant::fromValue(m_objects)});
        return true;
    }
    if (message.path() != QLatin1String(kObject))
        return false;
    if (member == QLatin1String("Get")) {
        const QString interface = args.value(0).toString();
        const QString name = args.value(1).toString();
        if (interface.endsWith(QLatin1String("Filesystem")) && name == "MountPoints") {
            QList<QByteArray> points;
            if (m_mounted)
                points << QFile::encodeName(m_mountDir) + '\0';
            reply({QVariant::fromValue(QDBusVariant(QVariant::fromValue(points)))});
        } else if (interface.endsWith(QLatin1String("Block"))) {
            reply({QVariant::fromValue(QDBusVariant(blockProperty(name)))});
        } else {
            connection.send(message.createErrorReply(
                QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"), "no such property"));
        }
        return true;
    }
    if (member == QLatin1String("OpenDevice")) {
        const QString mode = args.value(0).toString();
        const int flags =
            qdbus_cast<QVariantMap>(args.value(1)).value(QStringLiteral("flags")).toInt();
        m_calls << QStringLiteral("OpenDevice %1 %2%3")
                       .arg(mode, (flags & O_EXCL) ? "O_EXCL" : "",
                            (flags & O_DIRECT) ? "|O_DIRECT" : "");
        if (m_busy) {
            fail(QStringLiteral("Error opening %1: Device or resource busy").arg(m_device));
            return true;
        }
        const int fd = ::open(QFile::encodeName(m_backing).constData(),
                              (mode == "rw" ? O_RDWR : O_RDONLY) | (flags & O_DIRECT) | O_CLOEXEC);
        if (fd < 0) {
            fail(QStringLiteral("open failed"));
            return true;
        }
        reply({QVariant::fromValue(QDBusUnixFileDescriptor(fd))});
        ::close(fd);
        return true;
    }
    if (member == QLatin1String("Unmount")) {
        m_calls << QStringLiteral("Unmount");
        m_mounted = false;
        reply({});
        return true;
    }
    if (member == QLatin1String("Mount")) {
        m_calls << QStringLiteral("Mount");
        m_mounted = true;
        reply({m_mountDir});
        return true;
    }
    return false;
}

PrivateBus::PrivateBus() {
    m_daemon.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--session"), QStringLiteral("--nofork"),
                    QStringLiteral("--nopidfile"), QStringLiteral("--print-address")});
    if (m_daemon.waitForReadyRead(5000))
        m_address = QString::fromLatin1(m_daemon.readLine().trimmed());
}

PrivateBus::~PrivateBus() {
    m_daemon.terminate();
    m_daemon.waitForFinished(5000);
}
