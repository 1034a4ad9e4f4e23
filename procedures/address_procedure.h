#pragma once
// Setting the receiver's fixed address: over the serial console the address is set on the
// running system and written into /config/start.sh, which is created when there is none,
// by typing at the receiver's vi keystroke by keystroke. A hidden command deletes the
// script again.
//
// Each line or keystroke group goes over the console channel, which waits the settle time
// while events keep being handled; the procedure looks at what the channel saw and the lines
// it completed meanwhile. The address is checked before anything is typed, and success is
// reported only after the script was read back with grep and holds exactly the new address
// line. Everything runs on the UI thread, nested inside the menu handler that called it.
//
// No thread of its own; holds references only. Every referenced object must outlive it.
#include "core/busy_indicator.h"
#include "core/dialogs.h"
#include "core/main_view.h"
#include "core/message_catalogue.h"
#include "core/receiver_channel.h"
#include "log/session_log.h"
#include "procedures/job_steps.h"
#include "procedures/receiver_answers.h"

#include <QString>
#include <QStringList>

#include <optional>

// True when name stands as a whole file name in an ls listing (columns separated by blanks,
// possibly wrapped in colour codes whose escape byte the watcher has already dropped).
// "old_start.sh.bak" does not name "start.sh".
bool listingNamesFile(const QStringList& listingLines, const QString& name);

class AddressProcedure {
public:
    struct Seams {
        Dialogs& dialogs;
        MainView& view;
        // The active language's texts, read at the moment a box is shown, so a language
        // change takes effect for the next box.
        const MessageCatalogue& messages;
        // The serial console.
        ReceiverChannel& console;
        BusyIndicator& busy;
        SessionLog& log;
    };

    explicit AddressProcedure(Seams seams)
        : m_s(seams), m_steps(m_s.log, m_s.dialogs, m_s.messages) {}

    // The menu command "IP-Adresse setzen/ändern". Ends in one of: the NoReceiverAddress error box
    // (empty address, nothing sent), the InvalidAddress error box (not a dotted IPv4 address),
    // the NoSerialConnection error box (no console answer, no "/config #" prompt), a box of its
    // own when the script could not be read (StartScriptUnreadable), written
    // (StartScriptNotWritten) or does not hold the new address afterwards
    // (StartScriptReadBackDiffers), or the StartScriptWritten box after the script was edited
    // or created and read back.
    // The address is read from the view, and checked, when the run starts, when ifconfig is
    // sent and when the script is written. A port failure (whatever ConsolePort::WriteText
    // throws) leaves at once, skipping the remaining keystrokes and the result entry; the
    // caller shows it.
    void setAddress();

    // In /config: asks grep where the ifconfig lines stand, then drives vi so that exactly one
    // "ifconfig eth0 " + address line stays, where the first one stood (above the last line
    // when there was none). Returns the StartScriptWritten text, or nullopt after its own
    // error entry and box. Port failures propagate as above.
    std::optional<QString> EditStartScript(const QString& address);
    // Drives vi in /config to write a new four-line script and makes it executable. Returns
    // like EditStartScript.
    std::optional<QString> CreateStartScript(const QString& address);

    // The hidden delete command on the port label: after "OK" in the confirmation (whose
    // default is "Abbrechen") it sends Ctrl-C and "cd /config"; only once the "/config #"
    // prompt showed it sends "rm start.sh", then lists the folder and reports whether the
    // script is gone. "Abbrechen" sends nothing. Port failures propagate as above.
    void deleteStartScript();

private:
    QString ifconfigLine(const QString& address) const;
    // The receiver address field, checked; nullopt after the InvalidAddress exit.
    std::optional<QString> takeAddress();
    // Up to the "/config #" prompt: the console answers and the running system has the
    // address. false after the stop was reported.
    bool reachConfigFolder();
    // The ifconfig lines and the length of start.sh in the current folder; nullopt when the
    // answer's end never came.
    std::optional<ScriptAnswer> askStartScript();
    // ":wq"; true when the shell's prompt came back. Otherwise vi is left unsaved (Escape,
    // ":q!") and the failure is reported.
    bool writeAndLeaveVi();
    // Reads the script back: the StartScriptWritten text after the step resultEntry, or nullopt
    // after the failure was reported.
    std::optional<QString> confirmWritten(const QString& address, const QString& resultEntry);
    // An error entry and the NoSerialConnection box.
    bool fail(const QString& entry) { return m_steps.fail(entry, MessageId::NoSerialConnection); }
    // "ls" in the current folder; true when start.sh is listed under its own name.
    bool listStartScript();

    Seams m_s;
    JobSteps m_steps;
};
