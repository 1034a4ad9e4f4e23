#pragma once
// What the main window asks of the parts behind it: the receiver jobs, the port, the settle
// delay, the network, whether a job runs, and the list of the PC's serial ports. The window
// knows only this interface; ReceiverWiring implements it and the program entry joins the two.
// UI thread only.
#include "core/job_gate.h"

#include <QString>

class SessionLog;
class TSerialPortList;

class WindowCommands {
public:
    virtual ~WindowCommands() = default;

    // The receiver job of that kind (app/receiver_jobs.h); refused with the "please wait" box
    // while another runs.
    virtual void runJob(JobKind kind) = 0;

    // The port box's setting: portNumber 1..4 for an entry, else text as typed. Typing moves
    // an open port only to an entry; Chosen (an entry picked, editing ended) takes a typed
    // device path too and opens the port.
    enum class PortChoice { Typing, Chosen };
    virtual void applyPort(const QString& text, int portNumber,
                           PortChoice choice = PortChoice::Typing) = 0;
    virtual void setSettleDelay(int delay) = 0;
    // The hidden "Ende" button: telnet closed, HTTP server stopped.
    virtual void releaseNetwork() = 0;

    // For the window's own changes that would disturb a job (port, language): true and the
    // "please wait" box while a job runs, else false.
    virtual bool refuseWhileJobRuns() = 0;
    virtual bool jobRunning() const = 0;
    // For a close or quit: ends a job that only waits for the receiver's report. True when no
    // job runs afterwards.
    virtual bool endWaitingJob() = 0;

    virtual TSerialPortList& portList() = 0;
    // The session log the window writes its own entries to.
    virtual SessionLog& log() = 0;
};
