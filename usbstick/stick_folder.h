#pragma once
// The stick's image folder kathrein/ufs910, where the receiver looks for its *.img files, as
// the image copy reaches it: through the volume's mount point, or, for a volume that is not
// mounted (a kernel without vfat), on the volume itself with mtools.
//
// The copy goes only to the stick: the volume formatted and confirmed in this job, or else a
// mounted FAT file system on a disk the drive list offers, picked by the user. Anything else
// becomes a refused StickFolder, whose every copy fails with the reason.
#include "usbstick/drive_identity.h"
#include "usbstick/drive_list.h"
#include "usbstick/format_library.h"

#include <QString>

#include <optional>

namespace usbstick {

class StickFolder {
public:
    // A mounted stick (or a plain folder standing in for one): files go to
    // root/kathrein/ufs910. With identity, each copy first checks that root still lies on
    // that device. An empty root is a stick nobody named: every copy fails.
    static StickFolder mounted(const QString& root,
                               const std::optional<DriveIdentity>& identity = std::nullopt);
    // A confirmed volume that is not mounted (device path), written with mcopy on the device
    // held open and checked against identity.
    static StickFolder unmountedVolume(const QString& device,
                                       const std::optional<DriveIdentity>& identity);
    // No stick may be written: every copy fails with reason. candidate names what was
    // offered (the folder picked), for the log.
    static StickFolder refused(const QString& candidate, const QString& reason);

    // The stick as the log names it: the mount point, or the volume's device.
    const QString& name() const { return m_root; }
    // Where its files go: the mount point, or the volume followed by "::" as mtools writes it.
    QString rootText() const;
    // rootText() + "/kathrein/ufs910/".
    QString folderText() const;
    bool isRefused() const { return !m_refusal.isEmpty(); }
    const QString& refusal() const { return m_refusal; }

    // Copies source into the image folder as name. Never overwrites: a file of that name
    // already there fails the copy, and so does a missing folder. False with *reason set.
    bool copyNew(const QString& source, const QString& name, QString* reason) const;

private:
    QString m_root;
    bool m_mounted = true;
    std::optional<DriveIdentity> m_identity;
    QString m_refusal;
};

// The volume the format dialog formatted, after the user confirmed it and its folder was made.
struct FormattedStick {
    QString device;
    ConfirmedDrive confirmed;
};

// The formatted stick, as long as its device is still the confirmed one: through its mount
// point where it is mounted, else the volume itself.
StickFolder stickForFormatted(const FormattedStick& stick, FormatLibrary& library);
// A folder the user picked stands for the stick only when it lies on a mounted FAT file
// system on a disk the drive list offers (removable, USB, no system disk); the copy then goes
// to that file system's root.
StickFolder stickAtFolder(const QString& picked, DriveLister& lister,
                          const QString& mountInfoPath = QStringLiteral("/proc/self/mountinfo"));

} // namespace usbstick
