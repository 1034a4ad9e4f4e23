#include "procedures/emergency_image_check.h"

#include "procedures/boot_image.h"

namespace {

using bootimage::Status;

struct Refusal {
    MessageId box;
    QString log;
};

Refusal refusalFor(const bootimage::Check& check) {
    switch (check.status) {
    case Status::Ok:
        break;
    case Status::TooShortForHeader:
        return {MessageId::BootImageTooShort,
                QStringLiteral("emergency.ub is shorter than a boot image header")};
    case Status::BadMagic:
        return {MessageId::BootImageNotAnImage,
                QStringLiteral("emergency.ub is not a boot image (no boot image magic)")};
    case Status::BadHeaderCrc:
        return {MessageId::BootImageHeaderDamaged,
                QStringLiteral("emergency.ub has a damaged header (header checksum wrong)")};
    case Status::Truncated:
        return {MessageId::BootImageTruncated,
                QStringLiteral("emergency.ub is shorter than its header says (%1 bytes), the "
                               "download is incomplete")
                    .arg(qint64(bootimage::kHeaderSize) + check.header.dataSize)};
    case Status::BadDataCrc:
        return {MessageId::BootImageDataDamaged,
                QStringLiteral("emergency.ub has damaged data (data checksum wrong)")};
    case Status::ReadError:
        return {MessageId::BootImageUnreadable,
                QStringLiteral("emergency.ub could not be read: ") + check.readError};
    }
    return {MessageId::BootImageUnreadable, QString()};
}

} // namespace

std::optional<CheckedEmergencyImage> checkEmergencyImage(const QString& path, Dialogs& dialogs,
                                                         const MessageCatalogue& messages,
                                                         SessionLog& log) {
    log.WriteLogEntry(QStringLiteral("****** COMMAND: check emergency.ub ******"));
    const bootimage::Check check = bootimage::checkFile(path);
    if (check.status != Status::Ok) {
        const Refusal refusal = refusalFor(check);
        log.WriteLogError(refusal.log + QStringLiteral(" ! --> EXIT"));
        QString box = messages.text(refusal.box);
        if (check.status == Status::ReadError)
            box += QLatin1Char('\n') + check.readError;
        dialogs.showError(box);
        return std::nullopt;
    }

    const bootimage::Header& h = check.header;
    const QString size = QString::number(check.servedSize);
    const QString arch = bootimage::archName(h.arch);
    const QString type = bootimage::typeName(h.type);
    const QString compression = bootimage::compressionName(h.compression);
    log.WriteLogEntry(QStringLiteral("****** RESULT : emergency.ub is a boot image: \"%1\", %2 "
                                     "bytes, architecture %3, type %4, compression %5 ******")
                          .arg(h.name, size, arch, type, compression));
    // One substitution pass: a % in the image's name stays as it is.
    const QString summary =
        messages.text(MessageId::BootImageSummary).arg(h.name, size, arch, type, compression);
    if (!bootimage::fitsReceiver(h)) {
        const QString question =
            summary + QStringLiteral("\n\n") + messages.text(MessageId::BootImageNotForReceiver);
        if (!dialogs.confirmDefaultCancel(question)) {
            log.WriteLogError(QStringLiteral("emergency.ub is not built for the receiver (SuperH "
                                             "kernel or multi-file image expected) ! --> EXIT"));
            return std::nullopt;
        }
        log.WriteLogEntry(QStringLiteral(
            "****** INFO: emergency.ub is not built for the receiver, the user goes on ******"));
    }
    return CheckedEmergencyImage{check.servedSize, summary};
}
