#include "terminal/terminal_widget.h"

#include "terminal/vt100_maps.h"

#include <QApplication>
#include <QClipboard>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimerEvent>

#include <algorithm>

using namespace terminal;

namespace {
constexpr int kTickMs = 100;        // redraw pacing timer
constexpr int kRedrawAfterMs = 100; // redraw at least this often while changes wait
constexpr qsizetype kRedrawAfterBytes = 200;
constexpr int kBlinkMs = 500;

QColor colour(std::uint32_t rgb) {
    return QColor::fromRgb(static_cast<QRgb>(rgb | 0xFF000000u));
}

// Single-line box drawing as arms from the cell's centre (1 left, 2 right, 4 up, 8 down).
// Drawn by hand so lines meet across cells whatever the font's line spacing.
int boxArms(char32_t cp) {
    switch (cp) {
    case 0x2500:
        return 1 | 2;
    case 0x2502:
        return 4 | 8;
    case 0x250C:
        return 2 | 8;
    case 0x2510:
        return 1 | 8;
    case 0x2514:
        return 2 | 4;
    case 0x2518:
        return 1 | 4;
    case 0x251C:
        return 2 | 4 | 8;
    case 0x2524:
        return 1 | 4 | 8;
    case 0x252C:
        return 1 | 2 | 8;
    case 0x2534:
        return 1 | 2 | 4;
    case 0x253C:
        return 1 | 2 | 4 | 8;
    default:
        return 0;
    }
}

void drawBox(QPainter& p, const QRect& cell, int arms, const QColor& pen) {
    const int cx = cell.left() + cell.width() / 2;
    const int cy = cell.top() + cell.height() / 2;
    if (arms & 1)
        p.fillRect(QRect(QPoint(cell.left(), cy), QPoint(cx, cy)), pen);
    if (arms & 2)
        p.fillRect(QRect(QPoint(cx, cy), QPoint(cell.right(), cy)), pen);
    if (arms & 4)
        p.fillRect(QRect(QPoint(cx, cell.top()), QPoint(cx, cy)), pen);
    if (arms & 8)
        p.fillRect(QRect(QPoint(cx, cy), QPoint(cx, cell.bottom())), pen);
}

void drawGlyph(QPainter& p, const QRect& cell, int ascent, char32_t cp, const QColor& pen) {
    if (const int arms = boxArms(cp)) {
        drawBox(p, cell, arms, pen);
        return;
    }
    p.setPen(pen);
    p.drawText(cell.x(), cell.y() + ascent, QString::fromUcs4(&cp, 1));
}
} // namespace

TTerminal::TTerminal(QWidget* parent) : QAbstractScrollArea(parent) {
    setObjectName(QStringLiteral("Terminal1"));
    setAccessibleName(QStringLiteral("Terminal"));
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setCursor(Qt::IBeamCursor);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    m_font = QFont(QStringLiteral("DejaVu Sans Mono"), 8);
    m_font.setStyleHint(QFont::Monospace);
    m_font.setFixedPitch(true);
    m_font.setKerning(false);
    m_boldFont = m_font;
    m_boldFont.setBold(true);
    const QFontMetrics metrics(m_font);
    m_cellWidth = std::max(1, metrics.horizontalAdvance(QLatin1Char('M')));
    m_cellHeight = std::max(1, metrics.height());
    m_ascent = metrics.ascent();

    m_emulator.setWriter([this](std::string_view bytes) {
        send(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
    });
    m_emulator.setBell([] { QApplication::beep(); });
    connect(verticalScrollBar(), &QScrollBar::valueChanged, viewport(),
            qOverload<>(&QWidget::update));
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, viewport(),
            qOverload<>(&QWidget::update));
    updateScrollBar(false);
    m_paceTimer.start(kTickMs, this);
}

TTerminal::~TTerminal() = default;

QSize TTerminal::sizeHint() const {
    return {m_cellWidth * kNarrowColumns + verticalScrollBar()->sizeHint().width() + 4,
            m_cellHeight * kScreenRows + 4};
}

// ---- receive path -----------------------------------------------------------------------

