#include "app/language.h"

#include <algorithm>

LanguageTexts readLanguageTexts(const IniFile& ini, const QString& section) {
    LanguageTexts texts;
    for (size_t i = 0; i < kCaptionKeys.size(); ++i)
        texts.captions[i] = ini.ReadString(section, QString::fromLatin1(kCaptionKeys[i]));
    for (int n = 1; n <= MessageCatalogue::kCount; ++n)
        texts.messages.setText(n, ini.ReadString(section, QStringLiteral("Msg%1").arg(n)));
    texts.formatButton = ini.ReadString(section, QStringLiteral("L9"));
    // A key an older file lacks falls back to a text in the language the user chose.
    if (section.compare(QLatin1String("English"), Qt::CaseInsensitive) == 0)
        texts.messages.setBuiltInLanguage(BuiltInLanguage::English);
    return texts;
}

QStringList languageNames(const QStringList& sections) {
    QStringList names = sections;
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (names[i].compare(QLatin1String("Main"), Qt::CaseInsensitive) == 0) {
            names.removeAt(i);
            break;
        }
    }
    return names;
}

MainSettings readMainSettings(const IniFile& ini) {
    const QString main = QStringLiteral("Main");
    MainSettings s;
    s.language = ini.ReadString(main, QStringLiteral("Language"));
    s.ip = ini.ReadString(main, QStringLiteral("IP"));
    s.settleDelay = parseDelay(ini.ReadString(main, QStringLiteral("Delay")));
    s.comPort = ini.ReadString(main, QStringLiteral("ComPort"));
    const auto number = [&](const char* key, int fallback, int low, int high) {
        bool ok = false;
        const int value = ini.ReadString(main, QString::fromLatin1(key)).trimmed().toInt(&ok);
        return ok ? std::clamp(value, low, high) : fallback;
    };
    s.historyLines = number("HistoryLines", s.historyLines, 24, 100000);
    s.pasteCharDelayMs = number("PasteCharDelay", s.pasteCharDelayMs, 0, 1000);
    s.pasteLineDelayMs = number("PasteLineDelay", s.pasteLineDelayMs, 0, 10000);
    return s;
}

int portNumberForText(const QStringList& entries, const QString& text) {
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (entries[i].compare(text, Qt::CaseInsensitive) == 0)
            return int(i) + 1;
    }
    return 0;
}
