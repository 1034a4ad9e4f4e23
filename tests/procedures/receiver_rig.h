#pragma once
// Everything an end-to-end run of the address procedure needs: the simulated receiver, the
// real serial port on its cable with the console link the main window uses (watcher fed by
// the data-available event, every line logged, the real tick wait with SettleDelay 0, so
// each send waits 8 ticks), scripted dialogs, a plain main-window state and the session log
// in a scratch folder.
//
// Destruction runs in reverse declaration order: the procedure and seams, then the console
// link, the port (closed, its threads joined), the log and last the simulator (shell
// killed, chroot removed).
#include "procedures/address_procedure.h"
#include "serial/com_port.h"
#include "serial/console_link.h"
#include "tests/procedures/session_log_capture.h"
#include "tests/sim/receiver_simulator.h"
#include "tests/support/fake_console.h"
#include "tests/support/fake_dialogs.h"
#include "tests/support/fake_main_view.h"

#include <QStringList>

class ReceiverRig {
public:
    ReceiverRig();

    // Starts the simulator and opens the port on its cable; false with *error set on failure.
    bool start(const stbsim::ReceiverSimulator::Options& options, QString* error);

    // /config/<name> split into lines ("\n"); the text after the last "\n" is the last
    // element, so a file ending in a newline ends in an empty element.
    QStringList configLines(const QString& name) const;

    stbsim::ReceiverSimulator sim;
    SessionLogCapture log;
    TComPort comPort;
    SerialConsoleLink link{comPort, log, 0};
    FakeBusyIndicator busy;
    FakeDialogs dialogs;
    FakeMainView view;
    MessageCatalogue messages;
    AddressProcedure procedure{{dialogs, view, messages, link.dialogue(), busy, log}};
};

// The procedure's step entries of a run that created the script, in order.
QStringList createRunSteps();
// Those of a run that edited an existing script.
QStringList editRunSteps();
