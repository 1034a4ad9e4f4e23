#include "tests/procedures/session_log_capture.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

SessionLogCapture::SessionLogCapture() : SessionLog(scratch.path()) {
    SetLogNameTemplate(QStringLiteral("session"));
}

SessionLogCapture::~SessionLogCapture() = default;

QStringList SessionLogCapture::entries() const {
    // The main window names the files itself, by date: in name order they are in time order,
    // also for a test that runs over midnight.
    QByteArray all;
    for (const QString& name :
         QDir(folder()).entryList({QStringLiteral("*.log")}, QDir::Files, QDir::Name)) {
        QFile file(folder() + name);
        if (file.open(QIODevice::ReadOnly))
            all += file.readAll();
    }
    static const QRegularExpression stamp(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d - "));
    QStringList result;
    for (QString line : QString::fromUtf8(all).split(QStringLiteral("\r\n"))) {
        if (line.isEmpty())
            continue; // the split leaves one after the last CR LF; empty entries keep a stamp
        result << line.remove(stamp);
    }
    return result;
}

QStringList SessionLogCapture::steps() const {
    QStringList result;
    for (const QString& entry : entries()) {
        if (entry.startsWith(QLatin1String("****** ")) ||
            entry.startsWith(QLatin1String("###### ")))
            result << entry;
    }
    return result;
}
