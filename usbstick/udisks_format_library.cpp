#include "usbstick/udisks_format_library.h"
#include "usbstick/udisks_names.h"

#include "usbstick/block_tools.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace usbstick {

namespace {

using namespace udisks;

constexpr int kTimeoutMs = 120000; // a password prompt may stand in between

QString fromBytes(QByteArray bytes) {
    while (bytes.endsWith('\0'))
        bytes.chop(1);
    return QString::fromLocal8Bit(bytes);
}

} // namespace

UdisksFormatLibrary::UdisksFormatLibrary(QDBusConnection bus, int settleMs)
    : m_bus(std::move(bus)), m_settleMs(settleMs) {}

bool UdisksFormatLibrary::usable() {
    return m_bus.isConnected() && m_bus.interface() &&
           m_bus.interface()->isServiceRegistered(kService).value() &&
           !findTool(QStringLiteral("mkfs.fat")).isEmpty();
}

std::optional<DriveIdentity> UdisksFormatLibrary::identify(const QString& drive) {
    return identityOfPath(drive);
}

QString UdisksFormatLibrary::objectOf(const QString& drive) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        kService, kManager, QStringLiteral("org.freedesktop.UDisks2.Manager"),
        QStringLiteral("ResolveDevice"));
    call << QVariantMap{{QStringLiteral("path"), drive}} << QVariantMap{};
    const QDBusReply<QList<QDBusObjectPath>> reply = m_bus.call(call, QDBus::Block, kTimeoutMs);
    return reply.isValid() && !reply.value().isEmpty() ? reply.value().first().path() : QString();
}

QVariant UdisksFormatLibrary::property(const QString& object, const QString& interface,
                                       const QString& name) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        kService, object, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << interface << name;
    const QDBusReply<QDBusVariant> reply = m_bus.call(call, QDBus::Block, kTimeoutMs);
    return reply.isValid() ? reply.value().variant() : QVariant();
}

QStringList UdisksFormatLibrary::mountPoints(const QString& object) {
    QStringList points;
    const QVariant value = property(object, kFilesystem, QStringLiteral("MountPoints"));
    if (!value.canConvert<QDBusArgument>())
        return points;
    const QDBusArgument arg = value.value<QDBusArgument>();
    arg.beginArray();
    while (!arg.atEnd()) {
        QByteArray point;
        arg >> point;
        points << fromBytes(point);
    }
    arg.endArray();
    return points;
}

VolumeInfo UdisksFormatLibrary::queryVolume(const QString& drive) {
    VolumeInfo info;
    const QString object = objectOf(drive);
    if (object.isEmpty())
        return info;
    info.found = true;
    const QString type = property(object, kBlock, QStringLiteral("IdType")).toString();
    const QString version = property(object, kBlock, QStringLiteral("IdVersion")).toString();
    info.label = property(object, kBlock, QStringLiteral("IdLabel")).toString();
    if (type == QLatin1String("vfat"))
        info.fileSystem =
            version == QLatin1String("FAT32") ? QStringLiteral("FAT32") : QStringLiteral("FAT");
    else
        info.fileSystem = type.toUpper();
    if (!type.isEmpty())
        info.totalBytes = property(object, kBlock, QStringLiteral("Size")).toLongLong();
    info.mountPoint = mountPoints(object).value(0);
    struct statvfs fs {};
    if (!info.mountPoint.isEmpty() &&
        statvfs(QFile::encodeName(info.mountPoint).constData(), &fs) == 0)
        info.freeBytes = int64_t(fs.f_bavail) * int64_t(fs.f_frsize);
    return info;
}

UniqueFd UdisksFormatLibrary::openDevice(const QString& drive, const QString& mode, int flags,
                                         QString* errorText) {
    const QString object = objectOf(drive);
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, object, kBlock, QStringLiteral("OpenDevice"));
    call << mode << QVariantMap{{QStringLiteral("flags"), flags}};
    const QDBusReply<QDBusUnixFileDescriptor> reply =
        object.isEmpty() ? QDBusReply<QDBusUnixFileDescriptor>()
                         : m_bus.call(call, QDBus::Block, kTimeoutMs);
    if (!reply.isValid()) {
        if (errorText)
            *errorText =
                object.isEmpty() ? QStringLiteral("no such device") : reply.error().message();
        return {};
    }
    return UniqueFd(::dup(reply.value().fileDescriptor())); // the reply's copy closes with it
}

