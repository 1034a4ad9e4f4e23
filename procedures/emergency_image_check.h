#pragma once
// The chosen emergency.ub read once before a byte of it is served. A file that is no sound
// boot image stops the job, with the failed check named in the log and in a box: found at the
// PC, a truncated download costs seconds instead of a transfer and a "bad checksum". An image
// built for another CPU, or of a kind bootm does not start, goes on only when the user says so.
#include "core/dialogs.h"
#include "core/message_catalogue.h"
#include "log/session_log.h"

#include <QString>

#include <optional>

struct CheckedEmergencyImage {
    // Header and data: what the server serves and what the loader must report receiving.
    qint64 servedSize = 0;
    // What the image says it is (name, size, architecture, type, compression), for the box
    // that asks to go on.
    QString summary;
};

// nullopt: the job must stop; the reason was logged and shown, or the user declined to go on
// with an image not built for the receiver (logged).
std::optional<CheckedEmergencyImage> checkEmergencyImage(const QString& path, Dialogs& dialogs,
                                                         const MessageCatalogue& messages,
                                                         SessionLog& log);
