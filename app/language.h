#pragma once
// The language tables: which sections of the settings file are languages, and the texts a
// language section gives the main window's captions and the message catalogue.
#include "app/ini_file.h"
#include "core/message_catalogue.h"

#include <QString>
#include <QStringList>

#include <array>

// The caption keys in the order they are applied: the menus, then the labels, the group
// box and the check button.
inline constexpr std::array<const char*, 15> kCaptionKeys = {"M1_1", "M1_2", "M2_1", "M2_2", "M2_3",
                                                             "M2_4", "M3_1", "L1",   "L2",   "L3",
                                                             "L4",   "L5",   "L6",   "L7",   "L8"};

// Index into LanguageTexts::captions for each key above.
enum class CaptionKey { M1_1, M1_2, M2_1, M2_2, M2_3, M2_4, M3_1, L1, L2, L3, L4, L5, L6, L7, L8 };

// ---- Texts the window adds beyond the numbered keys -------------------------------------
// Read from the language section under the key of the same name; a section without the key
// gives the built-in text, English for "English" and German for any other language.
enum class WindowText {
    PortNoneSet,      // no port configured
    PortNotOpen,      // %1 the device, %2 one of the three reasons below
    PortMissing,      // reason: the device does not exist
    PortNoPermission, // reason: this user may not open it (names the group and the command)
    PortRefused,      // reason: any other failure
    PortChoose,       // where to choose another port
    PortLost,         // status bar: %1 the device unplugged, waited for
    PortBack,         // status bar: %1 the device open again
    LogFolder,        // the Hilfe entry that opens the log folder
    AboutAuthor,      // the About box's author line
    AboutPurpose,     // the About box's last line
    // The terminal's context menu, paste question, save dialog and find bar.
    TermCopy,
    TermPaste,
    TermSelectAll,
    TermFind,
    TermSave,
    TermSaveTitle,
    TermSaveFilter,
    TermCannotWrite,
    TermPasteQuestion,
    FindField,
    FindOlder,
    FindNewer,
    FindClose,
    FindNotFound,
    PortGone, // status bar: %1 the device gone for good (another device may take its path)
    TermPasteOneLine,
    TermPasteDropped,
    TermForeignLink,
    Count
};
QString windowTextKey(WindowText id);
QString builtInWindowText(WindowText id, bool german);

struct LanguageTexts {
    std::array<QString, kCaptionKeys.size()> captions;
    MessageCatalogue messages;
    QString formatButton; // key L9: the format dialog's button, not a window caption
    std::array<QString, size_t(WindowText::Count)> windowTexts;
    const QString& text(WindowText id) const { return windowTexts[size_t(id)]; }

    const QString& caption(CaptionKey key) const { return captions[size_t(key)]; }
};

// Every key read with an empty default: an unknown or empty section name gives all-empty
// texts, a missing key an empty text.
LanguageTexts readLanguageTexts(const IniFile& ini, const QString& section);

// The language box entries: all sections in file order without "Main" (any case).
QStringList languageNames(const QStringList& sections);

// The values of section Main the program reads at start-up.
struct MainSettings {
    QString language;
    QString ip;
    int settleDelay = 0;
    QString comPort;
    // The terminal's: lines kept (visible rows included) and the paste pacing. A missing or
    // unreadable value gives the default, one out of range the nearest bound.
    int historyLines = 200;
    int pasteCharDelayMs = 2;
    int pasteLineDelayMs = 50;
    int fontSize = 8; // the terminal's font in points
};
MainSettings readMainSettings(const IniFile& ini);

// "COM1".."COM4" (any case) → 1..4 as the port box's entry position + 1; anything else 0.
// entries: the port box's entries in order.
int portNumberForText(const QStringList& entries, const QString& text);
