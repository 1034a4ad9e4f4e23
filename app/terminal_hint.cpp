#include "app/terminal_hint.h"

#include "app/ini_file.h"
#include "app/main_window.h"
#include "serial/com_port.h"
#include "terminal/terminal_widget.h"

#include <QComboBox>
#include <QEvent>
#include <QPointer>

#include <algorithm>
#include <memory>
#include <utility>

QString FirstLookHintText(const IniFile& settings, const QString& language) {
    const QString text = settings.ReadString(language, QStringLiteral("Hint1"));
    if (!text.isEmpty())
        return text;
    if (language.compare(QLatin1String("Deutsch"), Qt::CaseInsensitive) == 0)
        return QStringLiteral(
            "Eingabetaste drücken, um die Eingabeaufforderung des Receivers zu sehen");
    return QStringLiteral("Press Enter to see the receiver's prompt");
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
    setText(text);
    setAccessibleName(text);
    placeCentred();
}

void TTerminalHint::portOpened() {
    if (!m_byteSeen)
        show();
}

void TTerminalHint::portClosing() {
    hide();
}

void TTerminalHint::firstByteArrived() {
    m_byteSeen = true;
    hide();
}

void AttachFirstLookHint(TForm1& form) {
    if (!form.created() || !form.Terminal1)
        return;
    auto* hint = new TTerminalHint(form.Terminal1->viewport());
    TComPort& port = form.comPort1();

    auto updateText = [&form, hint] {
        hint->setHintText(FirstLookHintText(form.settings(), form.currentLanguage()));
    };
    updateText();
    // Connected after the window's own handler, so the new language is already current.
    QObject::connect(form.ComboBox1, &QComboBox::editTextChanged, hint, updateText);

    // The consumer runs on the port's dispatcher thread and only queues. The port is closed
    // (its thread joined) before the window's widgets go, so no call outlives the hint.
    auto consumer = std::make_shared<int>(0);
    *consumer = port.addConsumer([hint, consumer, &port](const QByteArray& unread) {
        if (!unread.isEmpty())
            QMetaObject::invokeMethod(
                hint,
                [hint, consumer, &port] {
                    hint->firstByteArrived();
                    if (*consumer != 0)
                        port.removeConsumer(std::exchange(*consumer, 0));
                },
                Qt::QueuedConnection);
        return unread.size();
    });
    QObject::connect(&port, &TComPort::opened, hint, &TTerminalHint::portOpened);
    QObject::connect(&port, &TComPort::closing, hint, &TTerminalHint::portClosing);
    if (port.isOpen())
        hint->portOpened();
}
