#include "log/log_line.h"

#include <algorithm>

namespace {

constexpr char16_t kEsc = 0x1B;
constexpr char16_t kBel = 0x07;

bool isControl(char16_t c) {
    return (c < 0x20 && c != u'\t') || (c >= 0x7F && c <= 0x9F);
}

// The end (one past) of the string sequence whose body starts at i: BEL, ST (ESC \) or the
// 8-bit ST ends it.
qsizetype stringEnd(QStringView line, qsizetype i) {
    for (; i < line.size(); ++i) {
        const char16_t c = line[i].unicode();
        if (c == kBel || c == 0x9C)
            return i + 1;
        if (c == kEsc && i + 1 < line.size() && line[i + 1] == u'\\')
            return i + 2;
    }
    return line.size();
}

// The end of the control sequence whose parameters start at i: the first final byte.
qsizetype csiEnd(QStringView line, qsizetype i) {
    for (; i < line.size(); ++i) {
        const char16_t c = line[i].unicode();
        if (c >= 0x40 && c <= 0x7E)
            return i + 1;
    }
    return line.size();
}

} // namespace

QString cleanLogLine(QStringView line) {
    QString out;
    out.reserve(line.size());
    qsizetype i = 0;
    while (i < line.size()) {
        const char16_t c = line[i].unicode();
        if (c == kEsc && i + 1 < line.size()) {
            const char16_t kind = line[i + 1].unicode();
            if (kind == u'[')
                i = csiEnd(line, i + 2);
            else if (kind == u']' || kind == u'P' || kind == u'X' || kind == u'^' || kind == u'_')
                i = stringEnd(line, i + 2);
            else if (kind >= 0x20 && kind <= 0x2F) // ESC ( B and the like: one more byte
                i = std::min(line.size(), i + 3);
            else
                i += 2;
            continue;
        }
        if (c == 0x9B) {
            i = csiEnd(line, i + 1);
            continue;
        }
        if (c == 0x9D || c == 0x90 || c == 0x98 || c == 0x9E || c == 0x9F) {
            i = stringEnd(line, i + 1);
            continue;
        }
        if (!isControl(c))
            out += line[i];
        ++i;
    }
    return out;
}
