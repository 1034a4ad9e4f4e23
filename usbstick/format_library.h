#pragma once
// What the format engine needs from the system's format service: whether there is one, what a
// volume holds now, whether someone else holds it, and "format this volume" with reports sent
// through a callback while it runs. Implemented by mkfs.fat (as root, and for image files) and
// by udisks2 (for a desktop user).
//
// The drive the user confirmed comes with its identity (device number and diskseq). Every
// open of the device a service makes is checked against it before a byte is written; a
// mismatch ends the work with a text report that says why, and nothing is written.
#include "usbstick/drive_identity.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

namespace usbstick {

// The reports a format sends while it runs. The report's shape depends on the command:
// command 0 points at an int32 percentage, 11 at one byte (non-zero = success), 14 at a
// TextReport; the others carry nothing.
enum FormatCommand : uint32_t {
    kProgress = 0,
    kStructureCreated = 1,
    kInsufficientRights = 6,
    kQuickFormatNotAllowed = 9,
    kDone = 11,
    kTextOutput = 14,
    kSilentReport = 15,
    kStructureFailed = 16,
};

struct TextReport {
    uint32_t lineCount;
    const char* text; // zero-terminated
};

// Returns true to go on, false to stop the format.
using FormatReportFn = std::function<bool(uint32_t command, const void* report)>;

struct VolumeInfo {
    bool found = false;      // the path names an existing device or image file
    QString label;           // empty when none
    QString fileSystem;      // "FAT32", "FAT", "NTFS", another type name, or empty when unknown
    int64_t totalBytes = -1; // size of the volume; -1 when it holds no recognisable file system
    int64_t freeBytes = -1;  // -1 when the service cannot tell
    QString mountPoint;      // where it is mounted now, empty when not mounted
};

// The drive as the user confirmed it. Without one (the engine's own tests on image files)
// nothing is compared.
struct ConfirmedDrive {
    DriveIdentity identity;
    bool wholeDevice = false; // confirmed as the whole disk, partition table and all
};

struct FormatRequest {
    QString drive;        // device path or image file
    uint32_t mediaFlag;   // 12 fixed disk, 8 floppy; kept for the record, Linux needs neither
    QString fileSystem;   // "FAT32", "FAT" or "NTFS"
    QString label;        // upper-case already
    bool quick;           // false: read every block first
    uint32_t clusterSize; // 0 = the tool's default
    std::optional<ConfirmedDrive> confirmed = std::nullopt;
};

class FormatLibrary {
public:
    virtual ~FormatLibrary() = default;
    // "A usable backend": the tools or the service this library needs are there.
    virtual bool usable() = 0;
    // The block device at drive now, found without writing anything; nullopt when drive
    // names none (an image file, or nothing at all).
    virtual std::optional<DriveIdentity> identify(const QString& drive) = 0;
    virtual VolumeInfo queryVolume(const QString& drive) = 0;
    // Makes the volume free for formatting (unmounts its file systems) and tests that nobody
    // else holds it. nullopt = free; otherwise why not, naming the holder where known.
    virtual std::optional<QString> claimVolume(const QString& drive) = 0;
    // "Format this volume": returns when the format is over; success is known only from the
    // kDone report.
    virtual void formatVolume(const FormatRequest& request, const FormatReportFn& report) = 0;
    // Creates relativePath (with every missing level) on the volume's file system, mounting it
    // first where the service can; true only when the folder is there afterwards, else *why
    // says what failed. With confirmed, nothing is written unless the device is still that
    // drive.
    virtual bool createFolder(const QString& drive, const QString& relativePath,
                              const std::optional<ConfirmedDrive>& confirmed, QString* why) = 0;
};

} // namespace usbstick
