#include "app/ini_file.h"

#include "core/file_replace.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <array>
#include <climits>
#include <optional>
#include <vector>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Bytes 0x80..0x9F of Windows-1252; the five unassigned bytes map to the C1 control of the
// same value so that nothing is lost on the way back.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

struct Line {
    QByteArray raw; // without its line end
    QByteArray eol; // "\r\n", "\n" or empty for a last line without one
};

struct Document {
    std::vector<Line> lines;
    bool utf8 = true;
    QByteArray newline = "\n";
};

enum class LineKind { Other, Section, Key };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    QString name;  // section or key name
    QString value; // key value
};

std::optional<QByteArray> readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    return f.readAll();
}

Document split(const QByteArray& bytes) {
    Document doc;
    qsizetype start = 0;
    bool newlineChosen = false;
    while (start < bytes.size()) {
        qsizetype nl = bytes.indexOf('\n', start);
        Line line;
        if (nl < 0) {
            line.raw = bytes.mid(start);
            start = bytes.size();
        } else {
            qsizetype end = nl;
            if (end > start && bytes[end - 1] == '\r') {
                --end;
                line.eol = "\r\n";
            } else {
                line.eol = "\n";
            }
            line.raw = bytes.mid(start, end - start);
            start = nl + 1;
            if (!newlineChosen) {
                doc.newline = line.eol;
                newlineChosen = true;
            }
        }
        doc.lines.push_back(std::move(line));
    }
    IniFile::decode(bytes, &doc.utf8);
    return doc;
}

QString decodeLine(const Document& doc, const QByteArray& raw) {
    // The whole file decides: a line of a Windows-1252 file may look like valid UTF-8 alone.
    if (doc.utf8)
        return QString::fromUtf8(raw);
    return IniFile::decodeWindows1252(raw);
}

ParsedLine parse(const QString& text) {
    ParsedLine p;
    QString t = text.trimmed();
    if (t.startsWith(QChar(0xFEFF)))
        t = t.mid(1).trimmed();
    if (t.startsWith(QLatin1Char('['))) {
        const qsizetype close = t.indexOf(QLatin1Char(']'));
        if (close > 0) {
            p.kind = LineKind::Section;
            p.name = t.mid(1, close - 1).trimmed();
        }
        return p;
    }
    if (t.startsWith(QLatin1Char(';')))
        return p;
    const qsizetype eq = t.indexOf(QLatin1Char('='));
    if (eq <= 0)
        return p;
    p.name = t.left(eq).trimmed();
    if (p.name.isEmpty())
        return p;
    p.kind = LineKind::Key;
    p.value = t.mid(eq + 1).trimmed();
    return p;
}

QString unquote(const QString& value) {
    if (value.size() >= 2) {
        const QChar first = value.front();
        if ((first == QLatin1Char('"') || first == QLatin1Char('\'')) && value.back() == first)
            return value.mid(1, value.size() - 2);
    }
    return value;
}

bool sameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

QString IniFile::decode(const QByteArray& bytes, bool* wasUtf8) {
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8(bytes);
    if (!utf8.hasError()) {
        if (wasUtf8)
            *wasUtf8 = true;
        return text;
    }
    if (wasUtf8)
        *wasUtf8 = false;
    return decodeWindows1252(bytes);
}

QString IniFile::decodeWindows1252(const QByteArray& bytes) {
    QString text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x80 && b <= 0x9F)
            text.append(QChar(kCp1252High[b - 0x80]));
        else
            text.append(QChar(char16_t(b)));
    }
    return text;
}

bool IniFile::encodeWindows1252(const QString& text, QByteArray* out) {
    QByteArray bytes;
    bytes.reserve(text.size());
    for (const QChar ch : text) {
        const char16_t u = ch.unicode();
        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
            bytes.append(char(u));
            continue;
        }
        bool found = false;
        for (size_t i = 0; i < kCp1252High.size(); ++i) {
            if (kCp1252High[i] == u) {
                bytes.append(char(0x80 + i));
                found = true;
                break;
            }
        }
        if (!found)
            return false;
    }
    *out = bytes;
    return true;
}

QString IniFile::refusedWriteMessage() const {
    return QStringLiteral("In %1 kann nicht geschrieben werden").arg(m_path);
}

QString IniFile::ReadString(const QString& section, const QString& key,
                            const QString& defaultValue) const {
    const std::optional<QByteArray> bytes = readFile(m_path);
    if (!bytes)
        return defaultValue;
    const Document doc = split(*bytes);
    bool inSection = false;
    bool sectionSeen = false;
    for (const Line& line : doc.lines) {
        const ParsedLine p = parse(decodeLine(doc, line.raw));
        if (p.kind == LineKind::Section) {
            // Only the first section of that name counts, as with the profile functions.
            if (inSection)
                break;
            inSection = !sectionSeen && sameName(p.name, section);
            sectionSeen = sectionSeen || inSection;
        } else if (inSection && p.kind == LineKind::Key && sameName(p.name, key)) {
            return unquote(p.value).left(kMaxValueLength);
        }
    }
    return defaultValue;
}

QStringList IniFile::ReadSections() const {
    QStringList sections;
    const std::optional<QByteArray> bytes = readFile(m_path);
    if (!bytes)
        return sections;
    const Document doc = split(*bytes);
    for (const Line& line : doc.lines) {
        const ParsedLine p = parse(decodeLine(doc, line.raw));
        if (p.kind == LineKind::Section && !sections.contains(p.name, Qt::CaseInsensitive))
            sections.append(p.name);
    }
    return sections;
}

