#include "terminal/find_bar.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

using terminal::SearchDirection;

TFindBar::TFindBar(QWidget* parent)
    : QFrame(parent), m_edit(new QLineEdit(this)), m_status(new QLabel(this)) {
    setObjectName(QStringLiteral("FindBar"));
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    m_edit->setObjectName(QStringLiteral("FindText"));
    m_edit->setAccessibleName(QStringLiteral("Suchen"));
    m_edit->setPlaceholderText(QStringLiteral("Suchen"));
    m_edit->installEventFilter(this);
    auto button = [this](const QString& name, const QString& glyph, const QString& tip) {
        auto* b = new QToolButton(this);
        b->setObjectName(name);
        b->setText(glyph);
        b->setToolTip(tip);
        b->setAccessibleName(tip);
        return b;
    };
    QToolButton* older = button(QStringLiteral("FindOlder"), QStringLiteral("▲"),
                                QStringLiteral("Vorheriger Treffer"));
    QToolButton* newer = button(QStringLiteral("FindNewer"), QStringLiteral("▼"),
                                QStringLiteral("Nächster Treffer"));
    QToolButton* close =
        button(QStringLiteral("FindClose"), QStringLiteral("✕"), QStringLiteral("Schließen"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    for (QWidget* w : std::initializer_list<QWidget*>{m_edit, m_status, older, newer, close})
        layout->addWidget(w);
    connect(older, &QToolButton::clicked, this,
            [this] { emit findRequested(text(), SearchDirection::Backward); });
    connect(newer, &QToolButton::clicked, this,
            [this] { emit findRequested(text(), SearchDirection::Forward); });
    connect(close, &QToolButton::clicked, this, &TFindBar::closeRequested);
    hide();
}

QString TFindBar::text() const {
    return m_edit->text();
}

void TFindBar::setFound(bool found) {
    m_status->setText(found ? QString() : QStringLiteral("nicht gefunden"));
}

void TFindBar::open() {
    adjustSize();
    const QWidget* over = parentWidget();
    move(std::max(0, over->width() - width() - 4), 4);
    show();
    raise();
    m_edit->setFocus();
    m_edit->selectAll();
}

bool TFindBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_edit || event->type() != QEvent::KeyPress)
        return QFrame::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Escape) {
        emit closeRequested();
        return true;
    }
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        const bool newer = key->modifiers().testFlag(Qt::ShiftModifier);
        emit findRequested(text(), newer ? SearchDirection::Forward : SearchDirection::Backward);
        return true;
    }
    return QFrame::eventFilter(watched, event);
}
