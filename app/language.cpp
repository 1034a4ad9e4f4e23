#include "app/language.h"

#include <algorithm>
#include <iterator>

LanguageTexts readLanguageTexts(const IniFile& ini, const QString& section) {
    LanguageTexts texts;
    for (size_t i = 0; i < kCaptionKeys.size(); ++i)
        texts.captions[i] = ini.ReadString(section, QString::fromLatin1(kCaptionKeys[i]));
    for (int n = 1; n <= MessageCatalogue::kCount; ++n)
        texts.messages.setText(n, ini.ReadString(section, QStringLiteral("Msg%1").arg(n)));
    texts.formatButton = ini.ReadString(section, QStringLiteral("L9"));
    // A key an older file lacks falls back to a built-in text in the language the user chose:
    // English under "English", the program's own German otherwise.
    const bool german = section.compare(QLatin1String("English"), Qt::CaseInsensitive) != 0;
    if (!german)
        texts.messages.setBuiltInLanguage(BuiltInLanguage::English);
    for (size_t i = 0; i < texts.windowTexts.size(); ++i) {
        const auto id = WindowText(i);
        texts.windowTexts[i] = ini.ReadString(section, windowTextKey(id));
        if (texts.windowTexts[i].isEmpty())
            texts.windowTexts[i] = builtInWindowText(id, german);
    }
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
    s.fontSize = number("FontSize", s.fontSize, 6, 28);
    return s;
}

int portNumberForText(const QStringList& entries, const QString& text) {
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (entries[i].compare(text, Qt::CaseInsensitive) == 0)
            return int(i) + 1;
    }
    return 0;
}

// ---- Texts the window adds beyond the numbered keys -------------------------------------

QString windowTextKey(WindowText id) {
    static const char* const keys[] = {
        "PortNoneSet",    "PortNotOpen",    "PortMissing",      "PortNoPermission",
        "PortRefused",    "PortChoose",     "PortLost",         "PortBack",
        "LogFolder",      "AboutAuthor",    "AboutPurpose",     "TermCopy",
        "TermPaste",      "TermSelectAll",  "TermFind",         "TermSave",
        "TermSaveTitle",  "TermSaveFilter", "TermCannotWrite",  "TermPasteQuestion",
        "FindField",      "FindOlder",      "FindNewer",        "FindClose",
        "FindNotFound",   "PortGone",       "TermPasteOneLine", "TermPasteDropped",
        "TermForeignLink"};
    static_assert(std::size(keys) == size_t(WindowText::Count));
    return QString::fromLatin1(keys[size_t(id)]);
}

QString builtInWindowText(WindowText id, bool german) {
    struct Pair {
        WindowText id;
        const char* de;
        const char* en;
    };
    static const Pair texts[] = {
        {WindowText::PortNoneSet, "Kein serieller Port eingestellt.", "No serial port is set."},
        {WindowText::PortNotOpen, "Port %1 ist nicht geöffnet: %2.", "Port %1 is not open: %2."},
        {WindowText::PortMissing, "das Gerät gibt es nicht", "there is no such device"},
        {WindowText::PortNoPermission,
         "Sie dürfen ihn nicht benutzen. Bitte den Benutzer in die Gruppe dialout aufnehmen "
         "(sudo adduser $USER dialout) und neu anmelden",
         "you may not use it. Please add your user to the group dialout (sudo adduser $USER "
         "dialout) and log in again"},
        {WindowText::PortRefused, "er lässt sich nicht öffnen", "it cannot be opened"},
        {WindowText::PortChoose,
         "Bitte links im Feld „Port“ einen der angeschlossenen Ports wählen oder einen "
         "Gerätepfad eingeben.",
         "Please choose one of the connected ports in the \"Port\" box on the left, or type a "
         "device path."},
        {WindowText::PortLost, "%1 getrennt – warte auf das Gerät …",
         "%1 disconnected – waiting for the device …"},
        {WindowText::PortBack, "%1 wieder verbunden", "%1 connected again"},
        {WindowText::PortGone, "%1 getrennt – bitte den Port neu wählen",
         "%1 disconnected – please choose the port again"},
        {WindowText::TermPasteOneLine, "1 Zeile an den Receiver senden?",
         "Send 1 line to the receiver?"},
        {WindowText::TermPasteDropped,
         "Steuerzeichen (als ^X oder <9B> gezeigt) werden nicht gesendet.",
         "Control characters (shown as ^X or <9B>) are not sent."},
        {WindowText::TermForeignLink,
         "%1 ist eine Verknüpfung eines anderen Benutzers; dorthin wird nicht gespeichert",
         "%1 is a link of another user; nothing is saved there"},
        {WindowText::LogFolder, "Log-Ordner öffnen", "Open log folder"},
        {WindowText::AboutAuthor, "Autor: stbmate developers", "Author: stbmate developers"},
        {WindowText::AboutPurpose,
         "Einrichtung und Notfallhilfe für den Satellitenreceiver über die serielle Konsole und "
         "das Netzwerk.",
         "Set-up and rescue help for the satellite receiver over the serial console and the "
         "network."},
        {WindowText::TermCopy, "Kopieren", "Copy"},
        {WindowText::TermPaste, "Einfügen", "Paste"},
        {WindowText::TermSelectAll, "Alles markieren", "Select all"},
        {WindowText::TermFind, "Suchen …", "Find …"},
        {WindowText::TermSave, "In Datei speichern …", "Save to file …"},
        {WindowText::TermSaveTitle, "In Datei speichern", "Save to file"},
        {WindowText::TermSaveFilter, "Text (*.txt);;Alle Dateien (*)",
         "Text (*.txt);;All files (*)"},
        {WindowText::TermCannotWrite, "In %1 kann nicht geschrieben werden", "Cannot write to %1"},
        {WindowText::TermPasteQuestion, "%1 Zeilen an den Receiver senden?",
         "Send %1 lines to the receiver?"},
        {WindowText::FindField, "Suchen", "Find"},
        {WindowText::FindOlder, "Vorheriger Treffer", "Previous match"},
        {WindowText::FindNewer, "Nächster Treffer", "Next match"},
        {WindowText::FindClose, "Schließen", "Close"},
        {WindowText::FindNotFound, "nicht gefunden", "not found"},
    };
    for (const Pair& p : texts)
        if (p.id == id)
            return QString::fromUtf8(german ? p.de : p.en);
    return QString();
}
