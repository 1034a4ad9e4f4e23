#include "app/terminal_hint.h"

#include "app/ini_file.h"
#include "app/language.h"

#include <QEvent>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <unistd.h>

QString firstLookHintText(const IniFile& settings, const QString& language) {
    const QString text = settings.ReadString(language, QStringLiteral("Hint1"));
    if (!text.isEmpty())
        return text;
    if (language.compare(QLatin1String("Deutsch"), Qt::CaseInsensitive) == 0)
        return QStringLiteral(
            "Eingabetaste drücken, um die Eingabeaufforderung des Receivers zu sehen");
    return QStringLiteral("Press Enter to see the receiver's prompt");
}

QString noPortHintText(const QString& devicePath, const LanguageTexts& texts,
                       const QString& detail) {
    const QString choose = texts.text(WindowText::PortChoose);
    if (devicePath.isEmpty())
        return texts.text(WindowText::PortNoneSet) + QLatin1Char('\n') + choose;
    const QByteArray native = QFile::encodeName(devicePath);
    const WindowText reason = !QFileInfo::exists(devicePath) ? WindowText::PortMissing
                              : ::access(native.constData(), R_OK | W_OK) != 0 && errno == EACCES
                                  ? WindowText::PortNoPermission
                                  : WindowText::PortRefused;
    QString why = texts.text(reason);
    if (reason == WindowText::PortRefused && !detail.isEmpty())
        why += QStringLiteral(" (%1)").arg(detail);
    return texts.text(WindowText::PortNotOpen).arg(devicePath, why) + QLatin1Char('\n') + choose;
}

TTerminalHint::TTerminalHint(QWidget* overWidget) : QLabel(overWidget) {
    setObjectName(QStringLiteral("TerminalHint"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAlignment(Qt::AlignCenter);
    setWordWrap(true);
    // Grey on the terminal's black: readable, yet plainly not something the receiver wrote.
    setStyleSheet(QStringLiteral("QLabel { color: #b0b0b0; background: rgba(40, 40, 40, 200);"
                                 " border: 1px solid #606060; border-radius: 4px;"
                                 " padding: 8px 14px; }"));
    overWidget->installEventFilter(this);
    hide();
}

bool TTerminalHint::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parent() && event->type() == QEvent::Resize)
        placeCentred();
    return QLabel::eventFilter(watched, event);
}

void TTerminalHint::placeCentred() {
    const QWidget* over = parentWidget();
    const int width = std::max(40, std::min(over->width() - 20, 460));
    resize(width, heightForWidth(width));
    move((over->width() - width) / 2, (over->height() - height()) / 2);
}

void TTerminalHint::setHintText(const QString& text) {
    m_hintText = text;
    if (m_noPort)
        return; // the no-port text stays; the hint comes back when the port opens
    setText(text);
    setAccessibleName(text);
    placeCentred();
}

void TTerminalHint::portOpened() {
    m_noPort = false;
    m_byteSeen = false;
    setText(m_hintText);
    setAccessibleName(m_hintText);
    placeCentred();
    if (!m_byteSeen)
        show();
}

void TTerminalHint::portUnavailable(const QString& text) {
    m_noPort = true;
    setText(text);
    setAccessibleName(text);
    placeCentred();
    show();
}

void TTerminalHint::portClosing() {
    hide();
}

void TTerminalHint::firstByteArrived() {
    if (m_noPort)
        return; // a byte of the port closed meanwhile
    m_byteSeen = true;
    hide();
}
