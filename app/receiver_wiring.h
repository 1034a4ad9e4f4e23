#pragma once
// ReceiverWiring: everything between the main window and the receiver. It owns the serial port
// and its console link, the telnet client, the HTTP file server, the TFTP image server with
// the emergency image job, the download watch, and it holds the session log; it connects them
// to each other and to the window. The program entry makes one and hands it to TForm1, whose
// handlers call in here.
//
// Every receiver job (the three menu commands, the hidden delete command and the check
// button's run) enters through runJob(), which takes the job gate (core/job_gate.h) for it.
// The gate is the one authority on whether a job runs: the window asks it through
// refuseWhileJobRuns() and follows its heldChanged signal. The emergency image job keeps the
// gate after runJob() returns, until its transfer has ended.
//
// Lifetime: made before the window; TForm1's constructor calls attach() before it reads its
// settings, its destructor calls detach(). The parts exist only between the two, because
// they feed the window's widgets. Shutdown order in detach(): the emergency job (takes its
// hooks out of the watcher) and the TFTP server, the HTTP server, the telnet client (it
// waits on the link's ticker), the terminal's consumer, the console link, the port (its
// threads joined). UI thread only.
#include "core/copy_progress.h"
#include "core/download_watch.h"
#include "core/job_gate.h"
#include "core/line_stream.h"
#include "log/session_log.h"
#include "net/http_server.h"
#include "net/telnet_client.h"
#include "procedures/emergency_image_procedure.h"
#include "procedures/image_server.h"
#include "serial/com_port.h"
#include "serial/console_link.h"
#include "serial/port_replug.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

class Dialogs;
class QLabel;
class DialogPortChooser;
class ReceiverWiring;
class TForm1;
class TTerminal;
namespace usbstick {
class FormatLibrary;
class TForm3;
} // namespace usbstick

// The copy dialog the program entry hands the window once it exists; nothing before that.
class WindowCopyProgress : public CopyProgress {
public:
    explicit WindowCopyProgress(TForm1& window) : m_window(window) {}
    void startCopy(int total) override;
    void setCopied(int copied) override;
    void finishCopy() override;

private:
    TForm1& m_window;
};

// The emergency image job's place in the window: our TFTP server on port 69, the job itself
// (it outlives its menu click: the transfer ends later, through the console watcher) and a
// status bar field that shows the transfer's progress. Destroyed before the console link: the
// job takes its hooks out of the watcher, then the server stops.
class EmergencyImageWiring {
public:
    EmergencyImageWiring(ReceiverWiring& wiring, TForm1& window);
    EmergencyImageWiring(const EmergencyImageWiring&) = delete;
    EmergencyImageWiring& operator=(const EmergencyImageWiring&) = delete;
    ~EmergencyImageWiring();

    EmergencyImageProcedure& procedure() { return *m_procedure; }
    TftpImageServer& server() { return m_server; }

private:
    WindowCopyProgress m_copyProgress;
    TftpImageServer m_server;
    std::unique_ptr<EmergencyImageProcedure> m_procedure;
    QLabel* m_status = nullptr; // owned by the window's status bar
};

class ReceiverWiring {
public:
    ReceiverWiring(Dialogs& dialogs, SessionLog& log);
    ~ReceiverWiring();
    ReceiverWiring(const ReceiverWiring&) = delete;
    ReceiverWiring& operator=(const ReceiverWiring&) = delete;

    // Makes the parts and connects them to window and its terminal view. Once.
    void attach(TForm1& window, TTerminal& terminal);
    // Tears the parts down in the order above; the window's widgets are still alive.
    void detach();

    // --- The one entrance for receiver jobs --------------------------------------------
    // Runs job now, marked as kind while it runs. An exception the job lets out (a port
    // failure) ends it with the standard error box instead of taking the program down.
    // One job at a time: a job types into the receiver's shell and editor between its waits,
    // so anything else typed meanwhile ends up in the file it edits. While one runs the
    // window locks its controls; a request that still arrives (a queued click) is refused
    // with the "please wait" box and does nothing else.
    // The job gets the gate's Hold; one that moves it elsewhere keeps the gate past its return.
    void runJob(JobKind kind, const std::function<void(JobGate::Hold&)>& job);
    // For the window's own changes that would disturb a job (port, language): true and the
    // "please wait" box while a job runs, else false.
    bool refuseWhileJobRuns();
    bool jobRunning() const { return m_gate.held(); }
    std::optional<JobKind> runningJob() const { return m_gate.holder(); }
    JobGate& gate() { return m_gate; }
    // For a close or quit: ends a job that only waits for the receiver's report (the
    // emergency image transfer). True when no job holds the gate afterwards.
    bool endWaitingJob();

    // The jobs, each through runJob().
    void setAddress();
    void deleteStartScript();
    void installFtpServer();
    void loadEmergencyImage();
    // Both checks; the lights show their results.
    void checkConnections();

    // --- The window's other needs ------------------------------------------------------
    // The port box's setting: portNumber 1..4 for an entry, else text as typed. Typing
    // moves an open port only to an entry; Chosen (an entry picked, editing ended) takes a
    // typed device path too and opens the port.
    enum class PortChoice { Typing, Chosen };
    void applyPort(const QString& text, int portNumber, PortChoice choice = PortChoice::Typing);
    void setSettleDelay(int delay);
    // The hidden "Ende" button: telnet closed, HTTP server stopped.
    void releaseNetwork();
    // The format dialog and its service, made by the program entry; null until then.
    void setFormatDialog(usbstick::TForm3* dialog, usbstick::FormatLibrary* library) {
        m_formatDialog = dialog;
        m_formatLibrary = library;
    }
    usbstick::TForm3* formatDialog() const { return m_formatDialog; }
    usbstick::FormatLibrary* formatLibrary() const { return m_formatLibrary; }
    // The format dialog shown modally with the active language's texts; button1Caption is
    // the settings file's key L9.
    void showUsbFormatDialog(const QString& button1Caption);

    Dialogs& dialogs() { return m_dialogs; }
    SessionLog& log() { return m_log; }
    TComPort& comPort() { return *m_port; }
    ConsoleDialogue& consoleDialogue() { return m_serialLink->dialogue(); }
    TTelnetClient& telnet() { return *m_telnet; }
    THTTPServer& httpServer() { return *m_http; }

private:
    void connectTerminal(TTerminal& terminal);
    // The port comes back by itself after its device was unplugged and returned.
    void connectReplug(TForm1& window);
    void openPortAtStartup();

    Dialogs& m_dialogs;
    SessionLog& m_log;
    TForm1* m_window = nullptr;
    DownloadWatch m_download;
    LineStream m_telnetLines; // the telnet output the FTP job reads its answers from
    int m_settleDelay = 0;
    JobGate m_gate;
    usbstick::TForm3* m_formatDialog = nullptr;
    usbstick::FormatLibrary* m_formatLibrary = nullptr;

    // In creation order; detach() destroys them in reverse.
    std::unique_ptr<TComPort> m_port;
    std::unique_ptr<DialogPortChooser> m_portChooser;
    std::unique_ptr<TPortReplug> m_replug;
    std::unique_ptr<SerialConsoleLink> m_serialLink;
    int m_terminalConsumer = 0; // 0 while not registered
    std::unique_ptr<TTelnetClient> m_telnet;
    std::unique_ptr<THTTPServer> m_http;
    std::unique_ptr<EmergencyImageWiring> m_emergency;
};
