#pragma once
// TForm1, the main window: its controls, the settings file and the language texts, the clock,
// and the menu that starts the receiver jobs. The other parts reach the controls only through
// what the window shows for them (the show... calls and MainView), never as widgets.
//
// The port, the network clients and servers and the receiver jobs live behind WindowCommands
// (app/window_commands.h); the handlers here are the window's edge and call into it. What the
// parts behind it need of the window is ReceiverWindow (app/receiver_window.h).
//
// Lifetime: constructed once by ProgramParts (app/program_parts.h) after the wiring, which
// it then attaches before it runs FormCreate with the settings file. Lives until the process
// ends. Shutdown order: the window closes, ProgramParts detaches the wiring (the parts that
// feed its widgets go), then the window and its widgets go.
#include "app/ini_file.h"
#include "app/language.h"
#include "app/port_select_form.h"
#include "app/receiver_window.h"
#include "app/window_commands.h"
#include "core/dialogs.h"
#include "core/message_catalogue.h"
#include "log/session_log.h"

#include <QDateTime>
#include <QMainWindow>
#include <QString>

#include <atomic>
#include <memory>
#include <vector>

class QAction;
class TTerminal;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTimer;
class QVBoxLayout;

class ProcessStarter;
class TPortBox;
class TStatusLight;
class TTerminalHint;

class TForm1 : public QMainWindow, public ReceiverWindow {
    Q_OBJECT

public:
    // Builds the controls; FormCreate reads the settings. wiring and language: made before
    // this window and outliving it. The window fills language from the settings file at each
    // change of the language box; the wiring reads the same texts.
    TForm1(Dialogs& dialogs, ProcessStarter& starter, WindowCommands& wiring,
           LanguageTexts& language, QWidget* parent = nullptr);
    ~TForm1() override;

    // Reads settings (stbmate.ini; null when it is missing) and fills the window from it; hands
    // the settle delay and the port to the wiring, which must be attached before. Everything
    // the window stores goes back to settings, which must outlive it. Once.
    void FormCreate(IniFile* settings);
    // false before FormCreate or when it stopped because stbmate.ini is missing: the error
    // was logged and shown, and the program must end without showing this window.
    bool created() const override { return m_created; }

    // The network page keeps the newest kNetworkViewLines lines, at most kNetworkViewChars
    // characters, and breaks a line longer than kNetworkViewLineChars.
    static constexpr int kNetworkViewLines = 10000;
    static constexpr qsizetype kNetworkViewLineChars = 512;
    static constexpr int kNetworkViewChars = 1000000;
    // The port box's first entries, COM1..COM4; the PC's serial devices follow them.
    static constexpr int kComEntries = 4;

    // --- What the other parts build on ------------------------------------------------
    // The settings file; only valid when created().
    IniFile& settings() { return *m_settings; }
    const MessageCatalogue& messages() const { return m_language.messages; }
    Dialogs& dialogs() { return m_dialogs; }
    int settleDelay() const { return m_settleDelay; }
    const QString& currentLanguage() const { return m_currentLanguage; }
    // Port number 1..4 from the port box ("COM1".."COM4" by entry position + 1), 0 when the
    // box text names no entry, e.g. a device path such as /dev/ttyUSB0.
    int portNumber() const { return m_portNumber; }
    // The port box's text as typed or picked (a device path is opened as it is).
    QString portText() const;
    // The wiring's report that a receiver job starts (true) or has ended (false): while one
    // runs, the commands and fields that would disturb it are disabled, terminal keys are
    // held back and the status bar says why. A close asked for meanwhile happens at the end.
    void showJobRunning(bool running) override;
    // A transfer's progress in the status bar; empty clears it.
    void showTransferStatus(const QString& text) override;
    // A passing note in the status bar (the port unplugged, back again); 0 keeps it until
    // the next one.
    void showStatusMessage(const QString& text, int timeoutMs = 0) override;
    // The hourglass over the window while a job blocks it without a wait dialog.
    void showWaitCursor(bool waiting) override;
    // Where the settings and the log live, told when the pointer rests on the clock.
    void showSettingsLocation(const QString& toolTip);
    // What the receiver sent on its console, for the terminal on page "Seriell". Any thread:
    // the bytes are queued for the UI thread (the port calls it on its I/O thread).
    void showConsoleBytes(const QByteArray& bytes) override;
    // The port's state for the hint laid over the empty terminal (app/terminal_hint.h) until
    // the receiver's first byte: open, closing, or not usable (devicePath: the port set, empty
    // when none).
    void showPortOpened() override;
    void showPortClosing() override;
    void showPortUnavailable(const QString& devicePath) override;
    QWidget* widget() override { return this; }
    WindowIntents& intents() override { return m_intents; }