std::optional<QString> UdisksFormatLibrary::claimVolume(const QString& drive) {
    const QString object = objectOf(drive);
    if (object.isEmpty())
        return std::nullopt;
    for (const QString& point : mountPoints(object)) {
        QDBusMessage call = QDBusMessage::createMethodCall(kService, object, kFilesystem,
                                                           QStringLiteral("Unmount"));
        call << QVariantMap{};
        const QDBusMessage reply = m_bus.call(call, QDBus::Block, kTimeoutMs);
        if (reply.type() == QDBusMessage::ErrorMessage)
            return QStringLiteral("mounted at %1 (%2)").arg(point, reply.errorMessage());
    }
    QString error;
    if (openDevice(drive, QStringLiteral("r"), O_EXCL, &error).valid())
        return std::nullopt;
    if (error.contains(QLatin1String("busy"), Qt::CaseInsensitive))
        return QStringLiteral("busy (%1)").arg(error);
    return std::nullopt; // refused for another reason: the format reports it
}

void UdisksFormatLibrary::formatVolume(const FormatRequest& request, const FormatReportFn& report) {
    const auto fail = [&](const QString& why) {
        reportText(report, why);
        reportDone(report, false);
    };
    // Every descriptor udisks hands out is checked before it is used.
    const auto opened = [&](const QString& mode, int flags, QString* why) {
        UniqueFd fd = openDevice(request.drive, mode, flags, why);
        if (!fd.valid()) {
            *why = request.drive + QStringLiteral(": ") + *why;
            return fd;
        }
        std::optional<QString> refusal;
        if (request.confirmed)
            refusal = openDeviceMismatch(request.drive, request.confirmed->identity, fd.get());
        if (!refusal)
            refusal = partitionedDiskRefusal(request.drive, fd.get(), request.confirmed);
        if (refusal) {
            *why = *refusal;
            return UniqueFd();
        }
        return fd;
    };
    QString error;
    if (!request.quick) {
        bool read = false;
        {
            const UniqueFd readFd = opened(QStringLiteral("r"), O_EXCL | O_DIRECT, &error);
            if (!readFd.valid())
                return fail(error);
            read = readEveryBlock(readFd.get(), sizeOfOpenVolume(readFd.get()), 0, 99, report);
        } // closed before the device is opened again for writing
        if (!read) {
            reportDone(report, false);
            return;
        }
    } else if (!reportPercent(report, 0)) {
        reportDone(report, false);
        return;
    }
    UniqueFd fd = opened(QStringLiteral("rw"), O_EXCL, &error);
    if (!fd.valid()) {
        if (error.contains(QLatin1String("Not authorized"), Qt::CaseInsensitive))
            report(kInsufficientRights, nullptr);
        return fail(error);
    }
    const QString object = objectOf(request.drive);
    const std::optional<uint32_t> serial = writeFileSystem(fd.get(), object, request, report);
    fd.reset(); // udev probes the device again on this close
    if (!serial) {
        reportDone(report, false);
        return;
    }
    if (!waitForVolume(object, fatSerialText(*serial)))
        return fail(QStringLiteral("%1: udisks did not report the new file system %2 within %3 ms")
                        .arg(request.drive, fatSerialText(*serial))
                        .arg(m_settleMs));
    report(kStructureCreated, nullptr);
    reportPercent(report, 100);
    reportDone(report, true);
}

