#pragma once
// The volume format engine: checks a volume, formats it through a FormatLibrary and turns the
// library's reports into a progress event (percent) and an info event (one line of text).
// Widget-free. FormatDisk runs on the caller's thread and raises the events there; a window
// calls it from a worker thread and forwards the events itself.
//
// One format at a time per engine: a second FormatDisk while one runs returns false at once.
// Destroying the engine while FormatDisk runs is the owner's fault; TForm3 waits for the end.
#include "usbstick/format_library.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <stdexcept>

namespace usbstick {

// Every error the engine raises. detail() may add what the message cannot say (who holds a
// volume), the message itself is the fixed text plus the drive.
class FmtChkException : public std::runtime_error {
public:
    explicit FmtChkException(const QString& message, QString detail = {})
        : std::runtime_error(message.toStdString()), m_message(message),
          m_detail(std::move(detail)) {}
    const QString& message() const { return m_message; }
    const QString& detail() const { return m_detail; }

private:
    QString m_message;
    QString m_detail;
};

using TProgressEvent = std::function<void(int32_t Percent, bool& Cancel)>;
using TInfoEvent = std::function<void(const QString& Info, bool& Cancel)>;

class TFmtChkDsk : public QObject {
    Q_OBJECT
public:
    // The library must outlive the engine.
    explicit TFmtChkDsk(FormatLibrary& library, QObject* owner = nullptr);

    // Assign before FormatDisk; they are called on FormatDisk's thread.
    TProgressEvent onProgressEvent;
    TInfoEvent onInfoEvent;

    // Drive: a device path (/dev/sdb1) or an image file. MediaKind 0 or 1; FileSystem 0 NTFS,
    // 1 FAT, 2 FAT32. True only when the library's final report said the format succeeded.
    // Throws FmtChkException for a bad drive text, a missing volume and a volume in use.
    // Confirmed: the drive as the user confirmed it. When the device is no longer that one,
    // an info line says so and the result is false, before anything is unmounted or written.
    bool FormatDisk(const QString& Drive, uint8_t MediaKind, uint8_t FileSystem,
                    const QString& VolumeLabel, bool QuickFormat, int32_t ClusterSize,
                    const std::optional<ConfirmedDrive>& Confirmed = std::nullopt);
    // Reports the label and file system (info event) and, with TestInUse, claims the volume.
    // Returns true or throws.
    bool CheckVolume(const QString& Drive, bool TestInUse, QString& FileSystemName);
    // Asks the library once whether it is usable and keeps the answer.
    bool LoadFormatLibrary();
    // The library's report handler: true = go on.
    bool FormatCallback(uint32_t Command, uint32_t SubAction, const void* Report);

    bool FileSysProblem() const { return false; }
    bool FreeSpaceAlloc() const { return false; }
    QString FirstErrorLine() const { return m_firstErrorLine; }
    bool isFormatting() const { return m_formatting.load(); }

    static bool isValidDriveText(const QString& drive);

private:
    bool formatClaimed(QString drive, uint8_t mediaKind, uint8_t fileSystem, QString label,
                       bool quick, int32_t clusterSize,
                       const std::optional<ConfirmedDrive>& confirmed);
    bool raiseInfo(const QString& info);
    bool raiseProgress(int32_t percent);

    FormatLibrary& m_library;
    bool m_loadAttempted = false;
    bool m_libraryUsable = false;
    bool m_formatSucceeded = false;
    QString m_firstErrorLine;
    std::atomic<bool> m_formatting{false};
};

} // namespace usbstick
