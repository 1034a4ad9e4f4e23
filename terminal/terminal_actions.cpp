// TTerminal's paste, find and save: what the user does with the terminal besides typing.
#include "core/file_replace.h"
#include "terminal/find_bar.h"
#include "terminal/paste_text.h"
#include "terminal/terminal_widget.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QScrollBar>

#include <algorithm>
#include <chrono>

using namespace terminal;

bool TTerminal::handleOwnShortcut(const QKeyEvent& key) {
    const Qt::KeyboardModifiers mods =
        key.modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    const bool ctrlShift = mods == (Qt::ControlModifier | Qt::ShiftModifier);
    if (ctrlShift && key.key() == Qt::Key_F) {
        showFindBar();
        return true;
    }
    const bool shiftInsert = mods == Qt::ShiftModifier && key.key() == Qt::Key_Insert &&
                             !key.modifiers().testFlag(Qt::KeypadModifier);
    if ((ctrlShift && key.key() == Qt::Key_V) || shiftInsert) {
        pasteFrom(QClipboard::Clipboard);
        return true;
    }
    return false;
}

// ---- paste ------------------------------------------------------------------------------

void TTerminal::pasteFrom(int clipboardMode) {
    paste(QApplication::clipboard()->text(static_cast<QClipboard::Mode>(clipboardMode)));
}

bool TTerminal::paste(const QString& text) {
    if (!m_keysAccepted || text.isEmpty())
        return false;
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(text.size()));
    for (const QChar ch : text) {
        if (ch.unicode() < 256) // what the line carries, as with typed keys
            bytes += static_cast<char>(ch.unicode());
    }
    PasteText pasted = preparePaste(bytes);
    if (pasted.bytes.empty())
        return false;
    if (pasted.ask) {
        const int lines = PastePacer::lineCount(pasted.bytes);
        QString question = lines == 1 ? m_texts.pasteOneLine : m_texts.pasteQuestion.arg(lines);
        if (pasted.dropped)
            question += QLatin1Char('\n') + m_texts.pasteDropped;
        QString shown = QString::fromStdString(pasted.shown);
        if (shown.size() > 400)
            shown = shown.left(400) + QStringLiteral(" …");
        question += QStringLiteral("\n\n") + shown;
        const bool yes = m_prompts.confirm
                             ? m_prompts.confirm(question)
                             : QMessageBox::question(this, QStringLiteral("Bestätigung"),
                                                     question) == QMessageBox::Yes;
        // The box let a job start meanwhile: it has the receiver now.
        if (!yes || !m_keysAccepted)
            return false;
    }
    m_paste.start(std::move(pasted.bytes), m_pasteTiming, PastePacer::Clock::now());
    sendDuePaste();
    return true;
}

