// TTerminal's painting: which rows a redraw touches, and how a row becomes pixels.
//
// Glyphs come from a GlyphCache and go out a run of equal attributes at a time; nothing is
// shaped on the paint path. Rows are repainted only where PaintedRows says their pixels would
// change, and a scrolled screen is moved with one blit first.
#include "terminal/terminal_widget.h"

#include "terminal/vt100_maps.h"

#include <QGlyphRun>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

using namespace terminal;

namespace {

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

// Glyphs of one run waiting to go out in one call. Flushed before anything drawn another way
// (box lines, fallback text) so the drawing order stays the cells' order.
class GlyphBatch {
public:
    void add(quint32 glyph, QPointF at) {
        m_glyphs.push_back(glyph);
        m_positions.push_back(at);
    }
    void flush(QPainter& p, const QRawFont& font) {
        if (m_glyphs.isEmpty())
            return;
        QGlyphRun run;
        run.setRawFont(font);
        run.setGlyphIndexes(m_glyphs);
        run.setPositions(m_positions);
        p.drawGlyphRun(QPointF(0, 0), run);
        m_glyphs.clear();
        m_positions.clear();
    }

private:
    QList<quint32> m_glyphs;
    QList<QPointF> m_positions;
};

} // namespace

QFont TTerminal::terminalFont(bool bold, int pointSize) {
    QFont font(QStringLiteral("DejaVu Sans Mono"), pointSize);
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    font.setKerning(false);
    font.setBold(bold);
    return font;
}

RowLook TTerminal::rowLook(int r) const {
    const int back = scrollBackLines();
    const int index = r - back;
    const Row& row = m_buffer.line(index);
    RowLook look;
    look.columns = m_buffer.columns();
    look.reverseScreen = m_buffer.reverseScreen;
    look.offsetX = horizontalScrollBar()->value();
    const auto end = row.cells.begin() + look.columns;
    if (std::any_of(row.cells.begin(), end, [](const Cell& c) { return c.attr & AttrBlink; }))
        look.blinkOn = m_blinkOn;
    if (back == 0 && m_blinkOn && r == m_buffer.cursorRow())
        look.cursorColumn = m_buffer.cursorColumn();
    if (m_selectionStart.x() >= 0) {
        QPoint a = m_selectionStart, b = m_selectionEnd;
        if (std::make_pair(b.y(), b.x()) < std::make_pair(a.y(), a.x()))
            std::swap(a, b);
        if (index >= a.y() && index <= b.y()) {
            look.selectedFrom = index == a.y() ? a.x() : 0;
            look.selectedTo = index == b.y() ? b.x() : look.columns - 1;
        }
    }
    markMatches(look, index);
    return look;
}

void TTerminal::markMatches(RowLook& look, int lineIndex) const {
    if (m_findText.empty())
        return;
    const std::u32string text = lineText(m_buffer, lineIndex);
    const std::size_t n = m_findText.size();
    for (std::size_t c = 0; c + n <= text.size(); ++c) {
        if (!textMatchesAt(text, m_findText, c))
            continue;
        for (std::size_t i = c; i < c + n && i < look.found.size(); ++i)
            look.found.set(i);
    }
    if (m_match && m_match->line == lineIndex) {
        for (int i = m_match->column; i < m_match->column + m_match->length; ++i)
            look.current.set(static_cast<std::size_t>(i));
    }
}

void TTerminal::repaintChangedRows() {
    const int rows = m_buffer.rows();
    const int back = scrollBackLines();
    std::vector<const Row*> shown;
    std::vector<RowLook> looks;
    shown.reserve(static_cast<std::size_t>(rows));
    looks.reserve(static_cast<std::size_t>(rows));
    for (int r = 0; r < rows; ++r) {
        shown.push_back(&m_buffer.line(r - back));
        looks.push_back(rowLook(r));
    }
    const RedrawPlan plan = m_painted.plan(shown, looks);
    const int width = viewport()->width();
    // Every row new (a reverse screen among them) is one whole repaint, the margins below
    // and beside the grid included.
    if (static_cast<int>(plan.rows.size()) == rows) {
        viewport()->update();
        return;
    }
    if (plan.shift > 0)
        viewport()->scroll(0, -plan.shift * m_cellHeight, QRect(0, 0, width, rows * m_cellHeight));
    for (int r : plan.rows)
        viewport()->update(0, r * m_cellHeight, width, m_cellHeight);
}

