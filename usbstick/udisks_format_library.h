#pragma once
// The format service for a desktop user without root: udisks2 over the system bus. It
// unmounts the stick's file systems, opens the device through udisks (one password prompt
// where the desktop asks for one) and writes a FAT32 file system made by mkfs.fat into a
// scratch image of the same size: Debian 12's udisks2 (2.9) formats vfat with mkfs.vfat's own
// FAT size choice and takes no mkfs options, so a stick under 512 MiB would get FAT16. Once
// formatted, udisks mounts it again for the image folder.
//
// udisks learns of the new file system from udev shortly after the device is closed; until
// then it still reports the old one. The format therefore ends only once udisks reports the
// volume ID (its UUID) that was just written, or after a bounded wait.
#include "core/posix_io.h"
#include "usbstick/format_library.h"

#include <QDBusConnection>
#include <QString>

namespace usbstick {

class UdisksFormatLibrary : public FormatLibrary {
public:
    // settleMs: how long to wait for udisks to report a newly written file system.
    explicit UdisksFormatLibrary(QDBusConnection bus = QDBusConnection::systemBus(),
                                 int settleMs = 10000);

    bool usable() override;
    std::optional<DriveIdentity> identify(const QString& drive) override;
    VolumeInfo queryVolume(const QString& drive) override;
    std::optional<QString> claimVolume(const QString& drive) override;
    void formatVolume(const FormatRequest& request, const FormatReportFn& report) override;
    bool createFolder(const QString& drive, const QString& relativePath,
                      const std::optional<ConfirmedDrive>& confirmed, QString* why) override;

    // Opens the device through udisks; an invalid fd and errorText set on failure.
    UniqueFd openDevice(const QString& drive, const QString& mode, int flags, QString* errorText);

private:
    QString objectOf(const QString& drive);
    QVariant property(const QString& object, const QString& interface, const QString& name);
    QStringList mountPoints(const QString& object);
    // The volume ID of the file system written, nullopt when writing failed.
    std::optional<uint32_t> writeFileSystem(int fd, const QString& object,
                                            const FormatRequest& request,
                                            const FormatReportFn& report);
    bool waitForVolume(const QString& object, const QString& uuid);

    QDBusConnection m_bus;
    int m_settleMs = 10000;
};

} // namespace usbstick
