#pragma once
// Installing the FTP server on the receiver over the network: the user picks the archive
// proftpd.tar.bz2, our HTTP server hands it out, the receiver is logged in to by telnet and
// fetches it with wget into /data, and its vi is driven to add three lines to
// /config/start.sh that unpack the archive into /ramdisk and start the daemon at every boot.
//
// Every line goes over the telnet channel, which waits a fixed number of ticks while events
// keep being handled (that is when telnet output arrives: the answers the job reads come
// through its tap on the channel's lines, and the download bar through the channel's watch). Both
// addresses are checked before the receiver is touched; before the download the receiver is
// asked whether start.sh holds an ifconfig line, and after vi the script is read back:
// success is reported only when the three lines stand right below that line. Everything
// runs on the UI thread, nested inside the menu handler.
//
// No thread of its own; holds references only. Every referenced object must outlive it.
#include "core/dialogs.h"
#include "core/file_server_link.h"
#include "core/main_view.h"
#include "core/message_catalogue.h"
#include "core/receiver_channel.h"
#include "core/telnet_link.h"
#include "log/session_log.h"
#include "procedures/job_steps.h"
#include "procedures/receiver_answers.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

// The file dialog's filter: the archives first, then every file.
extern const QString kArchiveFilter;

// path with every byte outside the URL's unreserved set and "/" written as %XX (UTF-8), so a
// folder holding blanks, quotes or shell characters reaches the receiver's wget as one safe
// word. The HTTP server hands out the chosen file whatever path is asked for, so the encoded
// path fetches the same file.
QString urlPathFor(const QString& path);

// The receiver's download command for the archive at servePath on ownAddress:port.
QString wgetCommandLine(const QString& ownAddress, std::uint16_t port, const QString& servePath);

class FtpInstallProcedure {
public:
    struct Seams {
        Dialogs& dialogs;
        MainView& view;
        const MessageCatalogue& messages;
        // The network check (echo + telnet probe); also fills the own address in the view.
        std::function<bool()> checkNetwork;
        // Opens and closes the session.
        TelnetLink& session;
        // The dialogue over that session.
        ReceiverChannel& telnet;
        FileServerLink& httpServer;
        SessionLog& log;
    };

    explicit FtpInstallProcedure(Seams seams)
        : m_s(std::move(seams)), m_steps(m_s.log, m_s.dialogs, m_s.messages) {}

    // The menu command "FTP-Server installieren". Ends at one of its stops (an error log entry
    // and, for most, a box; the steps below name them) or with the FtpServerInstalled
    // information box after the script was edited and read back. The HTTP server is stopped
    // and released on every way out once it was activated. Never throws: a failure of the
    // telnet dialogue is its own stop.
    void installFtpServer();

private:
    struct Addresses {
        QString receiver;
        QString own;
    };
    // Both addresses checked and the network check passed; nullopt after the stop (no or an
    // invalid receiver address, no network connection, no or an invalid own address).
    std::optional<Addresses> checkAddresses();
    // Activated on a free port of own, answering the receiver only; false after the stop.
    bool startHttpServer(const QString& receiver, const QString& own);
    // Steps from the telnet login to the end of the script edit, each with its own stop
    // (session not open, no start.sh with an ifconfig line, no download marker, the lines not
    // in the script afterwards), then the FtpServerInstalled box; telnet failures propagate
    // to the caller's guard. receiver and own: the checked addresses.
    void telnetDialogue(const QString& receiver, const QString& own, std::uint16_t port,
                        const QString& servePath);
    bool findAddressLine();
    bool fetchArchive(const QString& own, std::uint16_t port, const QString& servePath);
    bool addStartLines();
    // Sends a query closed by the end marker and reads the answer from the session's lines;
    // nullopt when the marker did not come within a few waits. Telnet failures propagate.
    std::optional<ScriptAnswer> ask(const QString& query);

    Seams m_s;
    JobSteps m_steps;
};
