#pragma once
// Dialogs for tests: every box is recorded (kind and text, in order) and the boxes that
// return something take their answer from a script. A box whose answer was not scripted is
// answered "cancelled" and counted in unscriptedCount(), so a test can tell a missing
// script line from an intended cancel.
#include "core/dialogs.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <optional>
#include <vector>

class FakeDialogs : public Dialogs {
public:
    enum class Kind {
        Error,
        Information,
        Confirmation,
        Caution,
        Message,
        OpenFiles,
        InputBox,
        Folder
    };

    struct Shown {
        Kind kind;
        // Message text; the filter for OpenFiles; the prompt for InputBox; for Folder the
        // caption, " @ " and the folder it opens at.
        QString text;
        bool operator==(const Shown&) const = default;
    };

    // Script: answers are taken in order by the box kind that needs them (both kinds of
    // confirmation from one list).
    void answerConfirm(bool ok) { m_confirms.push_back(ok); }
    void answerOpenFiles(QStringList files) { m_files.push_back(std::move(files)); }
    void answerInput(std::optional<QString> text) { m_inputs.push_back(std::move(text)); }
    void answerFolder(std::optional<QString> folder) { m_folders.push_back(std::move(folder)); }

    // Called after a box is recorded and before it returns, as if the user looked at it
    // for a while (tests use it to let input arrive meanwhile).
    void setOnShow(std::function<void(const Shown&)> onShow) { m_onShow = std::move(onShow); }

    const std::vector<Shown>& transcript() const { return m_transcript; }
    // One line per box: "error: text", "information: ...", "confirm: ...", "caution: ..."
    // (confirm with "Abbrechen" the default), "message: ...", "open: filter", "input: prompt",
    // "folder: caption @ start".
    QStringList transcriptLines() const;
    int unscriptedCount() const { return m_unscripted; }
    bool scriptUsedUp() const {
        return m_confirms.empty() && m_files.empty() && m_inputs.empty() && m_folders.empty();
    }
    void clear();

    static QString kindName(Kind kind);

    void showError(const QString& text) override;
    void showInformation(const QString& text) override;
    bool confirm(const QString& text) override;
    bool confirmDefaultCancel(const QString& text) override;
    void showMessage(const QString& text) override;
    QStringList openFiles(const QString& filter, bool several) override;
    std::optional<QString> inputBox(const QString& caption, const QString& prompt,
                                    const QString& initial) override;
    std::optional<QString> chooseFolder(const QString& caption,
                                        const QString& startFolder) override;

private:
    static std::optional<QString> take(std::deque<std::optional<QString>>& answers);

    void record(Kind kind, const QString& text);
    bool takeConfirm();

    std::vector<Shown> m_transcript;
    std::deque<bool> m_confirms;
    std::deque<QStringList> m_files;
    std::deque<std::optional<QString>> m_inputs;
    std::deque<std::optional<QString>> m_folders;
    std::function<void(const Shown&)> m_onShow;
    int m_unscripted = 0;
};
