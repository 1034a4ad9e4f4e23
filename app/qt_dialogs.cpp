#include "app/qt_dialogs.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>

namespace {

void showBox(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text) {
    QMessageBox box(icon, title, text, QMessageBox::NoButton, parent);
    box.setObjectName(QStringLiteral("MessageBox"));
    QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
}

bool confirmBox(QWidget* parent, const QString& text, bool okIsDefault) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Bestätigung"), text,
                    QMessageBox::NoButton, parent);
    box.setObjectName(QStringLiteral("MessageBox"));
    QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    QPushButton* cancel = box.addButton(QStringLiteral("Abbrechen"), QMessageBox::RejectRole);
    box.setDefaultButton(okIsDefault ? ok : cancel);
    box.setEscapeButton(cancel);
    box.exec();
    // Closing the box by its frame counts as "Abbrechen".
    return box.clickedButton() == ok;
}

} // namespace

void QtDialogs::showError(const QString& text) {
    showBox(m_parent, QMessageBox::Critical, QStringLiteral("Fehler"), text);
}

void QtDialogs::showInformation(const QString& text) {
    showBox(m_parent, QMessageBox::Information, QStringLiteral("Information"), text);
}

void QtDialogs::showMessage(const QString& text) {
    showBox(m_parent, QMessageBox::NoIcon, QStringLiteral("stbmate"), text);
}

bool QtDialogs::confirm(const QString& text) {
    return confirmBox(m_parent, text, true);
}

bool QtDialogs::confirmDefaultCancel(const QString& text) {
    return confirmBox(m_parent, text, false);
}

QStringList QtDialogs::openFiles(const QString& filter, bool several) {
    if (several)
        return QFileDialog::getOpenFileNames(m_parent, QString(), QString(), filter);
    const QString file = QFileDialog::getOpenFileName(m_parent, QString(), QString(), filter);
    return file.isEmpty() ? QStringList() : QStringList{file};
}

std::optional<QString> QtDialogs::inputBox(const QString& caption, const QString& prompt,
                                           const QString& initial) {
    bool ok = false;
    const QString text =
        QInputDialog::getText(m_parent, caption, prompt, QLineEdit::Normal, initial, &ok);
    if (!ok)
        return std::nullopt;
    return text;
}

std::optional<QString> QtDialogs::chooseFolder(const QString& caption, const QString& startFolder) {
    const QString folder = QFileDialog::getExistingDirectory(m_parent, caption, startFolder);
    if (folder.isEmpty())
        return std::nullopt;
    return folder;
}

bool installGermanQtTranslations() {
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QStringLiteral("qt_de"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    return true;
}
