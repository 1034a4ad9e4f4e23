#pragma once
// The format service for root and for image files: the device is opened directly, the read
// pass reads it, mkfs.fat (dosfstools) writes the new file system, mtools makes folders on a
// volume that is not mounted. The volume is held open while the tools run and they are
// pointed at that open device, never at its name again (HeldVolume).
#include "usbstick/format_library.h"

#include <QString>

namespace usbstick {

class MkfsFormatLibrary : public FormatLibrary {
public:
    // mountInfoPath: the mount table to consult (a test may hand a file of its own).
    explicit MkfsFormatLibrary(QString mountInfoPath = QStringLiteral("/proc/self/mountinfo"));

    bool usable() override;
    std::optional<DriveIdentity> identify(const QString& drive) override;
    VolumeInfo queryVolume(const QString& drive) override;
    std::optional<QString> claimVolume(const QString& drive) override;
    void formatVolume(const FormatRequest& request, const FormatReportFn& report) override;
    bool createFolder(const QString& drive, const QString& relativePath,
                      const std::optional<ConfirmedDrive>& confirmed, QString* why) override;

private:
    QStringList mountPointsOf(const QString& drive) const;
    bool makeFileSystem(const FormatRequest& request, const QString& target, bool blockDevice,
                        const FormatReportFn& report);

    QString m_mountInfoPath;
};

} // namespace usbstick
