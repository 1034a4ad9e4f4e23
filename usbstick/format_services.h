#pragma once
// Picks the format service for this process: root formats devices itself with mkfs.fat; a
// desktop user goes through udisks2 when the system bus offers it. The drive list comes from
// udisks2 whenever the bus offers it, for root as well, else from the kernel's view.
#include "usbstick/drive_list.h"
#include "usbstick/format_library.h"

#include <QDBusConnection>

#include <memory>

namespace usbstick {

std::unique_ptr<FormatLibrary> chooseFormatLibrary();
std::unique_ptr<DriveLister> chooseDriveLister(QDBusConnection bus = QDBusConnection::systemBus());

} // namespace usbstick
