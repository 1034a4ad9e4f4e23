#include "usbstick/stick_folder.h"

#include "usbstick/block_tools.h"
#include "usbstick/volume_probe.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace usbstick {

namespace {

const QString kImageFolder = QStringLiteral("kathrein/ufs910");

bool isFat(const QString& fsType) {
    return fsType == QLatin1String("vfat") || fsType == QLatin1String("msdos");
}

} // namespace

StickFolder StickFolder::mounted(const QString& root,
                                 const std::optional<DriveIdentity>& identity) {
    StickFolder folder;
    folder.m_root = root;
    folder.m_identity = identity;
    return folder;
}

StickFolder StickFolder::unmountedVolume(const QString& device,
                                         const std::optional<DriveIdentity>& identity) {
    StickFolder folder;
    folder.m_root = device;
    folder.m_mounted = false;
    folder.m_identity = identity;
    return folder;
}

StickFolder StickFolder::refused(const QString& candidate, const QString& reason) {
    StickFolder folder;
    folder.m_root = candidate;
    folder.m_refusal = reason;
    return folder;
}

QString StickFolder::rootText() const {
    return m_mounted ? m_root : m_root + QStringLiteral("::");
}

QString StickFolder::folderText() const {
    QString root = rootText();
    if (root.endsWith(QLatin1Char('/')))
        root.chop(1);
    return root + QLatin1Char('/') + kImageFolder + QLatin1Char('/');
}

bool StickFolder::copyNew(const QString& source, const QString& name, QString* reason) const {
    if (!m_refusal.isEmpty()) {
        *reason = m_refusal;
        return false;
    }
    if (m_root.isEmpty()) {
        *reason = QStringLiteral("no stick chosen");
        return false;
    }
    if (m_mounted) {
        struct stat st {};
        if (m_identity && (stat(QFile::encodeName(m_root).constData(), &st) != 0 ||
                           st.st_dev != dev_t(m_identity->number))) {
            *reason = m_root + QStringLiteral(" is no longer on the stick that was chosen");
            return false;
        }
        const QString folder = folderText();
        if (!QFileInfo(folder).isDir()) {
            *reason = folder + QStringLiteral(" does not exist");
            return false;
        }
        QFile file(source);
        // QFile::copy refuses an existing target, which is what keeps a stick's image.
        if (file.copy(folder + name))
            return true;
        *reason = file.errorString();
        return false;
    }
    const QString mcopy = findTool(QStringLiteral("mcopy"));
    if (mcopy.isEmpty()) {
        *reason = QStringLiteral("mcopy (mtools) is not installed");
        return false;
    }
    const HeldVolume held(m_root, m_identity);
    if (!held.ok()) {
        *reason = held.error();
        return false;
    }
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MTOOLS_SKIP_CHECK"), QStringLiteral("1"));
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    // "-D s": a name clash skips the file and fails the command instead of asking.
    process.start(mcopy,
                  {QStringLiteral("-i"), held.toolPath(), QStringLiteral("-D"), QStringLiteral("s"),
                   source, QStringLiteral("::") + kImageFolder + QLatin1Char('/') + name});
    if (process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit &&
        process.exitCode() == 0)
        return true;
    *reason = QString::fromLocal8Bit(process.readAll()).trimmed();
    if (reason->isEmpty())
        *reason = QStringLiteral("mcopy failed");
    return false;
}

StickFolder stickForFormatted(const FormattedStick& stick, FormatLibrary& library) {
    const DriveIdentity& identity = stick.confirmed.identity;
    if (const auto why = identityMismatch(stick.device, identity, library.identify(stick.device)))
        return StickFolder::refused(stick.device, *why);
    const QString mountPoint = library.queryVolume(stick.device).mountPoint;
    if (!mountPoint.isEmpty())
        return StickFolder::mounted(mountPoint, identity);
    return StickFolder::unmountedVolume(stick.device, identity);
}

StickFolder stickAtFolder(const QString& picked, DriveLister& lister,
                          const QString& mountInfoPath) {
    if (picked.isEmpty())
        return StickFolder::refused(picked, QStringLiteral("no folder chosen"));
    const QString path = QFileInfo(picked).canonicalFilePath();
    if (path.isEmpty())
        return StickFolder::refused(picked, picked + QStringLiteral(" does not exist"));
    const auto mount = mountHolding(parseMountInfo(readSmallFile(mountInfoPath)), path);
    if (!mount || !isFat(mount->fsType))
        return StickFolder::refused(
            picked, picked + QStringLiteral(" is not on a mounted FAT file system (") +
                        (mount ? mount->fsType : QStringLiteral("none")) + QLatin1Char(')'));
    const DriveLookup drive = lister.lookUp(mount->source);
    const uint64_t number = makedev(mount->major, mount->minor);
    if (drive.kind != DriveClass::Offered || drive.entry.identity.number != number)
        return StickFolder::refused(
            picked, picked + QStringLiteral(" is on ") + mount->source +
                        QStringLiteral(", which is not a removable stick") +
                        (drive.reason.isEmpty() ? QString() : QStringLiteral(": ") + drive.reason));
    return StickFolder::mounted(mount->mountPoint, drive.entry.identity);
}

} // namespace usbstick
