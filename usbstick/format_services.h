#pragma once
// Picks the format service for this process: root formats devices itself with mkfs.fat; a
// desktop user goes through udisks2 when the system bus offers it.
#include "usbstick/format_library.h"

#include <memory>

namespace usbstick {

std::unique_ptr<FormatLibrary> chooseFormatLibrary();

} // namespace usbstick
