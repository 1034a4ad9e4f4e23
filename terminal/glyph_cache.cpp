#include "terminal/glyph_cache.h"

#include <QFont>
#include <QString>

namespace terminal {

GlyphCache::GlyphCache(const QFont& regular, const QFont& bold)
    : m_fonts{QRawFont::fromFont(regular), QRawFont::fromFont(bold)} {
    for (auto& table : m_table)
        table.fill(kUnknown);
}

quint32 GlyphCache::glyph(char32_t cp, bool bold) {
    // Characters past the table are rare on this console (the character sets end below it);
    // they are looked up each time rather than growing a map on the paint path.
    if (cp >= kTableSize)
        return lookUp(cp, bold);
    quint32& slot = m_table[bold ? 1 : 0][cp];
    if (slot == kUnknown)
        slot = lookUp(cp, bold);
    return slot;
}

quint32 GlyphCache::lookUp(char32_t cp, bool bold) const {
    const QRawFont& font = m_fonts[bold ? 1 : 0];
    if (!font.isValid())
        return 0;
    const QList<quint32> glyphs = font.glyphIndexesForString(QString::fromUcs4(&cp, 1));
    // A character outside the basic plane would come back as two indexes; only a single,
    // real glyph can stand in a cell.
    return glyphs.size() == 1 ? glyphs.front() : 0;
}

} // namespace terminal
