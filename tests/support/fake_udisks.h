#pragma once
// A stand-in for the udisks2 daemon on a private bus, with the interface parts the format
// service uses: Manager.ResolveDevice, Block.OpenDevice and the Block properties,
// Filesystem.Unmount/Mount/MountPoints. One device, backed by an image file; the file system
// properties come from blkid on that file. Every call is recorded as one line. It answers on
// a thread of its own, so a test may call it with blocking calls from the main thread.
// For the drive list it also answers ObjectManager.GetManagedObjects with the disks a test
// adds: block devices, their partitions and drives, as udisks describes them.
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QMutex>
#include <QProcess>
#include <QStringList>
#include <QThread>

// One disk as udisks would describe it. Device numbers are 8:<n>, n counted from 0 over the
// disks and their partitions in the order they were added.
struct FakeUdisksDisk {
    QString name = {};      // sdb: /dev/sdb, partitions /dev/sdb1...
    QString bus = {};       // the drive's ConnectionBus; empty: no drive at all
    bool removable = false; // the drive's Removable
    bool mediaRemovable = false;
    quint64 size = 0;            // bytes; each partition is 1 GB
    QStringList partitions = {}; // sdb1, sdb2
    bool hintSystem = false;     // on the disk's block
    bool hintIgnore = false;
    bool loop = false;          // carries the Loop interface
    QString cryptoBacking = {}; // a device this block is built on (dm-0 on sdh1)
};

class FakeUdisks : public QDBusVirtualObject {
public:
    static constexpr const char* kObject = "/org/freedesktop/UDisks2/block_devices/sdz1";

    // devicePath: the name clients use (/dev/sdz1); backing: the image file behind it;
    // mountDir: a folder that stands for the mount point (nothing is mounted).
    FakeUdisks(QString devicePath, QString backing, QString mountDir);
    ~FakeUdisks() override;

    // Connects to the bus at address, owns org.freedesktop.UDisks2 and starts answering.
    bool start(const QString& address);

    void addDisk(const FakeUdisksDisk& disk);
    void setMounted(bool mounted);
    void setBusy(bool busy);
    QStringList calls() const;

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

private:
    QVariant blockProperty(const QString& name) const;

    QString m_device;
    QString m_backing;
    QString m_mountDir;
    QThread m_thread;
    mutable QMutex m_mutex;
    QStringList m_calls;
    QMap<QDBusObjectPath, QMap<QString, QVariantMap>> m_objects;
    int m_nextMinor = 0;
    bool m_mounted = false;
    bool m_busy = false;
    QString m_connectionName = QStringLiteral("fake-udisks");
};

// A private bus (dbus-daemon --session) for one test; stopped when the object dies.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    const QString& address() const { return m_address; }

private:
    QProcess m_daemon;
    QString m_address;
};
