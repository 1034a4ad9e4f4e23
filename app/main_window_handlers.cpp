// TForm1's behaviour: start-up, the settings it stores, the language it applies, the quit
// paths and the small commands.
#include "app/main_window.h"

#include "app/file_version.h"
#include "app/port_box.h"
#include "app/process_starter.h"
#include "app/receiver_jobs.h"
#include "app/status_light.h"
#include "serial/port_list.h"
#include "terminal/terminal_widget.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>

#include <initializer_list>
#include <utility>

namespace {

const QString kMain = QStringLiteral("Main");

} // namespace

void TForm1::FormCreate(IniFile* settings) {
    m_log.SetLogNameTemplate(QStringLiteral("stbmate-$Y-$M-$D"));
    m_log.WriteLogEntry(QStringLiteral("****** start programm ******"));

    if (!settings) {
        m_log.WriteLogError(QStringLiteral("stbmate.ini is missing ! --> EXIT"));
        m_dialogs.showError(QStringLiteral("stbmate.ini fehlt"));
        return;
    }

    Timer1Timer();
    StatusPanels[1]->setText(QStringLiteral("stbmate.exe"));
    StatusPanels[2]->setText(QStringLiteral("Version: ") +
                             FileVersionText(QCoreApplication::applicationFilePath()));
    PageControl1->setCurrentIndex(0);

    m_settings = settings;
    const MainSettings main = readMainSettings(*m_settings);
    m_currentLanguage = main.language;
    Edit1->setText(main.ip);
    m_settleDelay = main.settleDelay;
    if (m_settleDelay < 0) {
        // A negative delay would shorten every settle wait to nothing and vi would get
        // Escape and ":wq" at once.
        m_log.WriteLogEntry(QStringLiteral("****** INFO: Delay %1 is below 0, 0 is used ******")
                                .arg(m_settleDelay));
        m_settleDelay = 0;
    }
    m_wiring.setSettleDelay(m_settleDelay);
    applyTerminalSettings(main);

    // The handlers are for the user's changes; start-up fills the boxes without them.
    {
        const QSignalBlocker block(ComboBox1);
        ComboBox1->clear();
        ComboBox1->addItems(languageNames(m_settings->ReadSections()));
        ComboBox1->setEditText(m_currentLanguage);
    }
    {
        const QSignalBlocker block(ComboBox2);
        m_portNumber = portNumberForText(portEntries(), main.comPort);
        if (m_portNumber > 0)
            ComboBox2->setCurrentIndex(m_portNumber - 1);
        ComboBox2->setEditText(main.comPort);
    }
    m_chosenPortText = main.comPort;
    m_wiring.applyPort(main.comPort, m_portNumber);
    refreshPortEntries();
    ComboBox2->setBeforePopup([this] { refreshPortEntries(); });
    connect(&m_wiring.portList(), &TSerialPortList::changed, this, &TForm1::refreshPortEntries);
    m_wiring.portList().follow();

    ApplyLanguage(m_currentLanguage);
    Timer1->start();
    m_created = true;
    updateFirstLookText();
}

void TForm1::applyTerminalSettings(const MainSettings& main) {
    Terminal1->setHistoryLines(main.historyLines);
    {
        const QSignalBlocker block(Terminal1); // the size read is no change to store
        Terminal1->setFontPointSize(main.fontSize);
    }
    connect(Terminal1, &TTerminal::fontPointSizeChanged, this, [this](int points) {
        writeMainSetting(QStringLiteral("FontSize"), QString::number(points));
    });
    Terminal1->setPasteTiming({main.pasteCharDelayMs, main.pasteLineDelayMs});
    // The paste question is a confirmation box like the jobs' own; the file dialog is Qt's.
    Terminal1->setPrompts({[this](const QString& question) { return m_dialogs.confirm(question); },
                           {},
                           [this](const QString& text) { m_dialogs.showError(text); }});
}

void TForm1::ApplyLanguage(const QString& section) {
    m_language = readLanguageTexts(*m_settings, section);
    const LanguageTexts& t = m_language;
    Datei1->setTitle(t.caption(CaptionKey::M1_1));
    Beenden1->setText(t.caption(CaptionKey::M1_2));
    Funktionen1->setTitle(t.caption(CaptionKey::M2_1));
    for (size_t i = 0; const ReceiverJob& job : receiverJobs())
        if (job.menu)
            m_jobActions[i++]->setText(t.caption(job.menu->caption));
    Hilfe1->setTitle(t.caption(CaptionKey::M3_1));
    Label1->setText(t.caption(CaptionKey::L1));
    Label2->setText(t.caption(CaptionKey::L2));
    Label3->setText(t.caption(CaptionKey::L3));
    Label4->setText(t.caption(CaptionKey::L4));
    Label5->setText(t.caption(CaptionKey::L5));
    Label6->setText(t.caption(CaptionKey::L6));
    GroupBox1->setTitle(t.caption(CaptionKey::L7));
    Button2->setText(t.caption(CaptionKey::L8));

    // Screen readers follow the visible captions; an empty caption keeps the last name.
    auto follow = [](QWidget* field, QLabel* label) {
        if (!label->text().isEmpty()) {
            field->setAccessibleName(label->text());
            label->setAccessibleName(label->text());
        }
    };
    follow(Edit1, Label1);
    follow(ComboBox1, Label2);
    follow(ComboBox2, Label3);
    follow(StatusLight1, Label4);
    follow(StatusLight2, Label5);
    follow(Edit2, Label6);
    if (!Button2->text().isEmpty())
        Button2->setAccessibleName(Button2->text());
    applyWindowTexts();
    if (!GroupBox1->title().isEmpty())
        GroupBox1->setAccessibleName(GroupBox1->title());
}