namespace {

// Where a write lands: the first section of that name, its key line and its last non-blank line.
struct KeyPlace {
    std::optional<size_t> header;
    std::optional<size_t> keyLine;
    size_t lastContent = 0;
    QString keySpelling; // as the file spells it, kept on rewrite
};

KeyPlace locateKey(const Document& doc, const QString& section, const QString& key) {
    KeyPlace place;
    place.keySpelling = key;
    for (size_t i = 0; i < doc.lines.size(); ++i) {
        const ParsedLine p = parse(decodeLine(doc, doc.lines[i].raw));
        if (p.kind == LineKind::Section) {
            if (place.header)
                break;
            if (sameName(p.name, section)) {
                place.header = i;
                place.lastContent = i;
            }
            continue;
        }
        if (!place.header)
            continue;
        if (!doc.lines[i].raw.trimmed().isEmpty())
            place.lastContent = i;
        if (p.kind == LineKind::Key && !place.keyLine && sameName(p.name, key)) {
            place.keyLine = i;
            place.keySpelling = p.name;
        }
    }
    return place;
}

// Keeps the file's encoding while the new texts fit it; otherwise moves the whole file to
// UTF-8 rather than lose characters.
void widenEncodingFor(Document& doc, const QStringList& newTexts) {
    if (doc.utf8)
        return;
    for (const QString& t : newTexts) {
        QByteArray probe;
        if (!IniFile::encodeWindows1252(t, &probe)) {
            for (Line& line : doc.lines)
                line.raw = IniFile::decodeWindows1252(line.raw).toUtf8();
            doc.utf8 = true;
            return;
        }
    }
}

QByteArray encodeFor(const Document& doc, const QString& text) {
    QByteArray out;
    if (!doc.utf8 && IniFile::encodeWindows1252(text, &out))
        return out;
    return text.toUtf8();
}

void placeKeyLine(Document& doc, const KeyPlace& place, const QString& section,
                  const QString& keyText) {
    if (place.keyLine) {
        doc.lines[*place.keyLine].raw = encodeFor(doc, keyText);
    } else if (place.header) {
        Line& before = doc.lines[place.lastContent];
        if (before.eol.isEmpty())
            before.eol = doc.newline;
        doc.lines.insert(doc.lines.begin() + qsizetype(place.lastContent) + 1,
                         Line{encodeFor(doc, keyText), doc.newline});
    } else {
        if (!doc.lines.empty()) {
            if (doc.lines.back().eol.isEmpty())
                doc.lines.back().eol = doc.newline;
            if (!doc.lines.back().raw.trimmed().isEmpty())
                doc.lines.push_back(Line{QByteArray(), doc.newline});
        }
        doc.lines.push_back(
            Line{encodeFor(doc, QLatin1Char('[') + section + QLatin1Char(']')), doc.newline});
        doc.lines.push_back(Line{encodeFor(doc, keyText), doc.newline});
    }
}

} // namespace

void IniFile::WriteString(const QString& section, const QString& key, const QString& value) {
    QString target = m_path;
    const QFileInfo info(m_path);
    if (info.isSymLink())
        target = info.symLinkTarget();

    QByteArray existing;
    if (QFileInfo::exists(target)) {
        if (::access(QFile::encodeName(target).constData(), W_OK) != 0)
            throw EIniFileException(refusedWriteMessage());
        const std::optional<QByteArray> bytes = readFile(target);
        if (!bytes)
            throw EIniFileException(refusedWriteMessage());
        existing = *bytes;
    }
    Document doc = split(existing);

    QString cleanValue = value;
    cleanValue.replace(QLatin1Char('\r'), QLatin1Char(' '));
    cleanValue.replace(QLatin1Char('\n'), QLatin1Char(' '));
    const KeyPlace place = locateKey(doc, section, key);
    const QString keyText =
        (place.keyLine ? place.keySpelling : key) + QLatin1Char('=') + cleanValue;
    QStringList newTexts{keyText};
    if (!place.header)
        newTexts << QLatin1Char('[') + section + QLatin1Char(']');
    widenEncodingFor(doc, newTexts);
    placeKeyLine(doc, place, section, keyText);

    QByteArray out;
    out.reserve(existing.size() + keyText.size() * 2 + 16);
    for (const Line& line : doc.lines)
        out += line.raw + line.eol;
    if (!replaceFileAtomically(QFile::encodeName(target).toStdString(), out.constData(),
                               std::size_t(out.size())))
        throw EIniFileException(refusedWriteMessage());
}

int parseDelay(const QString& text) {
    const QString t = text.trimmed();
    int base = 10;
    QString digits = t;
    if (t.size() > 2 && (t.startsWith(QLatin1String("0x")) || t.startsWith(QLatin1String("0X")))) {
        base = 16;
        digits = t.mid(2);
    } else if (t.startsWith(QLatin1Char('$'))) {
        base = 16;
        digits = t.mid(1);
    }
    bool negative = false;
    if (base == 10 && !digits.isEmpty() &&
        (digits.front() == QLatin1Char('-') || digits.front() == QLatin1Char('+'))) {
        negative = digits.front() == QLatin1Char('-');
        digits = digits.mid(1);
    }
    if (digits.isEmpty())
        return 0;
    long long result = 0;
    for (const QChar ch : digits) {
        const char16_t c = ch.unicode();
        int d = -1;
        if (c >= u'0' && c <= u'9')
            d = c - u'0';
        else if (base == 16 && c >= u'a' && c <= u'f')
            d = c - u'a' + 10;
        else if (base == 16 && c >= u'A' && c <= u'F')
            d = c - u'A' + 10;
        if (d < 0)
            return 0;
        result = result * base + d;
        if (result > INT_MAX)
            return 0;
    }
    return negative ? int(-result) : int(result);
}
