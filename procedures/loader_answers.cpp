#include "procedures/loader_answers.h"

#include <QStringView>

namespace {

// As the loader prints them. "bad checksum" is not here: the console watcher reports it on
// its own as the transfer's abort.
const QStringView kFailures[] = {
    u"Unknown command",
    u"*** ERROR",
    u"TFTP error",
    u"Retry count exceeded",
    u"No ethernet found",
    u"Bad Magic Number",
    u"Bad Header Checksum",
    u"Bad Data CRC",
    u"Wrong Image Format",
    u"resetting",
    u"ERROR: can't get kernel image",
    u"Must RESET board to recover",
};

} // namespace

std::optional<QString> loaderFailure(const QString& line) {
    for (const QStringView needle : kFailures)
        if (line.contains(needle))
            return line.trimmed();
    return std::nullopt;
}

bool printsVariable(const QString& line, const QString& name, const QString& value) {
    return line.trimmed() == name + QLatin1Char('=') + value;
}

BootWatch::Outcome BootWatch::feed(const QString& line) {
    if (m_outcome != Outcome::Pending)
        return m_outcome;
    if (!line.trimmed().isEmpty())
        m_lastLine = line.trimmed();
    if (loaderFailure(line))
        m_outcome = Outcome::Failed;
    else if (line.contains(u"Verifying Checksum ... OK"))
        m_verified = true;
    else if (m_verified &&
             (line.contains(u"Starting kernel ...") || line.contains(u"## Transferring control")))
        m_outcome = Outcome::Started;
    return m_outcome;
}
