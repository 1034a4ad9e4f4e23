#pragma once
// The real boxes on Qt: modal, German titles and button texts in every language.
#include "core/dialogs.h"

#include <QPointer>
#include <QWidget>

class QtDialogs : public Dialogs {
public:
    // parent: the window the boxes are centred on (may be set later; null = none).
    explicit QtDialogs(QWidget* parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget* parent) { m_parent = parent; }

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
    QPointer<QWidget> m_parent;
};

// Loads Qt's own German texts so the standard file and input dialogs speak German.
// Returns false when the translation files are not installed.
bool installGermanQtTranslations();
