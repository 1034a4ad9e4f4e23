#include "procedures/job_steps.h"

std::optional<ScriptAnswer> readBack(const LineTap& tap, ReceiverChannel& channel) {
    std::optional<ScriptAnswer> answer;
    channel.waitUntil(
        [&] {
            answer = parseScriptAnswer(tap.lines());
            return answer.has_value();
        },
        answerDeadline(channel));
    return answer;
}

void JobSteps::step(const QString& what) {
    m_log.WriteLogEntry(QStringLiteral("****** ") + what + QStringLiteral(" ******"));
}

bool JobSteps::fail(const QString& entry) {
    m_log.WriteLogError(entry);
    return false;
}

bool JobSteps::fail(const QString& entry, MessageId errorBox) {
    m_log.WriteLogError(entry);
    m_dialogs.showError(m_messages.text(errorBox));
    return false;
}

bool JobSteps::failWithMessage(const QString& entry, const QString& message) {
    m_log.WriteLogError(entry);
    m_dialogs.showMessage(message);
    return false;
}

std::optional<QString> JobSteps::checkedAddress(const QString& text, const QString& field) {
    return checkedAddressOrReport(text, field, m_log, m_dialogs, m_messages);
}

std::optional<QString> JobSteps::checkedReceiverAddress(const QString& text) {
    if (text.isEmpty()) {
        fail(QStringLiteral("no ip address for ufs910 was given ! --> EXIT"),
             MessageId::NoReceiverAddress);
        return std::nullopt;
    }
    return checkedAddress(text, QStringLiteral("ip address for ufs910"));
}

std::optional<QFileInfo> JobSteps::chooseFile(const QString& name, const QString& filter,
                                              const QString& cancelEntry) {
    step(QStringLiteral("COMMAND: select file ") + name);
    const QStringList chosen = m_dialogs.openFiles(filter, false);
    if (chosen.isEmpty() || chosen.first().isEmpty()) {
        if (!cancelEntry.isEmpty())
            fail(cancelEntry);
        return std::nullopt;
    }
    const QFileInfo file(chosen.first());
    if (file.fileName() != name) {
        failWithMessage(name + QStringLiteral(" was not selected on openfile dialog ! --> EXIT"),
                        m_messages.text(MessageId::WrongFileChosen));
        return std::nullopt;
    }
    step(QStringLiteral("RESULT: ") + name + QStringLiteral(" was selected"));
    return file;
}
