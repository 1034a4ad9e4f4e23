#pragma once
// ReceiverWiring: everything between the main window and the receiver. It holds the serial
// port, the telnet client and both file servers that ProgramParts (app/program_parts.h) made
// and hands in (WiringParts), and owns the console link, the telnet channel the FTP job talks
// through and the job that goes on after its command (app/receiver_jobs.h); it connects them
// to each other and to the window. ProgramParts hands it to the window as its WindowCommands;
// the wiring knows the window only as a ReceiverWindow.
//
// Every receiver job (the three menu commands, the hidden delete command and the check
// button's run) enters through runJob(), which takes the job gate (core/job_gate.h) for it.
// The gate is the one authority on whether a job runs: the window asks it through
// refuseWhileJobRuns() and follows its heldChanged signal. The lingering job keeps the gate
// after runJob() returns, until it has ended.
//
// Lifetime: made before the window, after the parts it is handed; ProgramParts calls attach()
// before the window reads its settings, which go to the parts (the settle delay, the port), and
// detach() before the window goes. What feeds the window's widgets exists only between the two.
// Shutdown order in detach(): the lingering job (takes its hooks out of the watcher, stops its
// transfer), every connection made at attach, the telnet client's handlers, the terminal's
// consumer, the console link, the replug watch and the port chooser; the port, the telnet
// client and the servers stay with ProgramParts, which destroys them after the window. UI thread
// only.
#include "app/language.h"
#include "app/receiver_jobs.h"
#include "app/receiver_window.h"
#include "app/window_commands.h"
#include "core/busy_indicator.h"
#include "core/copy_progress.h"
#include "core/job_gate.h"
#include "log/session_log.h"
#include "net/http_server.h"
#include "net/telnet_channel.h"
#include "net/telnet_client.h"
#include "procedures/image_server.h"
#include "serial/com_port.h"
#include "serial/console_link.h"
#include "serial/port_list.h"
#include "serial/port_replug.h"
#include "usbstick/stick_folder.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

class Dialogs;
class DialogPortChooser;
class ReceiverWiring;
namespace usbstick {
class FormatLibrary;
class TForm3;
} // namespace usbstick

// What the program entry makes before the wiring and hands it; each outlives the wiring.
// language is the window's: it changes with the language box, and the jobs and the format
// dialog read it at the moment they show a text.
struct WiringServices {
    Dialogs& dialogs;
    SessionLog& log;
    BusyIndicator& busy;
    CopyProgress& copyProgress;
    const LanguageTexts& language;
    usbstick::TForm3& formatDialog;
    usbstick::FormatLibrary& formatLibrary;
    // The serial devices the port box offers.
    TSerialPortList& portList;
};

// The links and servers ProgramParts makes before the wiring and hands it; each outlives it.
// The wiring joins them to each other and to the window at attach() and takes its hooks out
// of them at detach().
struct WiringParts {
    TComPort& port;
    TTelnetClient& telnet;
    Ticker& telnetTicker; // the tick wait the telnet client waits on
    THTTPServer& http;
    ImageServer& imageServer; // the emergency image job's TFTP server
};

class ReceiverWiring : public WindowCommands {
public:
    ReceiverWiring(const WiringServices& services, const WiringParts& parts);
    ~ReceiverWiring() override;
    ReceiverWiring(const ReceiverWiring&) = delete;
    ReceiverWiring& operator=(const ReceiverWiring&) = delete;

    // Connects the parts to window and makes what feeds its widgets. Once per detach().
    void attach(ReceiverWindow& window);
    // Takes the hooks out in the order above; the window's widgets are still alive.
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
    // The job of that kind from the job table (app/receiver_jobs.h), through the gate.
    void runJob(JobKind kind) override;
    // For the window's own changes that would disturb a job (port, language): true and the
    // "please wait" box while a job runs, else false.
    bool refuseWhileJobRuns() override;
    bool jobRunning() const override { return m_gate.held(); }
    std::optional<JobKind> runningJob() const { return m_gate.holder(); }
    JobGate& gate() { return m_gate; }
    // For a close or quit: ends a job that only waits for the receiver's report (the
    // lingering job). True when no job holds the gate afterwards.
    bool endWaitingJob() override;

    // --- The window's other needs ------------------------------------------------------
    void applyPort(const QString& text, int portNumber,
                   PortChoice choice = PortChoice::Typing) override;
    void setSettleDelay(int delay) override;
    // The hidden "Ende" button: telnet closed, HTTP server stopped.
    void releaseNetwork() override;
    Dialogs& dialogs() { return m_dialogs; }
    const LanguageTexts& language() const { return m_language; }
    usbstick::TForm3& formatDialog() { return m_formatDialog; }
    usbstick::FormatLibrary& formatLibrary() { return m_formatLibrary; }
    SessionLog& log() override { return m_log; }
    TSerialPortList& portList() override { return m_portList; }
    CopyProgress& copyProgress() { return m_copyProgress; }
    const MessageCatalogue& messages() const { return m_language.messages; }
    TComPort& comPort() { return m_port; }
    ConsoleDialogue& consoleDialogue() { return m_serialLink->dialogue(); }
    TTelnetClient& telnet() { return m_telnet; }
    THTTPServer& httpServer() { return m_http; }
    ImageServer& imageServer() { return m_imageServer; }
    BusyIndicator& busy() { return m_busy; }
    // The dialogue over the telnet session, fed with all of its output.
    TelnetChannel& telnetChannel() { return *m_telnetChannel; }
    int settleDelay() const { return m_settleDelay; }
    Ticker& ticker() { return m_serialLink->ticker(); }
    // The job that goes on after its command (made at attach).
    LingeringJob& lingeringJob() { return *m_lingering; }

private:
    // The console page: the receiver's bytes to it, its keys to the port.
    void connectTerminal(ReceiverWindow& window);
    // The hint over the empty console page follows the port.
    void connectFirstLook(ReceiverWindow& window);
    // The port comes back by itself after its device was unplugged and returned.
    void connectReplug(ReceiverWindow& window);
    void openPortAtStartup();

    Dialogs& m_dialogs;
    SessionLog& m_log;
    BusyIndicator& m_busy;
    CopyProgress& m_copyProgress;
    const LanguageTexts& m_language;
    usbstick::TForm3& m_formatDialog;
    usbstick::FormatLibrary& m_formatLibrary;
    TSerialPortList& m_portList;
    TComPort& m_port;
    TTelnetClient& m_telnet;
    THTTPServer& m_http;
    ImageServer& m_imageServer;
    Ticker& m_telnetTicker;
    ReceiverWindow* m_window = nullptr;
    int m_settleDelay = 0;
    JobGate m_gate;

    // Made at attach in this order; detach() takes them down in reverse. The port chooser is
    // made here rather than in ProgramParts: its dialog belongs to the window, so it lives
    // exactly as long as the window is attached, and the port never keeps a dangling one.
    std::unique_ptr<DialogPortChooser> m_portChooser;
    std::unique_ptr<TPortReplug> m_replug;
    std::unique_ptr<SerialConsoleLink> m_serialLink;
    int m_terminalConsumer = 0; // 0 while not registered
    std::unique_ptr<TelnetChannel> m_telnetChannel;
    // The context of every connection made at attach: destroying it takes them all out.
    std::unique_ptr<QObject> m_hooks;
    std::unique_ptr<LingeringJob> m_lingering;
};
