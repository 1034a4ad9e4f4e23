#include "tests/support/fake_dialogs.h"

QString FakeDialogs::kindName(Kind kind) {
    switch (kind) {
    case Kind::Error:
        return QStringLiteral("error");
    case Kind::Information:
        return QStringLiteral("information");
    case Kind::Confirmation:
        return QStringLiteral("confirm");
    case Kind::Caution:
        return QStringLiteral("caution");
    case Kind::Message:
        return QStringLiteral("message");
    case Kind::OpenFiles:
        return QStringLiteral("open");
    case Kind::InputBox:
        return QStringLiteral("input");
    case Kind::Folder:
        return QStringLiteral("folder");
    }
    return QString();
}

QStringList FakeDialogs::transcriptLines() const {
    QStringList lines;
    for (const Shown& s : m_transcript)
        lines << kindName(s.kind) + QStringLiteral(": ") + s.text;
    return lines;
}

void FakeDialogs::clear() {
    m_transcript.clear();
    m_confirms.clear();
    m_files.clear();
    m_inputs.clear();
    m_folders.clear();
    m_unscripted = 0;
}

void FakeDialogs::record(Kind kind, const QString& text) {
    m_transcript.push_back(Shown{kind, text});
    if (m_onShow)
        m_onShow(m_transcript.back());
}

void FakeDialogs::showError(const QString& text) {
    record(Kind::Error, text);
}
void FakeDialogs::showInformation(const QString& text) {
    record(Kind::Information, text);
}
void FakeDialogs::showMessage(const QString& text) {
    record(Kind::Message, text);
}

bool FakeDialogs::confirm(const QString& text) {
    record(Kind::Confirmation, text);
    return takeConfirm();
}

bool FakeDialogs::confirmDefaultCancel(const QString& text) {
    record(Kind::Caution, text);
    return takeConfirm();
}

bool FakeDialogs::takeConfirm() {
    if (m_confirms.empty()) {
        ++m_unscripted;
        return false;
    }
    const bool ok = m_confirms.front();
    m_confirms.pop_front();
    return ok;
}

QStringList FakeDialogs::openFiles(const QString& filter, bool several) {
    Q_UNUSED(several);
    record(Kind::OpenFiles, filter);
    if (m_files.empty()) {
        ++m_unscripted;
        return {};
    }
    QStringList files = m_files.front();
    m_files.pop_front();
    return files;
}

std::optional<QString> FakeDialogs::inputBox(const QString& caption, const QString& prompt,
                                             const QString& initial) {
    Q_UNUSED(caption);
    Q_UNUSED(initial);
    record(Kind::InputBox, prompt);
    if (m_inputs.empty())
        ++m_unscripted;
    return take(m_inputs);
}

std::optional<QString> FakeDialogs::chooseFolder(const QString& caption,
                                                 const QString& startFolder) {
    record(Kind::Folder, caption + QStringLiteral(" @ ") + startFolder);
    if (m_folders.empty())
        ++m_unscripted;
    return take(m_folders);
}

std::optional<QString> FakeDialogs::take(std::deque<std::optional<QString>>& answers) {
    if (answers.empty())
        return std::nullopt;
    // Taken apart by hand: copying the optional straight out of the deque trips a false
    // maybe-uninitialized warning in optimised GCC 12 builds.
    const bool given = answers.front().has_value();
    const QString text = given ? *answers.front() : QString();
    answers.pop_front();
    if (!given)
        return std::nullopt;
    return text;
}
