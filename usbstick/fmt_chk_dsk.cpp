#include "usbstick/fmt_chk_dsk.h"

#include <QByteArray>

namespace usbstick {

namespace {

QString upperAsciiLetters(QString text) {
    for (QChar& c : text)
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            c = QChar(c.unicode() - 32);
    return text;
}

// Strips leading and trailing blanks and control characters, the way a library's text
// line arrives padded.
QString strippedLine(const char* text) {
    QByteArray bytes(text);
    qsizetype begin = 0;
    qsizetype end = bytes.size();
    while (begin < end && uint8_t(bytes[begin]) <= ' ')
        ++begin;
    while (end > begin && uint8_t(bytes[end - 1]) <= ' ')
        --end;
    return QString::fromLocal8Bit(bytes.mid(begin, end - begin));
}

class BusyFlag {
public:
    explicit BusyFlag(std::atomic<bool>& flag) : m_flag(flag) {
        bool expected = false;
        m_owned = m_flag.compare_exchange_strong(expected, true);
    }
    ~BusyFlag() {
        if (m_owned)
            m_flag.store(false);
    }
    BusyFlag(const BusyFlag&) = delete;
    BusyFlag& operator=(const BusyFlag&) = delete;
    bool owned() const { return m_owned; }

private:
    std::atomic<bool>& m_flag;
    bool m_owned = false;
};

} // namespace

TFmtChkDsk::TFmtChkDsk(FormatLibrary& library, QObject* owner)
    : QObject(owner), m_library(library) {}

// On Linux a drive is a path: a device node or, for images, a regular file. Anything that
// is not an absolute path cannot name one.
bool TFmtChkDsk::isValidDriveText(const QString& drive) {
    return drive.size() >= 2 && drive.startsWith(QLatin1Char('/'));
}

bool TFmtChkDsk::LoadFormatLibrary() {
    if (!m_loadAttempted) {
        m_loadAttempted = true;
        m_libraryUsable = m_library.usable();
    }
    return m_libraryUsable;
}

bool TFmtChkDsk::raiseInfo(const QString& info) {
    bool cancel = false;
    if (onInfoEvent)
        onInfoEvent(info, cancel);
    return cancel;
}

bool TFmtChkDsk::raiseProgress(int32_t percent) {
    bool cancel = false;
    if (onProgressEvent)
        onProgressEvent(percent, cancel);
    return cancel;
}

bool TFmtChkDsk::CheckVolume(const QString& Drive, bool TestInUse, QString& FileSystemName) {
    if (!isValidDriveText(Drive))
        throw FmtChkException(QStringLiteral("Invalid Drive Specification: ") + Drive);
    const VolumeInfo info = m_library.queryVolume(Drive);
    // A volume without a file system the service recognises has no label or type to read.
    if (!info.found || info.fileSystem.isEmpty())
        throw FmtChkException(QStringLiteral("Drive Not Found: ") + Drive);
    FileSystemName = info.fileSystem;
    raiseInfo(Drive + QStringLiteral(" Volume Label: ") + info.label +
              QStringLiteral(", File System: ") + info.fileSystem);
    if (TestInUse) {
        if (const auto holder = m_library.claimVolume(Drive))
            throw FmtChkException(QStringLiteral("Drive In Use: ") + Drive, *holder);
    }
    return true;
}

bool TFmtChkDsk::FormatDisk(const QString& Drive, uint8_t MediaKind, uint8_t FileSystem,
                            const QString& VolumeLabel, bool QuickFormat, int32_t ClusterSize,
                            const std::optional<ConfirmedDrive>& Confirmed) {
    BusyFlag busy(m_formatting);
    if (!busy.owned())
        return false;
    if (!LoadFormatLibrary())
        return false;
    // Paths are case-sensitive here, so only the label is upper-cased.
    return formatClaimed(Drive, MediaKind, FileSystem, upperAsciiLetters(VolumeLabel), QuickFormat,
                         ClusterSize, Confirmed);
}

bool TFmtChkDsk::formatClaimed(QString drive, uint8_t mediaKind, uint8_t fileSystem, QString label,
                               bool quick, int32_t clusterSize,
                               const std::optional<ConfirmedDrive>& confirmed) {
    uint32_t mediaFlag = 0;
    if (mediaKind == 0)
        mediaFlag = 12;
    else if (mediaKind == 1)
        mediaFlag = 8;
    else
        return false;
    QString fileSystemName;
    if (fileSystem == 0)
        fileSystemName = QStringLiteral("NTFS");
    else if (fileSystem == 1)
        fileSystemName = QStringLiteral("FAT");
    else if (fileSystem == 2)
        fileSystemName = QStringLiteral("FAT32");
    else
        return false;
    uint32_t cluster = 0;
    for (int32_t allowed = 512; allowed <= 65536; allowed *= 2)
        if (clusterSize == allowed)
            cluster = uint32_t(clusterSize);

    m_formatSucceeded = false;
    if (!isValidDriveText(drive))
        throw FmtChkException(QStringLiteral("Invalid Drive Specification: ") + drive);
    // Another disk under the confirmed one's name is neither unmounted nor written.
    if (confirmed) {
        if (const auto why =
                identityMismatch(drive, confirmed->identity, m_library.identify(drive))) {
            raiseInfo(*why);
            return false;
        }
    }
    const VolumeInfo present = m_library.queryVolume(drive);
    if (present.found && present.totalBytes <= 100) {
        raiseInfo(drive + QStringLiteral(" Appears to be Unformatted or No Drive"));
        quick = false;
        // Nobody may hold a volume we are about to overwrite, file system or not: the
        // claim that the sized path makes in CheckVolume is made here as well.
        if (const auto holder = m_library.claimVolume(drive))
            throw FmtChkException(QStringLiteral("Drive In Use: ") + drive, *holder);
    } else {
        raiseInfo(drive + QStringLiteral(" Checking Existing Drive Format"));
        QString existing;
        CheckVolume(drive, true, existing);
        if (existing != fileSystemName)
            quick = false;
    }

    m_firstErrorLine.clear();
    raiseInfo(drive + QStringLiteral(" Starting to Format Drive"));
    const FormatRequest request{drive, mediaFlag, fileSystemName, label, quick, cluster, confirmed};
    m_library.formatVolume(request, [this](uint32_t command, const void* report) {
        return FormatCallback(command, 0, report);
    });
    if (!m_formatSucceeded)
        return false;

    raiseInfo(drive + QStringLiteral(" Checking New Drive Format"));
    QString created;
    CheckVolume(drive, false, created);
    const VolumeInfo after = m_library.queryVolume(drive);
    raiseInfo(drive + QStringLiteral(" New Volume Space: ") + QString::number(after.freeBytes));
    return true;
}

bool TFmtChkDsk::FormatCallback(uint32_t Command, uint32_t /*SubAction*/, const void* Report) {
    bool stop = false;
    QString text;
    switch (Command & 0xffu) {
    case kProgress:
        stop = raiseProgress(*static_cast<const int32_t*>(Report));
        break;
    case kStructureCreated:
        text = QStringLiteral("Format Disk: Structure Created OK");
        break;
    case kInsufficientRights:
        text = QStringLiteral("Format Disk: Insufficient Rights");
        break;
    case kQuickFormatNotAllowed:
        text = QStringLiteral("Format Disk: Quick Format Not Allowed");
        break;
    case kDone:
        m_formatSucceeded = *static_cast<const uint8_t*>(Report) != 0;
        text = m_formatSucceeded ? QStringLiteral("Format Disk: Finished OK")
                                 : QStringLiteral("Format Disk: Unable to Finish");
        break;
    case kTextOutput:
        text = strippedLine(static_cast<const TextReport*>(Report)->text);
        break;
    case kSilentReport:
        break;
    case kStructureFailed:
        text = QStringLiteral("Format Disk: Structure Failed?");
        break;
    default:
        text = QStringLiteral("Format Disk Callback: ") + QString::number(Command & 0xffu);
        break;
    }
    if (!text.isEmpty())
        stop = raiseInfo(text);
    return !stop;
}

} // namespace usbstick
