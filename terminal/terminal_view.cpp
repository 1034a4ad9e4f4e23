// TTerminal's size and font, and the keys a desktop terminal keeps for itself: the screen
// follows the widget, Ctrl+plus/minus/0 set the font size, Shift+PgUp/PgDn/Home/End move
// through the history and Ctrl+Shift+C copies. None of these keys reaches the receiver:
// Ctrl+Shift+C would otherwise go out as ^C and stop what runs there.
#include "terminal/terminal_widget.h"

#include <QApplication>
#include <QClipboard>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QScrollBar>

#include <algorithm>

using namespace terminal;

void TTerminal::fitScreen() {
    const int rowsBefore = m_buffer.rows();
    const int columnsBefore = m_buffer.columns();
    m_buffer.resize(viewport()->height() / m_cellHeight, viewport()->width() / m_cellWidth);
    if (m_buffer.rows() != rowsBefore || m_buffer.columns() != columnsBefore) {
        // Line numbers moved with the history: a selection or match would mark other text.
        m_selectionStart = m_selectionEnd = QPoint(-1, 0);
        m_match.reset();
        m_painted.setRows(m_buffer.rows());
        viewport()->update();
    }
    updateScrollBar(false);
}

void TTerminal::setFontPointSize(int points) {
    points = std::clamp(points, kMinFontSize, kMaxFontSize);
    if (points == m_fontPointSize)
        return;
    m_fontPointSize = points;
    m_font = terminalFont(false, points);
    m_boldFont = terminalFont(true, points);
    m_glyphs = GlyphCache(m_font, m_boldFont);
    const QFontMetrics metrics(m_font);
    m_cellWidth = std::max(1, metrics.horizontalAdvance(QLatin1Char('M')));
    m_cellHeight = std::max(1, metrics.height());
    m_ascent = metrics.ascent();
    m_painted.forgetAll();
    fitScreen();
    viewport()->update();
    emit fontPointSizeChanged(points);
}

void TTerminal::scrollHistory(int lines) {
    QScrollBar* bar = verticalScrollBar();
    bar->setValue(bar->value() - lines);
}

bool TTerminal::handleViewKey(const QKeyEvent& key) {
    const Qt::KeyboardModifiers mods =
        key.modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    if (mods == (Qt::ControlModifier | Qt::ShiftModifier) && key.key() == Qt::Key_C) {
        const QString text = selectedText();
        if (!text.isEmpty())
            QApplication::clipboard()->setText(text);
        return true;
    }
    // Ctrl+plus is Ctrl+Shift+= on most layouts; Ctrl+= counts as well.
    if (mods.testFlag(Qt::ControlModifier) && !mods.testFlag(Qt::AltModifier)) {
        switch (key.key()) {
        case Qt::Key_Plus:
        case Qt::Key_Equal:
            setFontPointSize(m_fontPointSize + 1);
            return true;
        case Qt::Key_Minus:
        case Qt::Key_Underscore:
            setFontPointSize(m_fontPointSize - 1);
            return true;
        case Qt::Key_0:
            setFontPointSize(kDefaultFontSize);
            return true;
        default:
            break;
        }
    }
    if (mods != Qt::ShiftModifier)
        return false;
    switch (key.key()) {
    case Qt::Key_PageUp:
        scrollHistory(m_buffer.rows() - 1);
        return true;
    case Qt::Key_PageDown:
        scrollHistory(-(m_buffer.rows() - 1));
        return true;
    case Qt::Key_Home:
        scrollHistory(m_buffer.historyCount());
        return true;
    case Qt::Key_End:
        scrollHistory(-m_buffer.historyCount());
        return true;
    default:
        return false;
    }
}
