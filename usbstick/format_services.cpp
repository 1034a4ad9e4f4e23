#include "usbstick/format_services.h"

#include "usbstick/mkfs_format_library.h"
#include "usbstick/udisks_drive_list.h"
#include "usbstick/udisks_format_library.h"

#include <QDBusConnectionInterface>

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

std::unique_ptr<DriveLister> chooseDriveLister(QDBusConnection bus) {
    const QString service = QStringLiteral("org.freedesktop.UDisks2");
    QDBusConnectionInterface* daemon = bus.isConnected() ? bus.interface() : nullptr;
    if (daemon) {
        // Not running yet but activatable: the first call starts it.
        const QDBusReply<bool> running = daemon->isServiceRegistered(service);
        const QDBusReply<QStringList> activatable = daemon->activatableServiceNames();
        if ((running.isValid() && running.value()) ||
            (activatable.isValid() && activatable.value().contains(service)))
            return std::make_unique<UdisksDriveLister>(bus);
    }
    return std::make_unique<SysfsDriveLister>();
}

} // namespace usbstick
