#pragma once
// The settings file: a sectioned key=value text file read and written the way the classic
// profile functions do (case-insensitive names, sections in file order, values seen up to
// 2047 characters, no caching: every read sees the file as it is now, every write reaches
// the file before the call returns).
//
// Unlike the classic functions, a write never rewrites the file in place: it writes a
// temporary file in the same folder, syncs it and renames it over the old one, so a crash,
// a kill or a full disk leaves either the old or the new file, never half of one. Lines a
// write does not change are kept byte for byte (comments, spacing, line endings).
//
// A file that is not valid UTF-8 is read as Windows-1252 (settings files brought over from
// older installations) and written back in that encoding while every value fits it.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <stdexcept>
#include <string>

// A refused write. what()/message(): "In <path> kann nicht geschrieben werden".
class EIniFileException : public std::runtime_error {
public:
    explicit EIniFileException(const QString& message)
        : std::runtime_error(message.toStdString()), m_message(message) {}
    const QString& message() const { return m_message; }

private:
    QString m_message;
};

class IniFile {
public:
    static constexpr int kMaxValueLength = 2047;

    explicit IniFile(QString path) : m_path(std::move(path)) {}

    const QString& path() const { return m_path; }

    // The value of key in section, trimmed of surrounding blanks and of one pair of
    // enclosing quotes, cut to its first 2047 characters. The first matching section and,
    // inside it, the first matching key win. defaultValue when the file, the section or
    // the key is missing.
    QString ReadString(const QString& section, const QString& key,
                       const QString& defaultValue = QString()) const;

    // Section names in file order, each name once (the first spelling seen).
    // Empty when the file cannot be read.
    QStringList ReadSections() const;

    // Sets key in section to value, creating the key (at the end of the section) or the
    // section (at the end of the file) as needed; creates the file when it does not exist.
    // Line breaks inside value are written as blanks, so a value can never add keys or
    // sections. Throws EIniFileException when the file cannot be replaced; the file on
    // disk is then unchanged.
    void WriteString(const QString& section, const QString& key, const QString& value);

    // The exception text for this file.
    QString refusedWriteMessage() const;

    // Decoding used for the settings file: UTF-8 when the bytes are valid UTF-8,
    // otherwise Windows-1252.
    static QString decode(const QByteArray& bytes, bool* wasUtf8 = nullptr);
    static QString decodeWindows1252(const QByteArray& bytes);
    // Windows-1252 encoding; false when some character has no Windows-1252 byte.
    static bool encodeWindows1252(const QString& text, QByteArray* out);

private:
    QString m_path;
};

// SettleDelay from the text of Main/Delay: "0x10"/"0X10" (longer than two characters) and
// "$10" are hexadecimal, anything else decimal; a text that is not a whole number that
// fits an int, or an empty text, gives 0.
int parseDelay(const QString& text);
