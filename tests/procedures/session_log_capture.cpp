#include "tests/procedures/session_log_capture.h"

#include "log/session_log.h"

#include <QFile>
#include <QRegularExpression>

SessionLogCapture::SessionLogCapture() {
    SetLogBaseDir(m_dir.path() + QLatin1Char('/'));
    SetLogNameTemplate(QStringLiteral("session"));
}

SessionLogCapture::~SessionLogCapture() {
    SetLogBaseDir(QString());
}

QStringList SessionLogCapture::entries() const {
    QFile file(m_dir.path() + QStringLiteral("/Logs/session.log"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    static const QRegularExpression stamp(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d - "));
    QStringList result;
    for (QString line : QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"))) {
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
