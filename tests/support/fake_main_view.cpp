#include "tests/support/fake_main_view.h"

void FakeMainView::appendNetworkText(const QString& text) {
    // Text goes onto the last line; line breaks inside it start new lines, as in a text view.
    const QStringList parts =
        QString(text).replace(QLatin1String("\r\n"), QLatin1String("\n")).split(QLatin1Char('\n'));
    if (m_networkLines.isEmpty())
        m_networkLines.append(QString());
    m_networkLines.last() += parts.front();
    for (qsizetype i = 1; i < parts.size(); ++i)
        m_networkLines.append(parts[i]);
}
