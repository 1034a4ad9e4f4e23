#include "tests/support/real_udisks.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QThread>

namespace {

// Runs inside the namespaces; $1 is the scratch folder that holds the bus socket.
const char* const kRig = R"(set -e
R=$1
mount -t tmpfs tmpfs /run
mount -t tmpfs tmpfs /media
mount -t tmpfs tmpfs /var/lib
mount -t tmpfs -o mode=755 tmpfs /dev
mknod -m 666 /dev/null c 1 3; mknod -m 666 /dev/zero c 1 5; mknod -m 666 /dev/full c 1 7
mknod -m 666 /dev/random c 1 8; mknod -m 666 /dev/urandom c 1 9
mknod -m 660 /dev/loop-control c 10 237
for i in $(seq 0 255); do mknod -m 660 /dev/loop$i b 7 $i; done
mkdir -p /run/dbus /run/udev
sed -e "s|<listen>.*</listen>|<listen>unix:path=$R/bus</listen>|" \
    -e "s|<includedir>system.d</includedir>|<includedir>/usr/share/dbus-1/system.d</includedir>|" \
    -e '/<user>/d' -e '/<pidfile>/d' -e '/<servicehelper>/d' \
    /usr/share/dbus-1/system.conf > $R/system.conf
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; wait' TERM
dbus-daemon --config-file=$R/system.conf --nofork & pids+=($!)
/lib/systemd/systemd-udevd & pids+=($!)
for i in $(seq 200); do [ -S $R/bus ] && break; sleep 0.01; done
DBUS_SYSTEM_BUS_ADDRESS=unix:path=$R/bus /usr/libexec/udisks2/udisksd & pids+=($!)
wait
)";

} // namespace

RealUdisks::RealUdisks() {
    m_rig.setProcessChannelMode(QProcess::MergedChannels);
    m_rig.start(QStringLiteral("unshare"),
                {QStringLiteral("-m"), QStringLiteral("-n"), QStringLiteral("--propagation"),
                 QStringLiteral("private"), QStringLiteral("bash"), QStringLiteral("-c"),
                 QString::fromLatin1(kRig), QStringLiteral("rig"), m_dir.path()});
    if (!m_rig.waitForStarted())
        return;
    const QString address = QStringLiteral("unix:path=") + m_dir.file(QStringLiteral("bus"));
    const QString name = QStringLiteral("real-udisks-probe");
    QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired() && m_rig.state() == QProcess::Running) {
        {
            QDBusConnection bus = QDBusConnection::connectToBus(address, name);
            if (bus.isConnected() &&
                bus.interface()
                    ->isServiceRegistered(QStringLiteral("org.freedesktop.UDisks2"))
                    .value())
                m_address = address;
        }
        QDBusConnection::disconnectFromBus(name);
        if (!m_address.isEmpty())
            return;
        QThread::msleep(20);
    }
}

RealUdisks::~RealUdisks() {
    if (m_rig.state() == QProcess::Running) {
        m_rig.terminate();
        m_rig.waitForFinished(10000);
    }
}

QString RealUdisks::output() {
    m_output += QString::fromLocal8Bit(m_rig.readAll());
    return m_output;
}

QString RealUdisks::udisksctl(const QStringList& args) {
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), m_address);
    tool.setProcessEnvironment(env);
    tool.start(QStringLiteral("udisksctl"),
               QStringList{args.first(), QStringLiteral("--no-user-interaction")} + args.mid(1));
    tool.waitForFinished(30000);
    return tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0
               ? QString::fromLocal8Bit(tool.readAllStandardOutput()).trimmed()
               : QString();
}

QString RealUdisks::loopSetup(const QString& image) {
    // "Mapped file /tmp/.../stick.img as /dev/loop3."
    QString device = udisksctl({QStringLiteral("loop-setup"), QStringLiteral("-f"), image})
                         .section(QLatin1Char(' '), -1);
    if (device.endsWith(QLatin1Char('.')))
        device.chop(1);
    return device.startsWith(QLatin1String("/dev/loop")) ? device : QString();
}

void RealUdisks::loopDelete(const QString& device) {
    udisksctl({QStringLiteral("loop-delete"), QStringLiteral("-b"), device});
}
