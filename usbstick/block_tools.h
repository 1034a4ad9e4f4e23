#pragma once
// The device work both format services share: the read pass of a full format, running
// mkfs.fat with its output turned into text reports, reading a FAT volume's boot sectors and
// naming who holds a device.
#include "core/posix_io.h"
#include "usbstick/drive_identity.h"
#include "usbstick/format_library.h"
#include "usbstick/volume_probe.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <fcntl.h>
#include <optional>

namespace usbstick {

// Size in bytes of a block device or regular file open on fd; -1 on failure.
int64_t sizeOfOpenVolume(int fd);

// Reads every byte of the volume on fd (from offset 0 to size) and reports percent
// firstPercent..lastPercent as it goes. A read error is reported as a text line naming the
// byte offset and the error, and ends the pass with false; so does a stop answer.
bool readEveryBlock(int fd, int64_t size, int firstPercent, int lastPercent,
                    const FormatReportFn& report);

// Full path of a tool in the system's own program folders (never through PATH, which a
// user's environment may point anywhere); empty when not installed.
QString findTool(const QString& name);

// A volume held open for the length of some work. While it is open the kernel gives its
// device number to no other disk (a loop device detached meanwhile stays attached until the
// last close), so tools pointed at it through toolPath() (/proc/<pid>/fd/<n>) reach this very
// device, whatever happens to its name. With confirmed, the open device is checked against
// it first; ok() is false, with error() saying why, when the open fails or it differs.
class HeldVolume {
public:
    HeldVolume(const QString& drive, const std::optional<DriveIdentity>& confirmed,
               int flags = O_RDONLY);

    bool ok() const { return m_error.isEmpty(); }
    const QString& error() const { return m_error; }
    int openError() const { return m_errno; } // errno of a failed open, else 0
    int fd() const { return m_fd.get(); }
    QString toolPath() const;

private:
    UniqueFd m_fd;
    int m_errno = 0;
    QString m_error;
};

// What mkfs.fat refuses without -I: a whole disk (open on fd) that carries partitions. Only
// a disk the user confirmed as a whole is formatted over its partition table.
std::optional<QString> partitionedDiskRefusal(const QString& drive, int fd,
                                              const std::optional<ConfirmedDrive>& confirmed);
// The identity to check against, when there is a confirmed drive.
std::optional<DriveIdentity> identityOf(const std::optional<ConfirmedDrive>& confirmed);

// mkfs.fat's arguments for the request (file system, label, cluster size) without the
// target; extra goes before the target.
QStringList mkfsFatArguments(const FormatRequest& request, uint32_t sectorBytes);

// Runs a tool to its end, sending each output line as a text report. True = exit code 0.
bool runTool(const QString& program, const QStringList& arguments, const FormatReportFn& report);

// The FAT volume on fd, free space included; nullopt when the volume is not FAT.
std::optional<FatVolume> readFatVolume(int fd);

// "pid 1234 (cat)" for each process with devicePath open, or the kernel holders (dm-0) from
// sysfs; empty when nobody visible holds it.
QString describeHolders(const QString& devicePath);

// Sends one text line as a kTextOutput report; the stop answer inverted like the callback's.
bool reportText(const FormatReportFn& report, const QString& line);
bool reportPercent(const FormatReportFn& report, int32_t percent);
bool reportDone(const FormatReportFn& report, bool success);

} // namespace usbstick