void TTerminal::paintEvent(QPaintEvent* event) {
    ++m_paintCount;
    QPainter p(viewport());
    const QRegion region = event->region();
    const int back = scrollBackLines();
    const int x0 = -horizontalScrollBar()->value();
    const int width = viewport()->width();
    // Rows paint every cell's background themselves; only the margins beside and below the
    // grid need the screen colour. Filling the whole region first would touch every pixel
    // twice, and a tall fill is spread over worker threads that then have to be woken.
    const QColor screen = m_buffer.reverseScreen ? colour(kColourSilver) : QColor(Qt::black);
    const int gridRight = x0 + m_buffer.columns() * m_cellWidth;
    const int gridBottom = m_buffer.rows() * m_cellHeight;
    const QRect area = event->rect();
    if (area.right() >= gridRight)
        p.fillRect(QRect(QPoint(std::max(gridRight, area.left()), area.top()), area.bottomRight()),
                   screen);
    if (area.bottom() >= gridBottom)
        p.fillRect(QRect(QPoint(area.left(), std::max(gridBottom, area.top())), area.bottomRight()),
                   screen);
    p.translate(x0, 0);
    for (int r = 0; r < m_buffer.rows(); ++r) {
        const QRect onScreen(0, r * m_cellHeight, width, m_cellHeight);
        if (!region.intersects(onScreen))
            continue;
        const int index = r - back;
        const RowLook look = rowLook(r);
        paintRow(p, r * m_cellHeight, m_buffer.line(index), index, look);
        // Only a row painted edge to edge is known; a part of one leaves old pixels beside.
        if (region.contains(onScreen))
            m_painted.painted(r, m_buffer.line(index), look);
        else
            m_painted.forget(r);
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
            p.setPen(glyph);
            GlyphBatch batch;
            paintCell(p, batch, box, cp, (cell.attr & AttrBold) != 0);
            batch.flush(p, m_glyphs.font((cell.attr & AttrBold) != 0));
        }
    }
}

// One cell's character: box lines by hand, a font glyph into the batch, or, for a character
// the face lacks, text (after the batch, to keep the order).
template <class Batch>
void TTerminal::paintCell(QPainter& p, Batch& batch, const QRect& cell, char32_t cp, bool bold) {
    if (const int arms = boxArms(cp)) {
        batch.flush(p, m_glyphs.font(bold));
        drawBox(p, cell, arms, p.pen().color());
        return;
    }
    if (const quint32 glyph = m_glyphs.glyph(cp, bold)) {
        batch.add(glyph, QPointF(cell.x(), cell.y() + m_ascent));
        return;
    }
    batch.flush(p, m_glyphs.font(bold));
    p.setFont(bold ? m_boldFont : m_font);
    p.drawText(cell.x(), cell.y() + m_ascent, QString::fromUcs4(&cp, 1));
}

void TTerminal::paintRow(QPainter& p, int y, const Row& row, int lineIndex, const RowLook& look) {
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
    GlyphBatch batch;
    int c = 0;
    while (c < columns) {
        const Cell& first = row.cells[static_cast<std::size_t>(c)];
        auto selected = [&](int col) {
            return selStart && std::make_pair(lineIndex, col) >= std::make_pair(a.y(), a.x()) &&
                   std::make_pair(lineIndex, col) <= std::make_pair(b.y(), b.x());
        };
        // 0 plain, 1 a search match, 2 the match the find bar stands on.
        auto found = [&](int col) {
            const auto i = static_cast<std::size_t>(col);
            return look.current[i] ? 2 : look.found[i] ? 1 : 0;
        };
        const bool firstSelected = selected(c);
        const int firstFound = found(c);
        int end = c + 1;
        while (end < columns) {
            const Cell& next = row.cells[static_cast<std::size_t>(end)];
            if (next.attr != first.attr || next.fg != first.fg || next.bg != first.bg ||
                selected(end) != firstSelected || found(end) != firstFound)
                break;
            ++end;
        }
        std::uint32_t fg = firstFound ? 0x000000 : first.fg;
        std::uint32_t bg = firstFound == 2 ? 0xFF8C00 : firstFound == 1 ? 0xE0E000 : first.bg;
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
            const bool bold = (first.attr & AttrBold) != 0;
            p.setPen(colour(fg));
            // Cell by cell positions keep the grid exact whatever the glyphs' advances.
            for (int i = c; i < end; ++i) {
                const Cell& cell = row.cells[static_cast<std::size_t>(i)];
                const char32_t cp = map.toUnicode(cell.charset, cell.ch);
                if (cp > 32)
                    paintCell(p, batch, QRect(i * m_cellWidth, y, m_cellWidth, m_cellHeight), cp,
                              bold);
            }
            batch.flush(p, m_glyphs.font(bold));
            if (first.attr & AttrUnderline)
                p.drawLine(run.left(), y + m_ascent + 1, run.right(), y + m_ascent + 1);
        }
        c = end;
    }
    p.restore();
}
