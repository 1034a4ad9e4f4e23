#pragma once
// Every long-lived object of the program past the settings and the log, made once in the order
// each needs the others and torn down in reverse by the order of the members. The program
// entry and the benchmarks that measure the real window build the program through this one
// piece.
#include "app/language.h"
#include "app/main_window.h"
#include "app/process_starter.h"
#include "app/receiver_wiring.h"
#include "app/small_dialogs.h"
#include "usbstick/format_dialog.h"
#include "usbstick/format_services.h"

#include <QString>

#include <memory>

class QtDialogs;
class SessionLog;

// The main window and the wiring joined, for as long as this object lives. The program entry
// and the tests that build the whole window join them through it, so a test's window is wired
// as the program's is. Attaches the wiring, then runs the window's FormCreate (which hands its
// settings to the parts); the destructor detaches the wiring while the window's widgets still
// exist: declare it after the window, so it goes first.
class WindowAttachment {
public:
    WindowAttachment(ReceiverWiring& wiring, TForm1& window);
    ~WindowAttachment();
    WindowAttachment(const WindowAttachment&) = delete;
    WindowAttachment& operator=(const WindowAttachment&) = delete;

private:
    ReceiverWiring& m_wiring;
};

class ProgramParts {
public:
    // programDir: the folder of the stbmate.ini the window reads. The window is built and has
    // read its settings when this returns; window().created() says whether it may be shown.
    ProgramParts(QtDialogs& dialogs, SessionLog& log, const QString& programDir);
    ProgramParts(const ProgramParts&) = delete;
    ProgramParts& operator=(const ProgramParts&) = delete;

    TForm1& window() { return m_window; }
    ReceiverWiring& wiring() { return m_wiring; }

private:
    DetachedProcessStarter m_starter;
    // The active language's texts: the window fills them, the jobs and the format dialog read
    // them when they show a box.
    LanguageTexts m_language;
    TForm2 m_form2;
    TForm4 m_form4;
    const std::unique_ptr<usbstick::FormatLibrary> m_formatLibrary;
    const std::unique_ptr<usbstick::DriveLister> m_driveLister;
    usbstick::TForm3 m_form3;
    TSerialPortList m_portList;
    // The port, the network parts and the jobs; the window's handlers call into it.
    ReceiverWiring m_wiring;
    TForm1 m_window;
    // The wiring's parts joined to the window before it reads its settings; detached again
    // before the window goes.
    const WindowAttachment m_attached;
};
