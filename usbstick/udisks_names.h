#pragma once
// The udisks2 D-Bus names both the format service and the drive list speak to.
#include <QString>

namespace usbstick::udisks {

inline const QString kService = QStringLiteral("org.freedesktop.UDisks2");
inline const QString kRoot = QStringLiteral("/org/freedesktop/UDisks2");
inline const QString kManager = QStringLiteral("/org/freedesktop/UDisks2/Manager");
inline const QString kBlock = QStringLiteral("org.freedesktop.UDisks2.Block");
inline const QString kDrive = QStringLiteral("org.freedesktop.UDisks2.Drive");
inline const QString kFilesystem = QStringLiteral("org.freedesktop.UDisks2.Filesystem");
inline const QString kLoop = QStringLiteral("org.freedesktop.UDisks2.Loop");
inline const QString kPartition = QStringLiteral("org.freedesktop.UDisks2.Partition");

} // namespace usbstick::udisks
