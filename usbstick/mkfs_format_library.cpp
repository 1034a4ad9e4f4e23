#include "usbstick/mkfs_format_library.h"

#include "core/posix_io.h"
#include "usbstick/block_tools.h"
#include "usbstick/volume_probe.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace usbstick {

namespace {

UniqueFd openPath(const QString& path, int flags) {
    return UniqueFd(::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC));
}

bool isBlockDevice(const QString& path) {
    struct stat st {};
    return stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISBLK(st.st_mode);
}

bool isOpenBlockDevice(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 && S_ISBLK(st.st_mode);
}

QString errorText(int error) {
    return QString::fromLocal8Bit(strerror(error));
}

QProcessEnvironment mtoolsEnvironment() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // A stick formatted without a partition table has no geometry mtools would accept.
    env.insert(QStringLiteral("MTOOLS_SKIP_CHECK"), QStringLiteral("1"));
    return env;
}

bool runQuiet(const QString& program, const QStringList& args) {
    QProcess process;
    process.setProcessEnvironment(mtoolsEnvironment());
    process.start(program, args);
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

} // namespace

MkfsFormatLibrary::MkfsFormatLibrary(QString mountInfoPath)
    : m_mountInfoPath(std::move(mountInfoPath)) {}

bool MkfsFormatLibrary::usable() {
    return !findTool(QStringLiteral("mkfs.fat")).isEmpty();
}

std::optional<DriveIdentity> MkfsFormatLibrary::identify(const QString& drive) {
    return identityOfPath(drive);
}

