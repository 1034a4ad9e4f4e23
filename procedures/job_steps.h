#pragma once
// The toolkit the receiver jobs are written with, so that the three read alike: a step entry
// in the session log, a stop (error entry and box), a wait for the receiver's answer that
// grants a late one a few more waits, the choice of the one file a job needs, and the
// reading back of what the receiver's start script holds, from the lines the channel to the
// receiver completes while the job waits. UI thread only; holds references only.
#include "core/dialogs.h"
#include "core/message_catalogue.h"
#include "core/receiver_channel.h"
#include "log/session_log.h"
#include "procedures/receiver_answers.h"

#include <QFileInfo>
#include <QString>
#include <QStringList>

#include <optional>

// Further answer waits granted to an answer that is late, before it counts as missing.
inline constexpr int kExtraWaits = 4;

// How long a job waits on channel for an answer that is late, in ticks.
inline int answerDeadline(const ReceiverChannel& channel) {
    return kExtraWaits * channel.answerTicks();
}

// The start script's answer among the lines tap collects after a query was sent on channel
// (ifconfigQuery, ftpLinesQuery), waiting up to answerDeadline; nullopt when the end marker
// never came.
std::optional<ScriptAnswer> readBack(const LineTap& tap, ReceiverChannel& channel);

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
