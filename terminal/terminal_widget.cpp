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
// "At once" means at most one redraw a frame: a flood would otherwise send a whole window
// update to the display server for every slice the port hands over, and each update costs
// the same hand-shakes with the display server however few rows it carries. A frame as long
// as the tick's own limit keeps every change on screen within 100 ms.
constexpr int kFrameMs = 100;
constexpr int kBlinkMs = 500;
} // namespace

TTerminal::TTerminal(QWidget* parent)
    : QAbstractScrollArea(parent), m_font(terminalFont(false)), m_boldFont(terminalFont(true)),
      m_glyphs(m_font, m_boldFont) {
    setObjectName(QStringLiteral("Terminal1"));
    setAccessibleName(QStringLiteral("Terminal"));
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setCursor(Qt::IBeamCursor);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    const QFontMetrics metrics(m_font);
    m_cellWidth = std::max(1, metrics.horizontalAdvance(QLatin1Char('M')));
    m_cellHeight = std::max(1, metrics.height());
    m_ascent = metrics.ascent();

    m_emulator.setWriter([this](std::string_view bytes) {
        send(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
    });
    m_emulator.setBell([] { QApplication::beep(); });
    // A scroll bar move is a redraw like any other: rows still shown elsewhere are moved.
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &TTerminal::repaintChangedRows);
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, &TTerminal::repaintChangedRows);
    updateScrollBar(false);
    m_paceTimer.start(kTickMs, this);
    // Character delays are a few milliseconds: a coarse timer would double them.
    m_pasteTimer.setSingleShot(true);
    m_pasteTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_pasteTimer, &QTimer::timeout, this, &TTerminal::sendDuePaste);
}

void TTerminal::setKeysAccepted(bool accepted) {
    m_keysAccepted = accepted;
    if (!accepted) {
        m_paste.cancel();
        m_pasteTimer.stop();
    }
}

void TTerminal::setHistoryLines(int lines) {
    m_buffer.setTotalLines(lines);
    m_match.reset();
    m_selectionStart = m_selectionEnd = QPoint(-1, 0);
    updateScrollBar(true);
    m_painted.forgetAll();
    viewport()->update();
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
    // Within a frame the frame's end drains again, so the port need not post for every slice.
    const std::string bytes = m_queue.takeAll(m_frameTimer.isActive());
    if (bytes.empty())
        return;
    m_emulator.feed(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    if (m_paste.active()) {
        m_paste.received(bytes); // the echo a waiting line needs
        sendDuePaste();
    }
    m_bytesSinceRedraw += static_cast<qsizetype>(bytes.size());
    if (m_bytesSinceRedraw > kRedrawAfterBytes)
        redrawSoon();
}

void TTerminal::redrawSoon() {
    if (m_frameTimer.isActive())
        return; // the frame's end redraws
    redrawChanges();
    m_frameTimer.start(kFrameMs, this);
    m_queue.holdRequests();
}

void TTerminal::send(const QByteArray& bytes) {
    if (m_writer && !bytes.isEmpty())
        m_writer(bytes);
}

void TTerminal::timerEvent(QTimerEvent* event) {
    if (event->timerId() == m_frameTimer.timerId()) {
        m_frameTimer.stop();
        drainQueue(); // what came during the frame; redraws and opens a new frame if due
        if (!m_frameTimer.isActive() && m_bytesSinceRedraw > kRedrawAfterBytes)
            redrawSoon();
        return;
    }
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
        repaintChangedRows(); // the cursor and blinking cells change phase
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
    m_buffer.clearDamage();
    updateScrollBar(true);
    repaintChangedRows();
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
    fitScreen();
}

int TTerminal::scrollBackLines() const {
    const QScrollBar* bar = verticalScrollBar();
    return bar->maximum() - bar->value();
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
    if (handleOwnShortcut(*event) || handleViewKey(*event) || !m_keysAccepted)
        return;
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
    if (event->button() == Qt::MiddleButton)
        pasteFrom(QApplication::clipboard()->supportsSelection() ? QClipboard::Selection
                                                                 : QClipboard::Clipboard);
    if (event->button() != Qt::LeftButton)
        return;
    m_selecting = true;
    m_dragged = false;
    m_selectionStart = m_selectionEnd = cellAt(event->position().toPoint());
    viewport()->update();
}

void TTerminal::mouseMoveEvent(QMouseEvent* event) {
    if (!m_selecting)
        return;
    m_selectionEnd = cellAt(event->position().toPoint());
    m_dragged = m_dragged || m_selectionEnd != m_selectionStart;
    viewport()->update();
}

void TTerminal::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !m_selecting)
        return;
    m_selecting = false;
    m_selectionEnd = cellAt(event->position().toPoint());
    // A click is no selection: it would leave one highlighted cell and empty the clipboard.
    if (!m_dragged && m_selectionEnd == m_selectionStart) {
        m_selectionStart = m_selectionEnd = QPoint(-1, 0);
        viewport()->update();
        return;
    }
    const QString text = selectedText();
    if (!text.isEmpty()) {
        QApplication::clipboard()->setText(text);
        if (QApplication::clipboard()->supportsSelection())
            QApplication::clipboard()->setText(text, QClipboard::Selection);
    }
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
