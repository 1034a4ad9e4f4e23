#pragma once
// The boxes a procedure shows, behind an interface so tests can script the answers and
// check the transcript. Titles and button texts are fixed German texts in every language:
// error "Fehler", information "Information", confirmation "Bestätigung" ("OK"/"Abbrechen"),
// plain message = the application title "stbmate".
#include <QString>
#include <QStringList>

#include <optional>

class Dialogs {
public:
    virtual ~Dialogs() = default;
    virtual void showError(const QString& text) = 0;
    virtual void showInformation(const QString& text) = 0;
    // true = OK; false = "Abbrechen" or the box closed.
    virtual bool confirm(const QString& text) = 0;
    // The same box for a question whose safe answer is no: "Abbrechen" is the default button,
    // so a hasty Enter does not go on.
    virtual bool confirmDefaultCancel(const QString& text) = 0;
    virtual void showMessage(const QString& text) = 0;
    // Empty list = cancelled. filter in Qt's "Name (*.ext)" form; several = multi-select.
    virtual QStringList openFiles(const QString& filter, bool several) = 0;
    // std::nullopt = cancelled.
    virtual std::optional<QString> inputBox(const QString& caption, const QString& prompt,
                                            const QString& initial) = 0;
    // A folder picked in a dialog titled caption that opens at startFolder; nullopt = cancelled.
    virtual std::optional<QString> chooseFolder(const QString& caption,
                                                const QString& startFolder) = 0;
};