void TTerminal::enqueueReceived(const char* data, qsizetype size) {
    if (size > 0 && m_queue.append(data, static_cast<std::size_t>(size)))
        QMetaObject::invokeMethod(this, &TTerminal::drainQueue, Qt::QueuedConnection);
}

void TTerminal::drainQueue() {
    const std::string bytes = m_queue.takeAll();
    if (bytes.empty())
        return;
    m_emulator.feed(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    m_bytesSinceRedraw += static_cast<qsizetype>(bytes.size());
    if (m_bytesSinceRedraw > kRedrawAfterBytes)
        redrawChanges();
}

void TTerminal::send(const QByteArray& bytes) {
    if (m_writer && !bytes.isEmpty())
        m_writer(bytes);
}

void TTerminal::timerEvent(QTimerEvent* event) {
    if (event->timerId() != m_paceTimer.timerId()) {
        QAbstractScrollArea::timerEvent(event);
        return;
    }
    // Saturates: an idle terminal must not count towards an overflow after weeks of ticks.
    m_elapsedMs = std::min(m_elapsedMs + kTickMs, kRedrawAfterMs);
    m_blinkMs += kTickMs;
    if (m_blinkMs >= kBlinkMs) {
        m_blinkMs = 0;
        m_blinkOn = !m_blinkOn;
        viewport()->update(); // cursor and blinking cells change phase
    }
    if (hasPendingChanges() &&
        (m_elapsedMs >= kRedrawAfterMs || m_bytesSinceRedraw > kRedrawAfterBytes))
        redrawChanges();
}

void TTerminal::redrawChanges() {
    m_elapsedMs = 0;
    m_bytesSinceRedraw = 0;
    if (!hasPendingChanges())
        return;
    ++m_redrawCount;
    const bool scrolled = m_scrollSeen != m_buffer.scrollCount();
    m_scrollSeen = m_buffer.scrollCount();
    if (scrolled && !m_selecting)
        m_selectionStart = m_selectionEnd = QPoint(-1, 0); // its lines have moved
    updateScrollBar(true);
    const int x0 = -horizontalScrollBar()->value();
    const int rowWidth = m_buffer.columns() * m_cellWidth * 2; // double-width rows included
    if (scrolled || m_buffer.reverseScreen) {
        viewport()->update();
    } else {
        for (int r = 0; r < m_buffer.rows(); ++r)
            if (m_buffer.rowDirty(r))
                viewport()->update(x0, r * m_cellHeight, rowWidth, m_cellHeight);
        // The cursor may have moved without writing: repaint its old and new cell.
        viewport()->update(x0 + m_lastCursor.x() * m_cellWidth, m_lastCursor.y() * m_cellHeight,
                           m_cellWidth, m_cellHeight);
    }
    m_lastCursor = QPoint(m_buffer.cursorColumn(), m_buffer.cursorRow());
    viewport()->update(x0 + m_lastCursor.x() * m_cellWidth, m_lastCursor.y() * m_cellHeight,
                       m_cellWidth, m_cellHeight);
    m_buffer.clearDamage();
}

void TTerminal::updateScrollBar(bool followCursor) {
    QScrollBar* bar = verticalScrollBar();
    const bool atBottom = bar->value() == bar->maximum();
    bar->setRange(0, m_buffer.historyCount());
    bar->setPageStep(m_buffer.rows());
    bar->setSingleStep(1);
    // The view follows the cursor: new output brings a scrolled-back view home.
    if (atBottom || followCursor)
        bar->setValue(bar->maximum());
    QScrollBar* hbar = horizontalScrollBar();
    const int contentWidth = m_buffer.columns() * m_cellWidth;
    hbar->setRange(0, std::max(0, contentWidth - viewport()->width()));
    hbar->setPageStep(viewport()->width());
}

void TTerminal::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBar(false);
}

int TTerminal::scrollBackLines() const {
    const QScrollBar* bar = verticalScrollBar();
    return bar->maximum() - bar->value();
}

// ---- painting ----------------------------------------------------------------------------

