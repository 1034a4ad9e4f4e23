#pragma once
// The stick's image folder kathrein/ufs910, where the receiver looks for its *.img files, as
// the image copy reaches it: through the volume's mount point, or, for a volume that is not
// mounted (an image file, or a kernel without vfat), on the volume itself with mtools.
#include "usbstick/format_library.h"

#include <QString>

#include <optional>

namespace usbstick {

class StickFolder {
public:
    // A mounted stick (or a plain folder standing in for one): files go to
    // root/kathrein/ufs910. An empty root is a stick nobody named: every copy fails.
    static StickFolder mounted(const QString& root);
    // A volume that is not mounted (device path or image file), written with mcopy.
    static StickFolder unmountedVolume(const QString& device);

    // The stick as the log names it: the mount point, or the volume followed by "::".
    QString rootText() const;
    // rootText() + "/kathrein/ufs910/".
    QString folderText() const;

    // Copies source into the image folder as name. Never overwrites: a file of that name
    // already there fails the copy, and so does a missing folder. False with *reason set.
    bool copyNew(const QString& source, const QString& name, QString* reason) const;

private:
    QString m_root;
    bool m_mounted = true;
};

// The stick for the format dialog's drive box text: nullopt while it shows "select drive";
// otherwise the volume's mount point as library reports it, or the unmounted volume itself.
std::optional<StickFolder> stickFolderFor(const QString& driveBoxText, FormatLibrary& library);

} // namespace usbstick
