#include "usbstick/stick_folder.h"

#include "usbstick/block_tools.h"
#include "usbstick/drive_list.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace usbstick {

namespace {

const QString kImageFolder = QStringLiteral("kathrein/ufs910");

} // namespace

StickFolder StickFolder::mounted(const QString& root) {
    StickFolder folder;
    folder.m_root = root;
    return folder;
}

StickFolder StickFolder::unmountedVolume(const QString& device) {
    StickFolder folder;
    folder.m_root = device;
    folder.m_mounted = false;
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
    if (m_root.isEmpty()) {
        *reason = QStringLiteral("no stick chosen");
        return false;
    }
    if (m_mounted) {
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
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MTOOLS_SKIP_CHECK"), QStringLiteral("1"));
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    // "-D s": a name clash skips the file and fails the command instead of asking.
    process.start(mcopy, {QStringLiteral("-i"), m_root, QStringLiteral("-D"), QStringLiteral("s"),
                          source, QStringLiteral("::") + kImageFolder + QLatin1Char('/') + name});
    if (process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit &&
        process.exitCode() == 0)
        return true;
    *reason = QString::fromLocal8Bit(process.readAll()).trimmed();
    if (reason->isEmpty())
        *reason = QStringLiteral("mcopy failed");
    return false;
}

std::optional<StickFolder> stickFolderFor(const QString& driveBoxText, FormatLibrary& library) {
    if (driveBoxText == QLatin1String("select drive"))
        return std::nullopt;
    const QString drive = driveTextOf(driveBoxText);
    const QString mountPoint = library.queryVolume(drive).mountPoint;
    if (!mountPoint.isEmpty())
        return StickFolder::mounted(mountPoint);
    return StickFolder::unmountedVolume(drive);
}

} // namespace usbstick