QStringList MkfsFormatLibrary::mountPointsOf(const QString& drive) const {
    struct stat st {};
    if (stat(QFile::encodeName(drive).constData(), &st) != 0 || !S_ISBLK(st.st_mode))
        return {};
    QFile file(m_mountInfoPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList points;
    for (const MountEntry& e : parseMountInfo(file.readAll()))
        if (e.major == major(st.st_rdev) && e.minor == minor(st.st_rdev))
            points << e.mountPoint;
    return points;
}

VolumeInfo MkfsFormatLibrary::queryVolume(const QString& drive) {
    VolumeInfo info;
    const HeldVolume fd(drive, std::nullopt);
    if (!fd.ok())
        return info;
    info.found = true;
    info.mountPoint = mountPointsOf(drive).value(0);
    if (const auto fat = readFatVolume(fd.fd())) {
        info.fileSystem = fat->fileSystem;
        info.label = fat->label;
        info.totalBytes = sizeOfOpenVolume(fd.fd());
        info.freeBytes = fat->freeBytes;
        return info;
    }
    // Other file systems only need a name, so a quick format is not asked for on them.
    const QString blkid = findTool(QStringLiteral("blkid"));
    if (blkid.isEmpty())
        return info;
    QProcess process;
    process.start(blkid,
                  {QStringLiteral("-p"), QStringLiteral("-o"), QStringLiteral("export"), drive});
    process.waitForFinished(-1);
    for (const QByteArray& line : process.readAllStandardOutput().split('\n')) {
        if (line.startsWith("TYPE="))
            info.fileSystem = QString::fromUtf8(line.mid(5)).toUpper();
        else if (line.startsWith("LABEL="))
            info.label = QString::fromUtf8(line.mid(6));
    }
    if (!info.fileSystem.isEmpty())
        info.totalBytes = sizeOfOpenVolume(fd.fd());
    return info;
}

std::optional<QString> MkfsFormatLibrary::claimVolume(const QString& drive) {
    if (!isBlockDevice(drive))
        return std::nullopt;
    for (const QString& point : mountPointsOf(drive)) {
        if (umount2(QFile::encodeName(point).constData(), 0) != 0)
            return QStringLiteral("mounted at %1 (%2)").arg(point, errorText(errno));
    }
    if (openPath(drive, O_WRONLY | O_EXCL).valid())
        return std::nullopt;
    if (errno != EBUSY)
        return std::nullopt; // not a holder: the format reports the real reason
    const QString holders = describeHolders(drive);
    return holders.isEmpty() ? QStringLiteral("busy") : QStringLiteral("held by ") + holders;
}

void MkfsFormatLibrary::formatVolume(const FormatRequest& request, const FormatReportFn& report) {
    const auto fail = [&](const QString& why) {
        reportText(report, why);
        reportDone(report, false);
    };
    const HeldVolume held(request.drive, identityOf(request.confirmed));
    if (!held.ok()) {
        if (held.openError() == EACCES || held.openError() == EPERM)
            report(kInsufficientRights, nullptr);
        return fail(held.error());
    }
    const bool blockDevice = isOpenBlockDevice(held.fd());
    if (blockDevice) {
        if (const auto why = partitionedDiskRefusal(request.drive, held.fd(), request.confirmed))
            return fail(*why);
    }
    if (!request.quick) {
        // O_DIRECT reads the medium rather than the page cache; file systems without direct
        // I/O (tmpfs) refuse it.
        std::optional<HeldVolume> reader;
        reader.emplace(held.toolPath(), identityOf(request.confirmed),
                       O_RDONLY | O_EXCL | O_DIRECT);
        if (reader->openError() == EINVAL)
            reader.emplace(held.toolPath(), identityOf(request.confirmed), O_RDONLY | O_EXCL);
        if (!reader->ok())
            return fail(reader->error());
        const int64_t size = sizeOfOpenVolume(reader->fd());
        if (size <= 0 || !readEveryBlock(reader->fd(), size, 0, 99, report)) {
            reportDone(report, false);
            return;
        }
    } else if (!reportPercent(report, 0)) {
        reportDone(report, false);
        return;
    }
    const bool made = makeFileSystem(request, held.toolPath(), blockDevice, report);
    if (made) {
        report(kStructureCreated, nullptr);
        reportPercent(report, 100);
    }
    reportDone(report, made);
}

bool MkfsFormatLibrary::makeFileSystem(const FormatRequest& request, const QString& target,
                                       bool blockDevice, const FormatReportFn& report) {
    if (request.fileSystem == QLatin1String("NTFS")) {
        const QString mkntfs = findTool(QStringLiteral("mkfs.ntfs"));
        if (mkntfs.isEmpty()) {
            reportText(report, QStringLiteral("mkfs.ntfs is not installed"));
            return false;
        }
        return runTool(mkntfs,
                       {QStringLiteral("-F"), QStringLiteral("-Q"), QStringLiteral("-L"),
                        request.label, target},
                       report);
    }
    uint32_t sectorBytes = 512;
    QStringList args;
    if (blockDevice) {
        const UniqueFd fd = openPath(target, O_RDONLY);
        int logical = 0;
        if (fd.valid() && ioctl(fd.get(), BLKSSZGET, &logical) == 0 && logical > 0)
            sectorBytes = uint32_t(logical);
        // mkfs.fat's own refusal of a whole disk stays on unless the user chose the whole.
        if (request.confirmed && request.confirmed->wholeDevice)
            args << QStringLiteral("-I");
    }
    args << mkfsFatArguments(request, sectorBytes) << target;
    return runTool(findTool(QStringLiteral("mkfs.fat")), args, report);
}

bool MkfsFormatLibrary::createFolder(const QString& drive, const QString& relativePath,
                                     const std::optional<ConfirmedDrive>& confirmed, QString* why) {
    const QString mounted = mountPointsOf(drive).value(0);
    if (!mounted.isEmpty()) {
        // A mounted file system keeps its device; it must be the confirmed one.
        struct stat st {};
        if (confirmed && (stat(QFile::encodeName(mounted).constData(), &st) != 0 ||
                          st.st_dev != dev_t(confirmed->identity.number) ||
                          identityMismatch(drive, confirmed->identity, identify(drive)))) {
            *why = drive + QStringLiteral(" is no longer the drive that was confirmed");
            return false;
        }
        QDir(mounted).mkpath(relativePath);
        if (QFileInfo(mounted + QLatin1Char('/') + relativePath).isDir())
            return true;
        *why = QStringLiteral("cannot make %1 on %2").arg(relativePath, mounted);
        return false;
    }
    const QString mmd = findTool(QStringLiteral("mmd"));
    const QString mdir = findTool(QStringLiteral("mdir"));
    if (mmd.isEmpty() || mdir.isEmpty()) {
        *why = QStringLiteral("mtools are not installed");
        return false;
    }
    const HeldVolume held(drive, identityOf(confirmed));
    if (!held.ok()) {
        *why = held.error();
        return false;
    }
    QString level = QStringLiteral("::");
    for (const QString& part : relativePath.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        level += (level.size() > 2 ? QStringLiteral("/") : QString()) + part;
        // An existing level makes mmd fail; whether the whole path is there is asked below.
        runQuiet(mmd, {QStringLiteral("-i"), held.toolPath(), level});
    }
    if (runQuiet(mdir, {QStringLiteral("-i"), held.toolPath(), level}))
        return true;
    *why = QStringLiteral("cannot make %1 on %2").arg(relativePath, drive);
    return false;
}

} // namespace usbstick
