#include "usbstick/format_services.h"

#include "usbstick/mkfs_format_library.h"
#include "usbstick/udisks_format_library.h"

#include <unistd.h>

namespace usbstick {

std::unique_ptr<FormatLibrary> chooseFormatLibrary() {
    if (geteuid() != 0) {
        auto udisks = std::make_unique<UdisksFormatLibrary>();
        if (udisks->usable())
            return udisks;
    }
    return std::make_unique<MkfsFormatLibrary>();
}

} // namespace usbstick
