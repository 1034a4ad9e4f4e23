#pragma once
// A drive list for tests: the entries it offers are set by the test (loop devices for real
// formats), everything else that exists is refused, and each look is counted.
#include "usbstick/drive_list.h"

#include <QFileInfo>

#include <fcntl.h>
#include <linux/fs.h>
#include <map>
#include <sys/ioctl.h>
#include <unistd.h>

class FakeDriveLister : public usbstick::DriveLister {
public:
    std::vector<usbstick::DriveEntry> entries; // offered
    std::map<QString, QString> refused;        // device -> why
    int looks = 0;

    std::vector<usbstick::DriveEntry> removableVolumes() override {
        ++looks;
        return entries;
    }
    usbstick::DriveLookup lookUp(const QString& path) override {
        ++looks;
        usbstick::DriveLookup found;
        for (const usbstick::DriveEntry& entry : entries)
            if (entry.device == path) {
                found.kind = usbstick::DriveClass::Offered;
                found.entry = entry;
                return found;
            }
        const auto it = refused.find(path);
        if (it != refused.end() || QFileInfo::exists(path)) {
            found.kind = usbstick::DriveClass::Forbidden;
            found.reason = it != refused.end() ? it->second : path + " is not a removable drive";
        }
        return found;
    }

    // A real block device (a loop device) as a drive list would find it now.
    static usbstick::DriveEntry entryFor(const QString& device, const QString& model) {
        usbstick::DriveEntry entry;
        entry.device = device;
        if (const auto identity = usbstick::identityOfPath(device))
            entry.identity = *identity;
        const int fd = ::open(device.toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
        uint64_t bytes = 0;
        if (fd >= 0 && ioctl(fd, BLKGETSIZE64, &bytes) == 0)
            entry.sizeBytes = int64_t(bytes);
        if (fd >= 0)
            ::close(fd);
        entry.wholeDevice = !entry.identity.partition;
        entry.description = model + ", " + usbstick::sizeText(entry.sizeBytes) + ", USB";
        return entry;
    }
};