bool UdisksFormatLibrary::waitForVolume(const QString& object, const QString& uuid) {
    QDeadlineTimer deadline(m_settleMs);
    for (;;) {
        if (property(object, kBlock, QStringLiteral("IdType")).toString() == "vfat" &&
            property(object, kBlock, QStringLiteral("IdUUID")).toString().toUpper() == uuid)
            return true;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
}

// mkfs.fat cannot be run on the descriptor udisks hands out (reopening it through /proc
// would check the device node's permissions again), so it formats a sparse scratch image of
// the same size and geometry, and the part it wrote - boot sectors, FATs and the root
// directory's cluster - is copied onto the device.
std::optional<uint32_t> UdisksFormatLibrary::writeFileSystem(int fd, const QString& object,
                                                             const FormatRequest& request,
                                                             const FormatReportFn& report) {
    const int64_t size = sizeOfOpenVolume(fd);
    int sectorBytes = 512;
    if (ioctl(fd, BLKSSZGET, &sectorBytes) != 0 || sectorBytes <= 0)
        sectorBytes = 512;
    QTemporaryDir scratch;
    QFile image(scratch.filePath(QStringLiteral("volume.img")));
    if (size <= 0 || !scratch.isValid() || !image.open(QIODevice::WriteOnly) ||
        !image.resize(size)) {
        reportText(report, QStringLiteral("cannot make a scratch image of %1 bytes").arg(size));
        return std::nullopt;
    }
    image.close();
    QStringList args = mkfsFatArguments(request, uint32_t(sectorBytes));
    args << QStringLiteral("-S") << QString::number(sectorBytes);
    const qlonglong offset = property(object, kPartition, QStringLiteral("Offset")).toLongLong();
    if (offset > 0) // the boot sector records where the partition starts
        args << QStringLiteral("-h") << QString::number(offset / sectorBytes);
    args << image.fileName();
    if (!runTool(findTool(QStringLiteral("mkfs.fat")), args, report))
        return std::nullopt;
    if (!image.open(QIODevice::ReadOnly))
        return std::nullopt;
    const int imageFd = image.handle();
    const auto fat = readFatVolume(imageFd);
    if (!fat)
        return std::nullopt;
    const int64_t systemBytes = fat->dataStartBytes + fat->clusterBytes;
    QByteArray chunk;
    for (int64_t at = 0; at < systemBytes; at += chunk.size()) {
        chunk.resize(int(std::min<int64_t>(4 << 20, systemBytes - at)));
        if (pread(imageFd, chunk.data(), size_t(chunk.size()), at) != chunk.size() ||
            pwrite(fd, chunk.constData(), size_t(chunk.size()), at) != chunk.size()) {
            reportText(report, QStringLiteral("write failed at byte %1").arg(at));
            return std::nullopt;
        }
    }
    if (fsync(fd) != 0) {
        reportText(report, QStringLiteral("the written file system could not be flushed"));
        return std::nullopt;
    }
    return fat->serial;
}

bool UdisksFormatLibrary::createFolder(const QString& drive, const QString& relativePath,
                                       const std::optional<ConfirmedDrive>& confirmed,
                                       QString* why) {
    const QString object = objectOf(drive);
    if (object.isEmpty()) {
        *why = drive + QStringLiteral(": no such device for udisks");
        return false;
    }
    if (confirmed) {
        if (const auto refusal = identityMismatch(drive, confirmed->identity, identify(drive))) {
            *why = *refusal;
            return false;
        }
    }
    QString mounted = mountPoints(object).value(0);
    if (mounted.isEmpty()) {
        QDBusMessage call =
            QDBusMessage::createMethodCall(kService, object, kFilesystem, QStringLiteral("Mount"));
        call << QVariantMap{};
        const QDBusReply<QString> reply = m_bus.call(call, QDBus::Block, kTimeoutMs);
        if (!reply.isValid()) {
            *why = drive + QStringLiteral(": ") + reply.error().message();
            return false;
        }
        mounted = reply.value();
    }
    // The file system mounted there lives on the confirmed device, or nothing is written.
    struct stat st {};
    if (confirmed && (stat(QFile::encodeName(mounted).constData(), &st) != 0 ||
                      st.st_dev != dev_t(confirmed->identity.number))) {
        *why = mounted + QStringLiteral(" is not on the drive that was confirmed");
        return false;
    }
    QDir(mounted).mkpath(relativePath);
    if (QFileInfo(mounted + QLatin1Char('/') + relativePath).isDir())
        return true;
    *why = QStringLiteral("cannot make %1 on %2").arg(relativePath, mounted);
    return false;
}

} // namespace usbstick