bool TForm1::writeMainSetting(const QString& key, const QString& value) {
    try {
        m_settings->WriteString(kMain, key, value);
        return true;
    } catch (const EIniFileException& e) {
        m_dialogs.showError(e.message());
        return false;
    }
}

void TForm1::Timer1Timer() {
    StatusPanels[0]->setText(clockText(QDateTime::currentDateTime()));
}

void TForm1::ComboBox1Change() {
    if (!m_settings)
        return;
    if (m_wiring.refuseWhileJobRuns()) {
        const QSignalBlocker block(ComboBox1);
        ComboBox1->setEditText(m_currentLanguage);
        return;
    }
    // Only a language the settings file has: a half-typed name would blank every caption and,
    // stored, the next start as well.
    const int entry = ComboBox1->findText(ComboBox1->currentText(), Qt::MatchFixedString);
    if (entry < 0)
        return;
    m_currentLanguage = ComboBox1->itemText(entry);
    if (!writeMainSetting(QStringLiteral("Language"), m_currentLanguage))
        return;
    ApplyLanguage(m_currentLanguage);
}

void TForm1::ComboBox2Change() {
    if (!m_settings)
        return;
    // The job talks through the port in use; the box goes back to the name of that port.
    if (m_wiring.refuseWhileJobRuns()) {
        const QSignalBlocker block(ComboBox2);
        ComboBox2->setEditText(m_settings->ReadString(kMain, QStringLiteral("ComPort"), QString()));
        return;
    }
    const QString text = ComboBox2->currentText();
    if (!writeMainSetting(QStringLiteral("ComPort"), text))
        return;
    m_portNumber = portNumberForText(portEntries(), text);
    m_wiring.applyPort(text, m_portNumber);
}

void TForm1::ComboBox2Chosen() {
    // The box is locked during a job and its edits refused; leaving it as the lock comes on
    // is no choice of the user's.
    if (!m_settings || m_wiring.jobRunning())
        return;
    m_chosenPortText = ComboBox2->currentText();
    m_wiring.applyPort(ComboBox2->currentText(), m_portNumber, WindowCommands::PortChoice::Chosen);
}

QString TForm1::portText() const {
    return ComboBox2->currentText();
}

QStringList TForm1::portEntries() const {
    QStringList items;
    for (int i = 0; i < std::min(kComEntries, ComboBox2->count()); ++i)
        items << ComboBox2->itemText(i);
    return items;
}

void TForm1::Edit1Exit() {
    if (!m_settings)
        return;
    writeMainSetting(QStringLiteral("IP"), Edit1->text());
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Edit1 && event->type() == QEvent::FocusOut)
        Edit1Exit();
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::showJobRunning(bool running) {
    for (QAction* action : m_jobActions)
        action->setEnabled(!running);
    for (QAction* action : {SatChannelListEditor1, N1})
        action->setEnabled(!running);
    for (QWidget* control :
         std::initializer_list<QWidget*>{Button2, ComboBox2, ComboBox1, Edit1, Edit2, Label3})
        control->setEnabled(!running);
    Terminal1->setKeysAccepted(!running);
    m_jobStatus->setText(running ? messages().text(MessageId::PleaseWait) : QString());
    if (running || m_heldEnd == HeldEnd::None)
        return;
    // Queued, so the handler that ran the job returns before the window goes.
    const HeldEnd end = std::exchange(m_heldEnd, HeldEnd::None);
    QTimer::singleShot(0, this, [this, end] {
        if (end == HeldEnd::Quit)
            Beenden1Click();
        else
            close();
    });
}

void TForm1::showTransferStatus(const QString& text) {
    m_transferStatus->setText(text);
}

void TForm1::showStatusMessage(const QString& text, int timeoutMs) {
    statusBar()->showMessage(text, timeoutMs);
}

void TForm1::showWaitCursor(bool waiting) {
    if (waiting)
        setCursor(Qt::WaitCursor);
    else
        unsetCursor();
}

void TForm1::logHeldEnd() {
    m_log.WriteLogEntry(QStringLiteral("****** INFO: end requested, waiting for the running job "
                                       "******"));
}

