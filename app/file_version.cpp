#include "app/file_version.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>

namespace {

std::uint32_t readLittleEndian32(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 |
           std::uint32_t(b[3]) << 24;
}

} // namespace

QString FileVersionText(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("-1");
    QFile file(path);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly))
        return QString();
    // Program files are a few megabytes; mapping avoids copying them.
    const qint64 size = file.size();
    if (size < kVersionRecordSize)
        return QString();
    uchar* mapped = file.map(0, size);
    QByteArray owned;
    const char* data = reinterpret_cast<const char*>(mapped);
    if (!mapped) {
        owned = file.readAll();
        data = owned.constData();
    }
    char marker[8];
    for (int i = 0; i < 8; ++i)
        marker[i] = char(kVersionMarkerShifted[i] - 1);
    const QByteArrayView haystack(data, size);
    const QByteArrayView needle(marker, 8);
    QString result;
    for (qsizetype at = haystack.indexOf(needle); at >= 0 && at + kVersionRecordSize <= size;
         at = haystack.indexOf(needle, at + 1)) {
        if (readLittleEndian32(data + at + 16) != kVersionRecordSignature)
            continue;
        const std::uint32_t ms = readLittleEndian32(data + at + 8);
        const std::uint32_t ls = readLittleEndian32(data + at + 12);
        result = QStringLiteral("%1.%2.%3.%4")
                     .arg(ms >> 16)
                     .arg(ms & 0xFFFF)
                     .arg(ls >> 16)
                     .arg(ls & 0xFFFF);
        break;
    }
    if (mapped)
        file.unmap(mapped);
    return result;
}
