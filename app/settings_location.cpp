#include "app/settings_location.h"

#include "core/file_replace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace {

const QString kIniName = QStringLiteral("stbmate.ini");

QString withSlash(QString dir) {
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}

QString xdgBase(const QString& value, const QString& home, const QString& fallback) {
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return QDir::cleanPath(home + QLatin1Char('/') + fallback);
}

} // namespace

bool RealFileQueries::fileExists(const QString& path) const {
    return QFileInfo(path).isFile();
}

bool RealFileQueries::dirWritable(const QString& path) const {
    // access() and not the permission bits: it also sees read-only mounts and ACLs.
    return QFileInfo(path).isDir() && ::access(QFile::encodeName(path).constData(), W_OK) == 0;
}

QString shippedDefaultPath(const QString& programDir, const QString& shareFromBin) {
    return QDir::cleanPath(programDir + QLatin1Char('/') + shareFromBin + QLatin1Char('/') +
                           kIniName);
}

SettingsLocation decideSettingsLocation(const SettingsInputs& in, const FileQueries& files) {
    SettingsLocation out;
    const QString besideProgram = QDir::cleanPath(in.programDir + QLatin1Char('/') + kIniName);
    if (files.fileExists(besideProgram) && files.dirWritable(in.programDir)) {
        out.mode = SettingsMode::Portable;
        out.iniPath = besideProgram;
        out.logBaseDir = withSlash(QDir::cleanPath(in.programDir));
        return out;
    }
    out.mode = SettingsMode::Installed;
    const QString config = xdgBase(in.xdgConfigHome, in.home, QStringLiteral(".config"));
    const QString state = xdgBase(in.xdgStateHome, in.home, QStringLiteral(".local/state"));
    out.iniPath = config + QStringLiteral("/stbmate/") + kIniName;
    out.logBaseDir = state + QStringLiteral("/stbmate/");
    // A settings file beside a program in a folder the user may not write (an unpacked archive
    // under /opt, a read-only mount) is that program's own default, as the package's is.
    out.shippedDefault = files.fileExists(besideProgram) ? besideProgram : in.shippedDefault;
    return out;
}

bool provideUserSettingsFile(const SettingsLocation& location) {
    if (location.mode == SettingsMode::Portable || QFileInfo::exists(location.iniPath))
        return true;
    if (location.shippedDefault.isEmpty() || !QFileInfo(location.shippedDefault).isFile())
        return false;
    if (!QDir().mkpath(QFileInfo(location.iniPath).path()))
        return false;
    // Copy under a temporary name and rename, so a second instance starting at the same
    // moment never reads half a file; the copy is the user's, made as the umask says (the
    // shipped file's mode is the package's business).
    QFile shipped(location.shippedDefault);
    if (!shipped.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = shipped.readAll();
    const QString partial = location.iniPath + QStringLiteral(".new%1").arg(::getpid());
    QFile::remove(partial);
    if (!replaceFileAtomically(QFile::encodeName(partial).toStdString(), bytes.constData(),
                               std::size_t(bytes.size())))
        return false;
    // link() refuses to replace, so a file another instance put there first is kept.
    const bool placed = ::link(QFile::encodeName(partial).constData(),
                               QFile::encodeName(location.iniPath).constData()) == 0;
    QFile::remove(partial);
    return placed || QFileInfo::exists(location.iniPath);
}

QString describeSettingsLocation(const SettingsLocation& location) {
    const QString mode = location.mode == SettingsMode::Portable ? QStringLiteral("portable")
                                                                 : QStringLiteral("installed");
    return QStringLiteral("%1 mode, settings file %2, log folder %3Logs")
        .arg(mode, location.iniPath, location.logBaseDir);
}

SettingsInputs currentSettingsInputs(const QString& programDir, const QString& shareFromBin) {
    SettingsInputs in;
    in.programDir = programDir;
    in.xdgConfigHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    in.xdgStateHome = qEnvironmentVariable("XDG_STATE_HOME");
    in.home = qEnvironmentVariable("HOME", QDir::homePath());
    in.shippedDefault = shippedDefaultPath(programDir, shareFromBin);
    return in;
}

QString settingsLocationToolTip(const SettingsLocation& location) {
    const QString mode = location.mode == SettingsMode::Portable ? QStringLiteral("Portabel")
                                                                 : QStringLiteral("Installiert");
    return QStringLiteral("%1 – Einstellungen: %2").arg(mode, location.iniPath);
}
