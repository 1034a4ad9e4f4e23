#include "app/status_light.h"

#include <QPainter>

TStatusLight::TStatusLight(QWidget* parent) : QWidget(parent) {
    resize(17, 17);
    setAttribute(Qt::WA_OpaquePaintEvent);
    updateDescription();
}

void TStatusLight::setLit(bool lit) {
    if (lit == m_lit)
        return;
    m_lit = lit;
    updateDescription();
    repaint();
    emit litChanged(lit);
}

void TStatusLight::setLitColor(const QColor& color) {
    if (color == m_litColor)
        return;
    m_litColor = color;
    if (m_lit)
        update();
}

void TStatusLight::setNotLitColor(const QColor& color) {
    if (color == m_notLitColor)
        return;
    m_notLitColor = color;
    if (!m_lit)
        update();
}

void TStatusLight::updateDescription() {
    setAccessibleDescription(m_lit ? QStringLiteral("leuchtet") : QStringLiteral("leuchtet nicht"));
}

void TStatusLight::paintEvent(QPaintEvent*) {
    ++m_paintCount;
    QPainter p(this);
    const QRect r = rect();
    p.fillRect(r, m_lit ? m_litColor : m_notLitColor);
    const int right = r.width() - 1;
    const int bottom = r.height() - 1;
    p.setPen(QColor(255, 255, 255));
    p.drawLine(0, 0, right, 0);
    p.drawLine(0, 0, 0, bottom);
    p.setPen(QColor(128, 128, 128));
    p.drawLine(right, 0, right, bottom);
    p.drawLine(0, bottom, right, bottom);
}
