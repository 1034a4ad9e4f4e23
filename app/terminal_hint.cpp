#include "app/terminal_hint.h"

#include "app/ini_file.h"

#include <QEvent>
#include <QFileInfo>

#include <algorithm>

QString firstLookHintText(const IniFile& settings, const QString& language) {
    const QString text = settings.ReadString(language, QStringLiteral("Hint1"));
    if (!text.isEmpty())
        return text;
    if (language.compare(QLatin1String("Deutsch"), Qt::CaseInsensitive) == 0)
        return QStringLiteral(
            "Eingabetaste drücken, um die Eingabeaufforderung des Receivers zu sehen");
    return QStringLiteral("Press Enter to see the receiver's prompt");
}

QString noPortHintText(const QString& devicePath, const QString& language) {
    const bool german = language.compare(QLatin1String("Deutsch"), Qt::CaseInsensitive) == 0;
    if (devicePath.isEmpty())
        return german ? QStringLiteral("Kein serieller Port eingestellt.\nBitte oben im Feld "
                                       "„Port“ einen Port wählen oder einen Gerätepfad eingeben.")
                      : QStringLiteral("No serial port is set.\nChoose a port in the \"Port\" "
                                       "box above, or type a device path.");
    const bool exists = QFileInfo::exists(devicePath);
    if (german)
        return QStringLiteral("Port %1 ist nicht geöffnet: %2.\nBitte oben im Feld „Port“ "
                              "einen anderen Port wählen oder das Gerät anschließen.")
            .arg(devicePath, exists ? QStringLiteral("er lässt sich nicht öffnen")
                                    : QStringLiteral("das Gerät gibt es nicht"));
    return QStringLiteral("Port %1 is not open: %2.\nChoose another port in the \"Port\" box "
                          "above, or plug the device in.")
        .arg(devicePath, exists ? QStringLiteral("it cannot be opened")
                                : QStringLiteral("there is no such device"));
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
    m_byteSeen = true;
    hide();
}
