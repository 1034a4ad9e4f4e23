#include "usbstick/block_tools.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <memory>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace usbstick {

namespace {

constexpr int64_t kChunkBytes = 4 << 20;
constexpr size_t kAlignment = 4096;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

QByteArray readAt(int fd, int64_t offset, int length) {
    QByteArray bytes(length, '\0');
    const ssize_t got = pread(fd, bytes.data(), size_t(length), offset);
    return got == length ? bytes : QByteArray();
}

} // namespace

bool reportText(const FormatReportFn& report, const QString& line) {
    const QByteArray bytes = line.toLocal8Bit();
    const TextReport text{1, bytes.constData()};
    return report(kTextOutput, &text);
}

bool reportPercent(const FormatReportFn& report, int32_t percent) {
    return report(kProgress, &percent);
}

bool reportDone(const FormatReportFn& report, bool success) {
    const uint8_t byte = success ? 1 : 0;
    return report(kDone, &byte);
}

int64_t sizeOfOpenVolume(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0)
        return -1;
    if (S_ISREG(st.st_mode))
        return st.st_size;
    uint64_t bytes = 0;
    if (S_ISBLK(st.st_mode) && ioctl(fd, BLKGETSIZE64, &bytes) == 0)
        return int64_t(bytes);
    return -1;
}

bool readEveryBlock(int fd, int64_t size, int firstPercent, int lastPercent,
                    const FormatReportFn& report) {
    // O_DIRECT (when the caller opened with it) needs an aligned buffer; it keeps the pass
    // honest, reading the medium rather than the page cache.
    std::unique_ptr<void, FreeDeleter> buffer(std::aligned_alloc(kAlignment, kChunkBytes));
    if (!buffer)
        return false;
    int lastSent = firstPercent;
    if (!reportPercent(report, firstPercent))
        return false;
    for (int64_t offset = 0; offset < size;) {
        const int64_t want = std::min<int64_t>(kChunkBytes, size - offset);
        const ssize_t got = preadRetrying(fd, buffer.get(), size_t(want), offset);
        if (got <= 0) {
            const int error = got < 0 ? errno : EIO;
            reportText(report, QStringLiteral("Bad block at byte %1: %2")
                                   .arg(offset)
                                   .arg(QString::fromLocal8Bit(strerror(error))));
            return false;
        }
        offset += got;
        const int percent = firstPercent + int((lastPercent - firstPercent) * offset / size);
        if (percent != lastSent) {
            lastSent = percent;
            if (!reportPercent(report, percent))
                return false;
        }
    }
    return true;
}

QString findTool(const QString& name) {
    return QStandardPaths::findExecutable(name,
                                          {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin"),
                                           QStringLiteral("/sbin"), QStringLiteral("/bin")});
}

HeldVolume::HeldVolume(const QString& drive, const std::optional<DriveIdentity>& confirmed,
                       int flags) {
    m_fd.reset(::open(QFile::encodeName(drive).constData(), flags | O_CLOEXEC));
    if (!m_fd.valid()) {
        m_errno = errno;
        m_error = drive + QStringLiteral(": ") + QString::fromLocal8Bit(strerror(m_errno));
        return;
    }
    if (confirmed) {
        if (const auto why = openDeviceMismatch(drive, *confirmed, m_fd.get()))
            m_error = *why;
    }
}

QString HeldVolume::toolPath() const {
    return QStringLiteral("/proc/%1/fd/%2").arg(getpid()).arg(m_fd.get());
}

std::optional<QString> partitionedDiskRefusal(const QString& drive, int fd,
                                              const std::optional<ConfirmedDrive>& confirmed) {
    if (confirmed && confirmed->wholeDevice)
        return std::nullopt;
    const auto identity = identityOfOpenDevice(fd);
    if (identity && wholeDiskWithPartitions(*identity))
        return drive + QStringLiteral(" is a whole disk with partitions; a partition is expected");
    return std::nullopt;
}

std::optional<DriveIdentity> identityOf(const std::optional<ConfirmedDrive>& confirmed) {
    return confirmed ? std::optional<DriveIdentity>(confirmed->identity) : std::nullopt;
}

QStringList mkfsFatArguments(const FormatRequest& request, uint32_t sectorBytes) {
    QStringList args;
    // "FAT" is the 16-bit FAT; FAT32 is forced even on sticks below 512 MiB, where the
    // tool on its own would choose FAT16.
    args << QStringLiteral("-F")
         << (request.fileSystem == QLatin1String("FAT") ? QStringLiteral("16")
                                                        : QStringLiteral("32"));
    if (!request.label.isEmpty())
        args << QStringLiteral("-n") << request.label;
    if (sectorBytes == 0)
        sectorBytes = 512;
    if (request.clusterSize >= sectorBytes)
        args << QStringLiteral("-s") << QString::number(request.clusterSize / sectorBytes);
    return args;
}

bool runTool(const QString& program, const QStringList& arguments, const FormatReportFn& report) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(-1)) {
        reportText(report, program + QStringLiteral(": ") + process.errorString());
        return false;
    }
    process.closeWriteChannel();
    process.waitForFinished(-1);
    for (const QByteArray& line : process.readAll().split('\n'))
        reportText(report, QString::fromLocal8Bit(line));
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

std::optional<FatVolume> readFatVolume(int fd) {
    auto volume = parseFatBootSector(readAt(fd, 0, 512));
    if (volume && volume->fsInfoSector != 0)
        applyFsInfoSector(*volume,
                          readAt(fd, int64_t(volume->fsInfoSector) * volume->bytesPerSector, 512));
    return volume;
}

QString describeHolders(const QString& devicePath) {
    struct stat target {};
    if (stat(QFile::encodeName(devicePath).constData(), &target) != 0)
        return {};
    QStringList holders;
    const QDir proc(QStringLiteral("/proc"));
    for (const QString& pid : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool numeric = false;
        if (pid.toInt(&numeric) == int(getpid()) || !numeric)
            continue;
        const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
        for (const QString& fd : fds.entryList(QDir::Files | QDir::System)) {
            struct stat st {};
            const QByteArray link = QFile::encodeName(fds.filePath(fd));
            const bool same = stat(link.constData(), &st) == 0 &&
                              (S_ISBLK(target.st_mode)
                                   ? (S_ISBLK(st.st_mode) && st.st_rdev == target.st_rdev)
                                   : (st.st_dev == target.st_dev && st.st_ino == target.st_ino));
            if (same) {
                QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
                comm.open(QIODevice::ReadOnly);
                holders << QStringLiteral("pid %1 (%2)")
                               .arg(pid, QString::fromLocal8Bit(comm.readAll().trimmed()));
                break;
            }
        }
    }
    if (S_ISBLK(target.st_mode)) {
        const QString sys = QStringLiteral("/sys/dev/block/%1:%2/holders")
                                .arg(major(target.st_rdev))
                                .arg(minor(target.st_rdev));
        holders << QDir(sys).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    }
    return holders.join(QStringLiteral(", "));
}

} // namespace usbstick