void TTerminal::paintEvent(QPaintEvent* event) {
    ++m_paintCount;
    QPainter p(viewport());
    p.fillRect(event->rect(), m_buffer.reverseScreen ? colour(kColourSilver) : Qt::black);
    const int back = scrollBackLines();
    const int x0 = -horizontalScrollBar()->value();
    p.translate(x0, 0);
    for (int r = 0; r < m_buffer.rows(); ++r) {
        const int index = r - back;
        const QRect rowRect(0, r * m_cellHeight, m_buffer.columns() * m_cellWidth * 2,
                            m_cellHeight);
        if (!event->rect().translated(-x0, 0).intersects(rowRect))
            continue;
        paintRow(p, r * m_cellHeight, m_buffer.line(index), index);
    }
    // Block cursor, only on the live screen and in the visible blink phase.
    if (back == 0 && m_blinkOn) {
        const int row = m_buffer.cursorRow();
        const int col = m_buffer.cursorColumn();
        const Cell& cell = m_buffer.screenRow(row).cells[static_cast<std::size_t>(col)];
        const QRect box(col * m_cellWidth, row * m_cellHeight, m_cellWidth, m_cellHeight);
        // Inverted with the screen, or a silver block would vanish on the silver background.
        const QColor block = m_buffer.reverseScreen ? QColor(Qt::black) : colour(kColourSilver);
        const QColor glyph = m_buffer.reverseScreen ? colour(kColourSilver) : QColor(Qt::black);
        p.fillRect(box, block);
        const char32_t cp = CharsetMap::standard().toUnicode(cell.charset, cell.ch);
        if (cp > 32) {
            p.setFont(cell.attr & AttrBold ? m_boldFont : m_font);
            drawGlyph(p, box, m_ascent, cp, glyph);
        }
    }
}

void TTerminal::paintRow(QPainter& p, int y, const Row& row, int lineIndex) {
    const CharsetMap& map = CharsetMap::standard();
    const int columns = m_buffer.columns();
    const bool wide = row.lineAttribute != LineAttribute::Normal;
    p.save();
    if (wide) {
        // Double width (and the halves of double height) draw each cell twice as wide.
        p.translate(0, y);
        p.setClipRect(0, 0, columns * m_cellWidth, m_cellHeight);
        if (row.lineAttribute == LineAttribute::DoubleHeightTop)
            p.scale(2, 2);
        else if (row.lineAttribute == LineAttribute::DoubleHeightBottom) {
            p.translate(0, -m_cellHeight);
            p.scale(2, 2);
        } else
            p.scale(2, 1);
        // The bottom half's glyphs start one row up, so the clip keeps their lower halves.
        y = 0;
    }
    const int selStart = m_selectionStart.x() < 0 ? 0 : 1;
    QPoint a = m_selectionStart, b = m_selectionEnd;
    if (std::make_pair(b.y(), b.x()) < std::make_pair(a.y(), a.x()))
        std::swap(a, b);
    int c = 0;
    while (c < columns) {
        const Cell& first = row.cells[static_cast<std::size_t>(c)];
        auto selected = [&](int col) {
            return selStart && std::make_pair(lineIndex, col) >= std::make_pair(a.y(), a.x()) &&
                   std::make_pair(lineIndex, col) <= std::make_pair(b.y(), b.x());
        };
        const bool firstSelected = selected(c);
        int end = c + 1;
        while (end < columns) {
            const Cell& next = row.cells[static_cast<std::size_t>(end)];
            if (next.attr != first.attr || next.fg != first.fg || next.bg != first.bg ||
                selected(end) != firstSelected)
                break;
            ++end;
        }
        std::uint32_t fg = first.fg;
        std::uint32_t bg = first.bg;
        bool reverse = (first.attr & AttrReverse) != 0;
        if (m_buffer.reverseScreen)
            reverse = !reverse;
        if (firstSelected)
            reverse = !reverse;
        if (reverse)
            std::swap(fg, bg);
        const QRect run(c * m_cellWidth, y, (end - c) * m_cellWidth, m_cellHeight);
        p.fillRect(run, colour(bg));
        const bool hidden =
            (first.attr & AttrInvisible) || ((first.attr & AttrBlink) && !m_blinkOn);
        if (!hidden) {
            const QColor pen = colour(fg);
            p.setFont(first.attr & AttrBold ? m_boldFont : m_font);
            // Cell by cell keeps the grid exact even where a glyph comes from a fallback font.
            for (int i = c; i < end; ++i) {
                const Cell& cell = row.cells[static_cast<std::size_t>(i)];
                const char32_t cp = map.toUnicode(cell.charset, cell.ch);
                if (cp > 32)
                    drawGlyph(p, QRect(i * m_cellWidth, y, m_cellWidth, m_cellHeight), m_ascent, cp,
                              pen);
            }
            p.setPen(pen);
            if (first.attr & AttrUnderline)
                p.drawLine(run.left(), y + m_ascent + 1, run.right(), y + m_ascent + 1);
        }
        c = end;
    }
    p.restore();
}

