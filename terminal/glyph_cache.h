#pragma once
// The terminal font's glyphs, looked up once per character and weight. A repaint then draws
// runs of prepared glyph indexes (QPainter::drawGlyphRun) instead of handing Qt one string per
// cell to shape again on every frame, which is what made a fast console cost a core.
//
// UI thread only (QRawFont is not shareable across threads).
#include <QRawFont>

#include <array>
#include <cstdint>

class QFont;

namespace terminal {

class GlyphCache {
public:
    GlyphCache(const QFont& regular, const QFont& bold);

    // The glyph that draws code point cp in the regular or bold face; 0 when the face has
    // none, so the caller draws that cell as text and lets Qt's font fallback find one.
    quint32 glyph(char32_t cp, bool bold);
    const QRawFont& font(bool bold) const { return m_fonts[bold ? 1 : 0]; }

private:
    static constexpr char32_t kTableSize = 0x2600; // Latin-1 up to the geometric shapes
    static constexpr quint32 kUnknown = 0xFFFFFFFFu;

    quint32 lookUp(char32_t cp, bool bold) const;

    std::array<QRawFont, 2> m_fonts;
    std::array<std::array<quint32, kTableSize>, 2> m_table; // kUnknown until looked up
};

} // namespace terminal
