#include "core/port_name.h"

#include <QRegularExpression>

PortName PortName::parse(const QString& text) {
    const QString trimmed = text.trimmed();
    static const QRegularExpression comName(QStringLiteral("^COM([0-9]{1,2})$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const auto match = comName.match(trimmed);
    if (match.hasMatch())
        return fromComNumber(match.captured(1).toInt());
    if (trimmed.startsWith(QLatin1Char('/')))
        return fromDevicePath(trimmed);
    return {};
}

PortName PortName::fromComNumber(int number) {
    PortName name;
    if (number >= 1 && number <= kMaxComNumber)
        name.m_comNumber = number;
    return name;
}

PortName PortName::fromDevicePath(const QString& path) {
    PortName name;
    name.m_path = path;
    return name;
}

QString PortName::devicePath() const {
    if (!m_path.isEmpty())
        return m_path;
    return m_comNumber > 0 ? QStringLiteral("/dev/ttyS%1").arg(m_comNumber - 1) : QString();
}
