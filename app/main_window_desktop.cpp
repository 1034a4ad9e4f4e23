// TForm1 on a desktop: the port box that follows the PC's serial devices, the texts the
// window adds in the active language, and the log folder in the file manager.
#include "app/main_window.h"

#include "app/port_box.h"
#include "app/process_starter.h"
#include "serial/port_list.h"
#include "terminal/terminal_widget.h"

#include <QAbstractItemView>
#include <QAction>
#include <QDir>
#include <QSignalBlocker>

#include <algorithm>

void TForm1::refreshPortEntries() {
    const QStringList devices = m_wiring.portList().ports();
    QStringList shown;
    for (int i = kComEntries; i < ComboBox2->count(); ++i)
        shown << ComboBox2->itemText(i);
    if (shown == devices)
        return;
    // Changing the list is no edit of the user's: the text and the stored port stay.
    const QSignalBlocker block(ComboBox2);
    const QString text = ComboBox2->currentText();
    while (ComboBox2->count() > kComEntries)
        ComboBox2->removeItem(kComEntries);
    ComboBox2->addItems(devices);
    // The field shows a by-id path by its end; its list shows every path whole.
    int widest = 0;
    for (int i = 0; i < ComboBox2->count(); ++i)
        widest =
            std::max(widest, ComboBox2->fontMetrics().horizontalAdvance(ComboBox2->itemText(i)));
    ComboBox2->view()->setMinimumWidth(widest + 24);
    ComboBox2->setEditText(text);
}

void TForm1::offerPortList() {
    if (!isVisible())
        return;
    ComboBox2->setFocus();
    ComboBox2->showPopup();
}

void TForm1::applyWindowTexts() {
    const LanguageTexts& t = m_language;
    LogFolder1->setText(t.text(WindowText::LogFolder));
    TerminalTexts terminal;
    terminal.copy = t.text(WindowText::TermCopy);
    terminal.paste = t.text(WindowText::TermPaste);
    terminal.selectAll = t.text(WindowText::TermSelectAll);
    terminal.find = t.text(WindowText::TermFind);
    terminal.save = t.text(WindowText::TermSave);
    terminal.saveTitle = t.text(WindowText::TermSaveTitle);
    terminal.saveFilter = t.text(WindowText::TermSaveFilter);
    terminal.cannotWrite = t.text(WindowText::TermCannotWrite);
    terminal.pasteQuestion = t.text(WindowText::TermPasteQuestion);
    terminal.pasteOneLine = t.text(WindowText::TermPasteOneLine);
    terminal.pasteDropped = t.text(WindowText::TermPasteDropped);
    terminal.foreignLink = t.text(WindowText::TermForeignLink);
    terminal.findField = t.text(WindowText::FindField);
    terminal.findOlder = t.text(WindowText::FindOlder);
    terminal.findNewer = t.text(WindowText::FindNewer);
    terminal.findClose = t.text(WindowText::FindClose);
    terminal.notFound = t.text(WindowText::FindNotFound);
    Terminal1->setTexts(terminal);
}

void TForm1::openLogFolder() {
    const QString folder = m_log.folder();
    QDir().mkpath(folder); // before the first entry of a day it may not exist yet
    // xdg-open hands the folder to whatever file manager the desktop has.
    if (!m_starter.startDetached(QStringLiteral("xdg-open"), {folder}))
        m_dialogs.showInformation(folder);
}
