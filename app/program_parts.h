#pragma once
// Every long-lived object of the program past the dialogs and the log, made once in the order
// each needs the others and torn down in reverse by the order of the members. The program
// entry, the benchmarks that measure the real window and the tests that drive it build the
// program through this one piece; they differ only in the outside services they hand in.
#include "app/ini_file.h"
#include "app/language.h"
#include "app/main_window.h"
#include "app/process_starter.h"
#include "app/receiver_wiring.h"
#include "app/small_dialogs.h"
#include "net/http_server.h"
#include "net/telnet_client.h"
#include "procedures/image_server.h"
#include "serial/com_port.h"
#include "serial/port_list.h"
#include "serial/tick_wait.h"
#include "usbstick/format_dialog.h"
#include "usbstick/format_services.h"

#include <QString>

#include <memory>
#include <optional>

class SessionLog;

// What the program takes from the desktop it runs on; each outlives the ProgramParts.
struct ProgramServices {
    Dialogs& dialogs;
    SessionLog& log;
    ProcessStarter& starter;
    BusyIndicator& busy;        // the wait dialog
    CopyProgress& copyProgress; // the copy dialog
    usbstick::FormatLibrary& formatLibrary;
    usbstick::DriveLister& driveLister;
    // Where the port list looks for the PC's serial devices.
    struct DeviceFolders {
        QString dev = QStringLiteral("/dev");
        QString byId = QStringLiteral("/dev/serial/by-id");
        QString sys = QStringLiteral("/sys/class/tty");
    } deviceFolders;
};

// The real services: the desktop's wait and copy dialogs, detached processes, the format
// library and drive lister this system offers.
class DesktopServices {
public:
    DesktopServices();
    ProgramServices services(Dialogs& dialogs, SessionLog& log);

private:
    DetachedProcessStarter m_starter;
    TForm2 m_form2;
    TForm4 m_form4;
    const std::unique_ptr<usbstick::FormatLibrary> m_formatLibrary;
    const std::unique_ptr<usbstick::DriveLister> m_driveLister;
};

class ProgramParts {
public:
    // programDir: the folder of the stbmate.ini the window reads. The window is built, joined
    // to the wiring and has read its settings when this returns; window().created() says
    // whether it may be shown.
    ProgramParts(const ProgramServices& services, const QString& programDir);
    // Detaches the wiring while the window's widgets still exist.
    ~ProgramParts();
    ProgramParts(const ProgramParts&) = delete;
    ProgramParts& operator=(const ProgramParts&) = delete;

    TForm1& window() { return m_window; }
    ReceiverWiring& wiring() { return m_wiring; }

private:
    // Teardown: the destructor detaches the wiring first, so the lingering job (it stops its
    // transfer and takes its hooks out of the watcher) goes before the servers, and the
    // terminal's consumer and the console link go before the port. The members then go bottom
    // up, each after those below it that use it: the window, the wiring, the servers, the
    // telnet client before the ticker it waits on, the port.
    //
    // The active language's texts: the window fills them, the jobs and the format dialog read
    // them when they show a box.
    LanguageTexts m_language;
    usbstick::TForm3 m_form3;
    TSerialPortList m_portList;
    // Outlives the wiring's terminal consumer, console link and replug watch, which detach()
    // takes out of it.
    TComPort m_port;
    // The tick wait of the telnet client and the channel over it, on the same steady clock as
    // the console link's.
    EventLoopTicker m_networkTicker;
    TTelnetClient m_telnet;
    // Both servers outlive the lingering job (in the wiring), which stops its transfer first.
    THTTPServer m_http;
    TftpImageServer m_tftp;
    // Engaged when stbmate.ini exists; the window reads and writes its settings through it.
    std::optional<IniFile> m_settings;
    ReceiverWiring m_wiring;
    TForm1 m_window;
};