void TTerminal::sendDuePaste() {
    if (!m_keysAccepted) {
        m_paste.cancel();
        return;
    }
    const auto now = PastePacer::Clock::now();
    for (std::string bytes = m_paste.take(now); !bytes.empty(); bytes = m_paste.take(now))
        send(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
    if (!m_paste.active()) {
        m_pasteTimer.stop();
        return;
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(m_paste.nextDue() - now);
    m_pasteTimer.start(static_cast<int>(std::max<std::int64_t>(0, wait.count())));
}

// ---- save and select -----------------------------------------------------------------------

QString TTerminal::plainText() const {
    return QString::fromStdString(terminal::plainText(m_buffer));
}

bool TTerminal::saveTo(const QString& path, QString* error) const {
    std::string target = QFile::encodeName(path).toStdString();
    switch (examineSaveTarget(target)) {
    case SaveTarget::ForeignLink:
        *error = m_texts.foreignLink.arg(path);
        return false;
    case SaveTarget::OwnLink: {
        // The user's own link: the text goes where it points, the link stays.
        const QFileInfo link(path);
        const QString pointsTo = link.canonicalFilePath();
        target =
            QFile::encodeName(pointsTo.isEmpty() ? link.symLinkTarget() : pointsTo).toStdString();
        break;
    }
    case SaveTarget::Plain:
        break;
    }
    // All or nothing: a full disk never leaves half a log.
    const QByteArray text = plainText().toUtf8();
    if (replaceFileAtomically(target, text.constData(), std::size_t(text.size())))
        return true;
    *error = m_texts.cannotWrite.arg(path);
    return false;
}

void TTerminal::saveWithDialog() {
    const QString path =
        m_prompts.saveFileName
            ? m_prompts.saveFileName()
            : QFileDialog::getSaveFileName(this, m_texts.saveTitle, QString(), m_texts.saveFilter);
    if (path.isEmpty())
        return;
    QString error;
    if (saveTo(path, &error))
        return;
    if (m_prompts.error)
        m_prompts.error(error);
    else
        QMessageBox::critical(this, QStringLiteral("Fehler"), error);
}

void TTerminal::selectAll() {
    m_selectionStart = QPoint(0, -m_buffer.historyCount());
    m_selectionEnd = QPoint(m_buffer.columns() - 1, m_buffer.rows() - 1);
    if (QApplication::clipboard()->supportsSelection())
        QApplication::clipboard()->setText(selectedText(), QClipboard::Selection);
    viewport()->update();
}

void TTerminal::fillContextMenu(QMenu& menu) {
    const QString selection = selectedText();
    QAction* copy = menu.addAction(m_texts.copy, this,
                                   [selection] { QApplication::clipboard()->setText(selection); });
    copy->setEnabled(!selection.isEmpty());
    QAction* insert =
        menu.addAction(m_texts.paste, this, [this] { pasteFrom(QClipboard::Clipboard); });
    insert->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+V")));
    insert->setEnabled(m_keysAccepted && !QApplication::clipboard()->text().isEmpty());
    menu.addAction(m_texts.selectAll, this, &TTerminal::selectAll);
    menu.addSeparator();
    menu.addAction(m_texts.find, this, &TTerminal::showFindBar)
        ->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+F")));
    menu.addAction(m_texts.save, this, &TTerminal::saveWithDialog);
}

void TTerminal::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    fillContextMenu(menu);
    menu.exec(event->globalPos());
}

// ---- find ---------------------------------------------------------------------------------

void TTerminal::showFindBar() {
    if (!m_findBar) {
        // On the viewport: screen readers see a scroll area's viewport and scroll bars only,
        // so a bar beside them would not be in the accessibility tree.
        m_findBar = new TFindBar(viewport());
        m_findBar->setTexts(m_texts);
        connect(m_findBar, &TFindBar::findRequested, this,
                [this](const QString& text, SearchDirection direction) {
                    m_findBar->setFound(find(text, direction));
                });
        connect(m_findBar, &TFindBar::closeRequested, this, &TTerminal::closeFindBar);
    }
    m_findBar->open();
}

void TTerminal::closeFindBar() {
    if (m_findBar)
        m_findBar->hide();
    m_findText.clear();
    m_match.reset();
    repaintChangedRows();
    setFocus();
}

bool TTerminal::findBarVisible() const {
    return m_findBar && m_findBar->isVisible();
}

bool TTerminal::find(const QString& text, SearchDirection direction) {
    const std::u32string needle = text.toStdU32String();
    if (needle != m_findText)
        m_match.reset(); // a new text starts again below the last line
    m_findText = needle;
    const int lastLine = m_buffer.rows() - 1;
    const int line = m_match ? m_match->line : lastLine;
    // Below the last line's end: backward finds the newest match, forward wraps to the oldest.
    const int column = m_match ? m_match->column : kMaxColumns;
    m_match = findText(m_buffer, m_findText, line, column, direction);
    if (m_match)
        showMatch(*m_match);
    else
        repaintChangedRows();
    return m_match.has_value();
}

void TTerminal::showMatch(const TextMatch& match) {
    QScrollBar* bar = verticalScrollBar();
    const int shownTop = -scrollBackLines();
    if (match.line >= shownTop && match.line < shownTop + m_buffer.rows()) {
        repaintChangedRows(); // in view already: only the highlight moves
        return;
    }
    // Rows shown are back..back+23 above the live screen; put the match in the middle.
    const int back = std::clamp(m_buffer.rows() / 2 - match.line, 0, m_buffer.historyCount());
    bar->setValue(bar->maximum() - back);
    repaintChangedRows();
}

void TTerminal::setTexts(const TerminalTexts& texts) {
    m_texts = texts;
    if (m_findBar)
        m_findBar->setTexts(texts);
}
