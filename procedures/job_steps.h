#pragma once
// The toolkit the receiver jobs are written with, so that the three read alike: a step entry
// in the session log, a stop (error entry and box), a wait for the receiver's answer that
// grants a late one a few more waits, the choice of the one file a job needs, and the
// reading back of what the receiver's start script holds, from the lines the console or the
// telnet session completes while the job waits. UI thread only; holds references only.
#include "core/dialogs.h"
#include "core/line_stream.h"
#include "core/message_catalogue.h"
#include "log/session_log.h"
#include "procedures/receiver_answers.h"
#include "serial/response_watcher.h"

#include <QFileInfo>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// Further waits granted to an answer that is late, before it counts as missing.
inline constexpr int kExtraWaits = 4;

// Collects the lines the console or the telnet session completes while it lives, passing
// each on to the hook that was in force (the session log on the console), which it puts back
// when it ends, also when a send throws.
class LineTap {
public:
    explicit LineTap(ResponseWatcher& console);
    explicit LineTap(LineStream& telnet);
    ~LineTap() { m_install(m_previous); }
    LineTap(const LineTap&) = delete;
    LineTap& operator=(const LineTap&) = delete;

    using Hook = std::function<void(const QString&)>;
    const QStringList& lines() const { return m_lines; }
    // Runs for each line after the hook in force has had it, so a job's reaction to a line
    // comes after the line in the log. It may end the tap's life.
    void setOnLine(Hook react) { m_onLine = std::move(react); }

private:
    LineTap(Hook previous, std::function<void(Hook)> install);

    Hook m_previous;
    Hook m_onLine;
    std::function<void(Hook)> m_install;
    QStringList m_lines;
};

// True once seen() holds, calling waitOnce() before each look after the first, at most
// kExtraWaits times.
bool waitFor(const std::function<bool()>& seen, const std::function<void()>& waitOnce);

// The start script's answer among the lines tap collects after a query was sent (ifconfigQuery,
// ftpLinesQuery), waiting as waitFor does; nullopt when the end marker never came.
std::optional<ScriptAnswer> readBack(const LineTap& tap, const std::function<void()>& waitOnce);

class JobSteps {
public:
    JobSteps(SessionLog& log, Dialogs& dialogs, const MessageCatalogue& messages)
        : m_log(log), m_dialogs(dialogs), m_messages(messages) {}

    // The entry "****** what ******" that marks how far a job has come.
    void step(const QString& what);

    // The ways a job stops on its own: always an error entry, then the box it shows, if any.
    // Each returns false, for a step that reports whether the job goes on.
    bool fail(const QString& entry);
    bool fail(const QString& entry, MessageId errorBox);
    bool failWithMessage(const QString& entry, const QString& message);

    // text checked as an address (field names it in the log); nullopt after the
    // InvalidAddress stop.
    std::optional<QString> checkedAddress(const QString& text, const QString& field);
    // The receiver address field's text checked the same way, after the NoReceiverAddress stop
    // for an empty field.
    std::optional<QString> checkedReceiverAddress(const QString& text);

    // A fresh file dialog (no earlier choice offered as history) for the one file the job
    // needs, between the "select file" and "was selected" steps. nullopt after a stop:
    // cancelEntry when the user cancelled (nothing logged when it is empty), or the
    // WrongFileChosen box for a file of another name.
    std::optional<QFileInfo> chooseFile(const QString& name, const QString& filter,
                                        const QString& cancelEntry);

private:
    SessionLog& m_log;
    Dialogs& m_dialogs;
    const MessageCatalogue& m_messages;
};
