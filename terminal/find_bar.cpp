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
    m_edit->installEventFilter(this);
    auto button = [this](const QString& name, const QString& glyph) {
        auto* b = new QToolButton(this);
        b->setObjectName(name);
        b->setText(glyph);
        return b;
    };
    QToolButton* older = button(QStringLiteral("FindOlder"), QStringLiteral("▲"));
    QToolButton* newer = button(QStringLiteral("FindNewer"), QStringLiteral("▼"));
    QToolButton* close = button(QStringLiteral("FindClose"), QStringLiteral("✕"));
    setTexts(TerminalTexts());
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
    m_status->setText(found ? QString() : m_notFound);
}

void TFindBar::setTexts(const TerminalTexts& texts) {
    setAccessibleName(texts.findField);
    m_edit->setAccessibleName(texts.findField);
    m_edit->setPlaceholderText(texts.findField);
    const std::pair<const char*, QString> tips[] = {{"FindOlder", texts.findOlder},
                                                    {"FindNewer", texts.findNewer},
                                                    {"FindClose", texts.findClose}};
    for (const auto& [name, tip] : tips) {
        auto* b = findChild<QToolButton*>(QString::fromLatin1(name));
        b->setToolTip(tip);
        b->setAccessibleName(tip);
    }
    if (!m_status->text().isEmpty())
        m_status->setText(texts.notFound);
    m_notFound = texts.notFound;
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