void TForm1::closeEvent(QCloseEvent* event) {
    // A job stopped halfway would leave the receiver's editor open with part of its keys
    // typed; the close waits for the job's end (its keys keep their waits meanwhile, as a
    // quit would cut every later wait short). A job that types nothing more and only waits
    // for the receiver (a lingering job) ends at once and closes its server.
    if (!m_wiring.endWaitingJob()) {
        if (m_heldEnd == HeldEnd::None) {
            m_heldEnd = HeldEnd::Close;
            logHeldEnd();
        }
        event->ignore();
        return;
    }
    // An address typed just before closing is kept as if the field had been left.
    if (Edit1->hasFocus())
        Edit1Exit();
    QMainWindow::closeEvent(event);
    // The main window ends the program even while a wait or progress dialog is still up.
    if (event->isAccepted())
        QCoreApplication::quit();
}

void TForm1::Beenden1Click() {
    if (!m_wiring.endWaitingJob()) {
        if (m_heldEnd == HeldEnd::None)
            logHeldEnd();
        m_heldEnd = HeldEnd::Quit;
        return;
    }
    m_log.WriteLogEntry(QStringLiteral("****** end programm *******"));
    QCoreApplication::quit();
}

void TForm1::Button1Click() {
    // Releasing the network under the FTP job would cut its telnet session halfway.
    if (m_wiring.refuseWhileJobRuns())
        return;
    m_wiring.releaseNetwork();
    close();
}

void TForm1::Button2Click() {
    m_wiring.runJob(JobKind::CheckConnections);
}

void TForm1::Label3ContextPopup(const QPoint& pos) {
    Q_UNUSED(pos);
    m_wiring.runJob(JobKind::DeleteStartScript);
}

void TForm1::N1Click() {
    const QString version = FileVersionText(QCoreApplication::applicationFilePath());
    // The author as the package names the upstream (dist/copyright).
    m_dialogs.showMessage(QStringLiteral("stbmate\nVersion %1\n%2\n\n%3")
                              .arg(version, m_language.text(WindowText::AboutAuthor),
                                   m_language.text(WindowText::AboutPurpose)));
}

void TForm1::SatChannelListEditor1Click() {
    // The editor is looked for beside the settings file.
    const QString editor =
        m_settings ? findChannelListEditor(QFileInfo(m_settings->path()).path()) : QString();
    if (editor.isEmpty() || !m_starter.startDetached(editor, {}))
        m_dialogs.showError(QStringLiteral(
            "Es ist ein Fehler aufgetreten. \nSatEditor konnte nicht gestartet werden."));
}

QString TForm1::receiverAddress() const {
    return Edit1->text();
}
QString TForm1::ownAddress() const {
    return Edit2->text();
}
void TForm1::setOwnAddress(const QString& address) {
    Edit2->setText(address);
}
void TForm1::setSerialLight(bool lit) {
    StatusLight1->setLit(lit);
}
void TForm1::setNetworkLight(bool lit) {
    StatusLight2->setLit(lit);
}
void TForm1::showPage(int index) {
    PageControl1->setCurrentIndex(index);
}

void TForm1::appendNetworkLine(const QString& line) {
    Memo1->appendPlainText(line);
}

void TForm1::appendNetworkText(const QString& text) {
    // Output without line ends would make one line the text layout has to take in whole at
    // every block; past kNetworkViewLineChars the view starts a new line of its own.
    qsizetype lineLength = Memo1->document()->lastBlock().length() - 1;
    QString shown;
    shown.reserve(text.size() + text.size() / kNetworkViewLineChars + 1);
    for (const QChar c : text) {
        if (c == QLatin1Char('\n')) {
            lineLength = -1;
        } else if (lineLength >= kNetworkViewLineChars) {
            shown += QLatin1Char('\n');
            lineLength = 0;
        }
        shown += c;
        ++lineLength;
    }
    QTextDocument* document = Memo1->document();
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(shown);
    // 10,000 lines of kNetworkViewLineChars would be millions of characters, and the
    // document's buffer only gives back what was cut once a good part of it is dead: the view
    // also keeps at most kNetworkViewChars of the newest text, cut a quarter past that in
    // whole lines so a flood does not cut at every block.
    const int count = document->characterCount();
    if (count > kNetworkViewChars + kNetworkViewChars / 4) {
        const QTextBlock kept = document->findBlock(count - kNetworkViewChars).next();
        if (kept.isValid()) {
            QTextCursor cut(document);
            cut.setPosition(kept.position(), QTextCursor::KeepAnchor);
            cut.removeSelectedText();
        }
    }
    Memo1->verticalScrollBar()->setValue(Memo1->verticalScrollBar()->maximum());
}

QStringList TForm1::networkLines() const {
    return Memo1->toPlainText().split(QLatin1Char('\n'));
}

void TForm1::clearNetworkText() {
    Memo1->clear();
}

// Memo1 is never cleared and the telnet handler asks for its last line at every piece, so
// these look at the document's end only.
int TForm1::networkLineCount() const {
    return Memo1->document()->blockCount();
}

QString TForm1::lastNetworkLine() const {
    return Memo1->document()->lastBlock().text();
}
