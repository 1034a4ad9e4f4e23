#pragma once
// Setting the receiver's fixed address: over the serial console the address is set on the
// running system and written into /config/start.sh, which is created when there is none,
// by typing at the receiver's vi keystroke by keystroke. A hidden command deletes the
// script again.
//
// The dialogue is blind: each keystroke group is sent with SendConsole (which waits the
// settle time while events keep being handled), and the procedure only looks at the flags
// the response watcher raised meanwhile. Everything runs on the UI thread, nested inside
// the menu handler that called it.
//
// No thread of its own; holds references only. Every referenced object must outlive it.
#include "core/dialogs.h"
#include "core/main_view.h"
#include "core/message_catalogue.h"
#include "log/session_log.h"
#include "serial/console_dialogue.h"

#include <QString>
#include <QStringList>

// True when name stands as a whole file name in an ls listing (columns separated by blanks,
// possibly wrapped in colour codes whose escape byte the watcher has already dropped).
// "old_start.sh.bak" does not name "start.sh".
bool ListingNamesFile(const QStringList& listingLines, const QString& name);

class AddressProcedure {
public:
    // messages: the active language's texts, read at the moment a box is shown, so a
    // language change takes effect for the next box.
    AddressProcedure(ConsoleDialogue& console, BusyIndicator& busy, Dialogs& dialogs,
                     MainView& view, const MessageCatalogue& messages, SessionLog& log)
        : m_console(console), m_busy(busy), m_dialogs(dialogs), m_view(view), m_messages(messages),
          m_log(log) {}

    // The menu command "IP-Adresse setzen/ändern". Ends in one of: the NoReceiverAddress error box
    // (empty address, nothing sent), the NoSerialConnection error box (no console answer, or no
    // "/config #" prompt), or the StartScriptWritten box after the script was edited or created.
    // The address is read from the view when it is checked, when ifconfig is sent and when the
    // script is written. A port failure (whatever ConsolePort::WriteText throws) leaves at once,
    // skipping the remaining keystrokes and the result entry; the caller shows it.
    void setAddress();

    // Drives vi in /config to replace the first "ifconfig" line on the first screen, or to
    // insert the line above the last screen line when none was shown. Returns the
    // StartScriptWritten text. Port failures propagate as above.
    QString EditStartScript(const QString& address);
    // Drives vi in /config to write a new four-line script and makes it executable.
    // Returns the StartScriptWritten text. Port failures propagate as above.
    QString CreateStartScript(const QString& address);

    // The hidden delete command on the port label: after "OK" in the confirmation it sends
    // Ctrl-C, "cd /config", "rm start.sh"; "Abbrechen" sends nothing. Logs nothing, checks
    // nothing, shows no result. Port failures propagate as above.
    void deleteStartScript();

private:
    void send(const QByteArray& keys) { m_console.SendConsole(keys); }
    QByteArray ifconfigLine(const QString& address) const;
    // "ls" in the current folder; true when start.sh is listed under its own name.
    bool listStartScript();

    ConsoleDialogue& m_console;
    BusyIndicator& m_busy;
    Dialogs& m_dialogs;
    MainView& m_view;
    const MessageCatalogue& m_messages;
    SessionLog& m_log;
};