    // --- MainView ---------------------------------------------------------------------
    QString receiverAddress() const override;
    QString ownAddress() const override;
    void setOwnAddress(const QString& address) override;
    void setSerialLight(bool lit) override;
    void setNetworkLight(bool lit) override;
    void showPage(int index) override;
    void appendNetworkLine(const QString& line) override;
    void appendNetworkText(const QString& text) override;
    QStringList networkLines() const override;
    void clearNetworkText() override;
    int networkLineCount() const override;
    QString lastNetworkLine() const override;

    // --- Handlers (public so tests and wiring can call them directly) -------------------
    void Timer1Timer();
    void ComboBox1Change();
    void ComboBox2Change();
    // An entry picked in the port box or its editing ended: the port is taken and opened.
    void ComboBox2Chosen();
    void Edit1Exit();
    void Beenden1Click();
    void Button1Click();
    void Button2Click();
    void N1Click();
    void SatChannelListEditor1Click();
    // Loads section into every keyed caption and the message catalogue (empty texts for
    // missing keys or an unknown section).
    void ApplyLanguage(const QString& section);

    // The hidden delete command; the menu's jobs come from the job table (app/receiver_jobs.h).
    void Label3ContextPopup(const QPoint& pos);

    // The port box's list after COM1-COM4: the serial devices the PC has now. Its text stays.
    void refreshPortEntries();
    // The stored port did not open at start: the port box's list opens for a choice.
    void offerPortList() override;
    // Hilfe: the session log's folder in the desktop's file manager.
    void openLogFolder();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // --- Controls (tests and screen readers find them by object name) --------------------
    QGroupBox* GroupBox1 = nullptr;
    TStatusLight* StatusLight1 = nullptr;
    QLabel* Label4 = nullptr;
    TStatusLight* StatusLight2 = nullptr;
    QLabel* Label5 = nullptr;
    QPushButton* Button2 = nullptr;
    TPortBox* ComboBox2 = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QLabel* Label6 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QLabel* Label2 = nullptr;
    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;         // "Seriell"
    QWidget* TabSheet2 = nullptr;         // "Netzwerk"
    TTerminal* Terminal1 = nullptr;       // on page "Seriell"
    QPlainTextEdit* Memo1 = nullptr;      // on page "Netzwerk"
    TTerminalHint* m_firstLook = nullptr; // over Terminal1 until the receiver's first byte
    QLabel* StatusPanels[4] = {};
    QPushButton* Button1 = nullptr; // hidden "Ende"
    QTimer* Timer1 = nullptr;

    QMenu* Datei1 = nullptr;
    QAction* Beenden1 = nullptr;
    QMenu* Funktionen1 = nullptr;
    // One per menu entry of the job table, in its order; named as the table says.
    std::vector<QAction*> m_jobActions;
    QAction* SatChannelListEditor1 = nullptr; // hidden
    QMenu* Hilfe1 = nullptr;
    QAction* N1 = nullptr; // "?"
    QAction* LogFolder1 = nullptr;

    // The terminal's keys of section Main: history length and paste pacing.
    void applyTerminalSettings(const MainSettings& main);
    void buildControls();
    void buildStatusGroup(QWidget* central);
    void buildFields(QWidget* central);
    void buildPages(QWidget* central);
    void buildStatusBar();
    void arrangeInLayouts(QWidget* central);
    void buildSerialPage();
    void nameForScreenReaders();
    void buildMenu();
    // The texts of the language section beyond the specified keys: the terminal's, Hilfe's.
    void applyWindowTexts();
    void connectHandlers();
    // The hint's Enter-key text in the current language.
    void updateFirstLookText();
    // Writes Main/key; on a refused write shows the error and returns false.
    bool writeMainSetting(const QString& key, const QString& value);
    void logHeldEnd();
    QStringList portEntries() const;

    Dialogs& m_dialogs;
    ProcessStarter& m_starter;
    WindowCommands& m_wiring;
    WindowIntents m_intents;
    SessionLog& m_log;
    bool m_created = false;
    IniFile* m_settings = nullptr; // set once the file was found
    LanguageTexts& m_language;
    QString m_currentLanguage;
    int m_settleDelay = 0;
    int m_portNumber = 0;
    QString m_chosenPortText; // the port box's text when a port was last taken
    QVBoxLayout* m_serialPageLayout = nullptr;
    QLabel* m_jobStatus = nullptr;      // owned by the status bar
    QLabel* m_transferStatus = nullptr; // owned by the status bar
    // A close or quit asked for while a job ran: it happens once the job has returned.
    enum class HeldEnd { None, Close, Quit } m_heldEnd = HeldEnd::None;
    std::atomic<bool> m_consoleByteSeen{false}; // set on the port's I/O thread
};

// Status bar clock text: "dd.MM.yyyy hh:mm".
QString clockText(const QDateTime& now);
