#pragma once
// Loop devices over image files of a test's own, for formats of real block devices (run as
// root). Detached when the object dies.
#include "tests/support/test_support.h"

#include <QCryptographicHash>
#include <QFile>
#include <QString>

namespace stbtest {

// An image file of bytes (sparse) at path; false when it cannot be made.
inline bool makeImage(const QString& path, qint64 bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.resize(bytes);
}

// SHA-256 of a file's bytes, hex.
inline QByteArray sha256Of(const QString& path) {
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return {};
    return hash.result().toHex();
}

class LoopDevice {
public:
    explicit LoopDevice(const QString& image, bool partitions = false) {
        QStringList args{"-f", "--show"};
        if (partitions)
            args << "-P";
        const ToolRun r = runTool("losetup", args << image);
        if (r.exitCode == 0)
            m_device = r.output.trimmed();
        // This kernel may find no partition table on its own; partx tells it of the table.
        if (partitions && !m_device.isEmpty())
            runTool("partx", {"-a", m_device});
    }
    ~LoopDevice() {
        if (!m_device.isEmpty())
            runTool("losetup", {"-d", m_device});
    }
    LoopDevice(const LoopDevice&) = delete;
    LoopDevice& operator=(const LoopDevice&) = delete;
    const QString& device() const { return m_device; }

    // The stick pulled and another one plugged in under the same name: detach, then attach
    // image to the same device. False when the device could not be taken over.
    bool replaceWith(const QString& image) {
        runTool("losetup", {"-d", m_device});
        return runTool("losetup", {m_device, image}).exitCode == 0;
    }

private:
    QString m_device;
};

} // namespace stbtest
