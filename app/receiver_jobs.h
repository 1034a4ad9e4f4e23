#pragma once
// The receiver jobs, one entry each: its kind for the job gate, the menu item that starts it
// (object name, caption key, text before a language is applied; none for the jobs started
// elsewhere), and its entry point on the parts behind the window. The window builds the
// Funktionen menu, applies the captions and locks the items while a job runs from this table;
// the wiring runs an entry through the gate. A new job is its own procedures/ files, one entry
// here (app/receiver_jobs.cpp), its kind and its texts in the settings file.
#include "app/language.h"
#include "core/job_gate.h"

#include <QString>

#include <memory>
#include <optional>
#include <span>

class ReceiverWindow;
class ReceiverWiring;

struct ReceiverJob {
    struct MenuItem {
        const char* actionName; // the QAction's object name
        CaptionKey caption;
        const char* defaultText;
    };
    JobKind kind;
    std::optional<MenuItem> menu;
    // Runs the job inside the gate's hold; a job that moves the hold keeps the gate past its
    // return.
    void (*run)(ReceiverWiring& wiring, ReceiverWindow& window, JobGate::Hold& hold);
};

// Every job, menu items in menu order.
std::span<const ReceiverJob> receiverJobs();
// The entry of kind; nullptr for none.
const ReceiverJob* receiverJob(JobKind kind);

// A job that goes on after its command returned (it waits for the receiver's report): made
// once when the wiring attaches, destroyed before the console link.
class LingeringJob {
public:
    virtual ~LingeringJob() = default;
    // Only the receiver's report can end it now.
    virtual bool waitingForReceiver() const = 0;
    // Ends it from outside (the port was lost, the program closes); nothing when none runs.
    virtual void endFromOutside(const QString& why) = 0;
};
std::unique_ptr<LingeringJob> makeLingeringJob(ReceiverWiring& wiring, ReceiverWindow& window);
