#pragma once
// Loading the emergency image: prepare the USB stick (format it, copy *.img files into its
// kathrein/ufs910), pick our own address on the receiver's subnet and the file emergency.ub,
// check that file as a boot image, serve it by TFTP, catch the receiver's boot loader on the serial
// console (prompt "STB7100-REF>") and make it fetch the image into memory at a4000000.
//
// loadEmergencyImage() returns once the fetch command is sent; every line it types into the
// loader has its answer read first (the addresses are read back with printenv), and a failure
// line from the loader (loaderFailure) stops the job at once. The end comes later through the
// console watcher: FinishImageTransfer (server stopped, "bootm a4000000" sent) or
// AbortImageTransfer ("bad checksum"; server stopped), a failure line, or silence for
// silenceLimit after the last packet (or after the command, when none came). After bootm the
// job watches the loader verify and start the image (BootWatch) for bootLimit; nothing more is
// typed into the loader. endTransfer() ends it from outside (the port was lost, the program
// closes).
//
// The job holds the job gate from its first step to that end: the Hold its caller passes is
// taken over when the transfer opens and released once the job has ended. The TFTP server runs
// only between its start and the end of the transfer, and is stopped on every way out before
// the job's last box shows.
//
// Everything runs on the UI thread. The object lives as long as the wiring that owns it; the
// seams it refers to must outlive it. The destructor takes its hooks out of the watcher.
#include "core/copy_progress.h"
#include "core/dialogs.h"
#include "core/file_server_link.h"
#include "core/job_gate.h"
#include "core/main_view.h"
#include "core/message_catalogue.h"
#include "core/receiver_channel.h"
#include "log/session_log.h"
#include "procedures/emergency_image_check.h"
#include "procedures/image_server.h"
#include "procedures/job_steps.h"
#include "procedures/loader_answers.h"
#include "usbstick/stick_folder.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>

// The folder removable media are mounted under for this user (/media/$USER or
// /run/media/$USER, whichever exists), else /media.
QString removableMediaFolder();

class EmergencyImageProcedure {
public:
    struct Seams {
        Dialogs& dialogs;
        MainView& view;
        const MessageCatalogue& messages;
        // The serial console, where the loader is reached, and its watcher's report of the
        // fetch's end.
        ReceiverChannel& console;
        ImageFetchWatch& fetchWatch;
        CopyProgress& copyProgress;
        ImageServer& server;
        // The FTP job's HTTP server: its earlier choice of file is withdrawn.
        FileServerLink& httpServer;
        SessionLog& log;
        // Shows the format dialog modally (texts Msg17, Msg18, L9).
        std::function<void()> showUsbFormatDialog;
        // The stick chosen in the format dialog; nullopt while it shows "select drive".
        std::function<std::optional<usbstick::StickFolder>()> chosenStick;
        std::function<QStringList()> listAddresses;
        std::function<void(bool busy)> setBusyCursor;
        // One line for the status bar: the transfer's progress and end.
        std::function<void(const QString&)> showStatus;
        QString removableMediaFolder;
        std::chrono::milliseconds silenceLimit{std::chrono::seconds(60)};
        // From bootm to the loader's hand-over to the image.
        std::chrono::milliseconds bootLimit{std::chrono::seconds(30)};
    };

    explicit EmergencyImageProcedure(Seams seams);
    ~EmergencyImageProcedure();
    EmergencyImageProcedure(const EmergencyImageProcedure&) = delete;
    EmergencyImageProcedure& operator=(const EmergencyImageProcedure&) = delete;

    // The menu command "Notfall-Image aufspielen". Ends at one of its stops (log entry and,
    // for most, a box) or after the fetch command. A port failure propagates.
    // hold: the gate's Hold for this job; taken over when the transfer opens.
    void loadEmergencyImage(JobGate::Hold& hold);

    // The receiver reported the image's byte count: stop the server, boot the image.
    void FinishImageTransfer();
    // The receiver reported "bad checksum": stop the server, tell the user.
    void AbortImageTransfer();

    // Ends an open job from outside (log entry with why, server stopped, gate opened);
    // nothing when none is open.
    void endTransfer(const QString& why);

    // The job goes on after its menu command: the transfer or the boot is being watched.
    bool transferOpen() const { return m_phase != Phase::Idle; }
    // The job is open and the menu command has returned: only the loader's answers, the
    // silence or endTransfer() can end the job now.
    bool waitingForReceiver() const { return transferOpen() && !m_inCommand; }

private:
    struct ChosenImage {
        QString path;
        CheckedEmergencyImage checked;
    };
    // false = the procedure must stop (the failure was logged and shown), here and below.
    bool prepareStick();
    bool copyImages();
    bool chooseOwnAddress();
    // emergency.ub chosen and checked as a boot image; nullopt after the stop.
    std::optional<ChosenImage> chooseImage();
    // The user's three go-aheads before the receiver is touched.
    bool confirmTransfer(const QString& imageSummary);
    bool startServer(const ChosenImage& image);
    // true when the prompt came within the 51 tries.
    bool huntPrompt();
    void huntAndFetch(JobGate::Hold& hold);
    // The addresses typed and read back; false after the stop.
    bool giveAddresses();
    bool readBack(const QString& name, const QString& value);
    // false after the stop when a line the loader printed since the last look is a failure.
    bool loaderAnswersWell();
    bool stopOnLoader(const QString& failure);
    void openTransfer(JobGate::Hold& hold);
    void onLoaderLine(const QString& line);
    void bootImage();
    void onBootDecided();
    // The end of an open job: hooks out, timer stopped, server stopped, gate opened.
    void closeJob();
    void onNews(const ImageServer::News& news);
    void onSilence();
    void later(std::function<void()> action);

    enum class Phase { Idle, Transfer, Booting };

    Seams m_s;
    JobSteps m_steps;
    Phase m_phase = Phase::Idle;
    JobGate::Hold m_hold;
    QString m_receiver; // checked addresses of this run, as typed into the loader
    QString m_own;
    bool m_inCommand = false; // inside loadEmergencyImage()
    QString m_imageSize;      // the chosen image's byte count, as the loader reports it
    // The loader's lines from the prompt on, while the job talks to it.
    std::optional<LineTap> m_loaderLines;
    qsizetype m_linesChecked = 0;
    BootWatch m_boot;
    QObject m_context; // posted boxes die with the object
    QTimer m_silence;  // the transfer's silence, then the wait for the image's start
};