// ---- keys ------------------------------------------------------------------------------

bool TTerminal::event(QEvent* event) {
    // Tab and Shift+Tab belong to the terminal, not to focus navigation.
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
            keyPressEvent(key);
            return true;
        }
    }
    if (event->type() == QEvent::ShortcutOverride) {
        event->accept(); // every key is wanted, even those a menu would take
        return true;
    }
    return QAbstractScrollArea::event(event);
}

bool TTerminal::focusNextPrevChild(bool) {
    return false;
}

void TTerminal::keyPressEvent(QKeyEvent* event) {
    const TerminalKey key = translateKey(event->key(), event->modifiers(), event->isAutoRepeat());
    if (key.keyCode == 0 && event->text().isEmpty())
        return;
    if (key.keyCode != 0 &&
        m_emulator.keyDown(key.keyCode, key.repeat, key.shift, key.ctrl, key.alt))
        return;
    // Not a terminal key: the character it types goes out as it is.
    const QString text = event->text();
    for (QChar ch : text) {
        if (ch.unicode() < 256)
            m_emulator.typeCharacter(static_cast<std::uint8_t>(ch.unicode()));
    }
}

// ---- mouse selection ------------------------------------------------------------------

QPoint TTerminal::cellAt(const QPoint& pos) const {
    const int x = pos.x() + horizontalScrollBar()->value();
    const int col = std::clamp(x / m_cellWidth, 0, m_buffer.columns() - 1);
    const int row = std::clamp(pos.y() / m_cellHeight, 0, m_buffer.rows() - 1);
    return {col, row - scrollBackLines()};
}

void TTerminal::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    m_selecting = true;
    m_selectionStart = m_selectionEnd = cellAt(event->position().toPoint());
    viewport()->update();
}

void TTerminal::mouseMoveEvent(QMouseEvent* event) {
    if (!m_selecting)
        return;
    m_selectionEnd = cellAt(event->position().toPoint());
    viewport()->update();
}

void TTerminal::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !m_selecting)
        return;
    m_selecting = false;
    m_selectionEnd = cellAt(event->position().toPoint());
    const QString text = selectedText();
    if (!text.isEmpty())
        QApplication::clipboard()->setText(text);
    viewport()->update();
}

QString TTerminal::selectedText() const {
    if (m_selectionStart.x() < 0)
        return {};
    QPoint a = m_selectionStart, b = m_selectionEnd;
    if (std::make_pair(b.y(), b.x()) < std::make_pair(a.y(), a.x()))
        std::swap(a, b);
    const CharsetMap& map = CharsetMap::standard();
    QStringList lines;
    for (int line = std::max(a.y(), -m_buffer.historyCount()); line <= b.y(); ++line) {
        const Row& row = m_buffer.line(line);
        const int from = line == a.y() ? a.x() : 0;
        const int to = line == b.y() ? b.x() : m_buffer.columns() - 1;
        QString text;
        for (int c = from; c <= to; ++c) {
            const Cell& cell = row.cells[static_cast<std::size_t>(c)];
            const char32_t cp = map.toUnicode(cell.charset, cell.ch);
            text += cp == 0 ? QString(QLatin1Char(' ')) : QString::fromUcs4(&cp, 1);
        }
        while (text.endsWith(QLatin1Char(' ')))
            text.chop(1);
        lines << text;
    }
    if (lines.size() == 1 && lines.front().isEmpty() && a == b)
        return {};
    return lines.join(QLatin1Char('\n'));
}
