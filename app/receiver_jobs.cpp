#include "app/receiver_jobs.h"

#include "app/receiver_wiring.h"
#include "net/network_check.h"
#include "procedures/address_procedure.h"
#include "procedures/emergency_image_procedure.h"
#include "procedures/ftp_install_procedure.h"
#include "procedures/image_server.h"
#include "usbstick/format_dialog.h"

#include <array>

namespace {

// The format dialog shown modally with the active language's Msg17, Msg18 and L9.
void showUsbFormatDialog(ReceiverWiring& wiring) {
    wiring.formatDialog().ShowUsbFormatDialog(wiring.messages().text(MessageId::FormatDialogText),
                                              wiring.messages().text(MessageId::FormatDialogHint),
                                              wiring.language().formatButton);
}

// The stick the image goes to: the one formatted and confirmed just now, else a FAT stick the
// user picks that the drive list would offer; a refused one fails every copy.
std::optional<usbstick::StickFolder> chooseStick(ReceiverWiring& wiring) {
    usbstick::TForm3& form = wiring.formatDialog();
    if (const auto formatted = form.takeFormattedStick())
        return usbstick::stickForFormatted(*formatted, wiring.formatLibrary());
    const std::optional<QString> folder =
        wiring.dialogs().chooseFolder(QStringLiteral("USB Stick"), removableMediaFolder());
    return usbstick::stickAtFolder(folder.value_or(QString()), form.driveLister());
}

// The emergency image job on the TFTP server the wiring was handed. The job outlives its menu
// click: the transfer ends later, through the console watcher; the progress goes to the
// status bar. Destroyed before the console link and the server: the server stops, then the
// job takes its hooks out of the watcher and the server.
class EmergencyImageJob : public LingeringJob {
public:
    EmergencyImageJob(ReceiverWiring& wiring, ReceiverWindow& window)
        : m_procedure({wiring.dialogs(), window, wiring.messages(), wiring.consoleDialogue(),
                       wiring.consoleDialogue(), wiring.copyProgress(), wiring.imageServer(),
                       wiring.httpServer(), wiring.log(),
                       [&wiring] { showUsbFormatDialog(wiring); },
                       [&wiring] { return chooseStick(wiring); }, ListLocalAddresses,
                       [&window](bool busy) { window.showWaitCursor(busy); },
                       [&window](const QString& text) { window.showTransferStatus(text); },
                       removableMediaFolder()}),
          m_server(wiring.imageServer()) {}
    ~EmergencyImageJob() override { m_server.stop(); }

    bool waitingForReceiver() const override { return m_procedure.waitingForReceiver(); }
    void endFromOutside(const QString& why) override { m_procedure.endTransfer(why); }
    void load(JobGate::Hold& hold) { m_procedure.loadEmergencyImage(hold); }

private:
    EmergencyImageProcedure m_procedure;
    ImageServer& m_server;
};

AddressProcedure addressJob(ReceiverWiring& wiring, ReceiverWindow& window) {
    return AddressProcedure({wiring.dialogs(), window, wiring.messages(), wiring.consoleDialogue(),
                             wiring.busy(), wiring.log()});
}

NetworkLinkParts networkCheck(ReceiverWiring& wiring, ReceiverWindow& window) {
    NetworkLinkParts parts(window, wiring.busy(), wiring.dialogs(), wiring.telnet());
    parts.log = &wiring.log();
    return parts;
}

void setAddress(ReceiverWiring& wiring, ReceiverWindow& window, JobGate::Hold&) {
    addressJob(wiring, window).setAddress();
}

void deleteStartScript(ReceiverWiring& wiring, ReceiverWindow& window, JobGate::Hold&) {
    addressJob(wiring, window).deleteStartScript();
}

void installFtpServer(ReceiverWiring& wiring, ReceiverWindow& window, JobGate::Hold&) {
    NetworkLinkParts network = networkCheck(wiring, window);
    FtpInstallProcedure({wiring.dialogs(), window, wiring.messages(),
                         [&network] { return CheckNetworkLink(network); }, wiring.telnet(),
                         wiring.telnetChannel(), wiring.httpServer(), wiring.log()})
        .installFtpServer();
}

void loadEmergencyImage(ReceiverWiring& wiring, ReceiverWindow&, JobGate::Hold& hold) {
    static_cast<EmergencyImageJob&>(wiring.lingeringJob()).load(hold);
}

void checkConnections(ReceiverWiring& wiring, ReceiverWindow& window, JobGate::Hold&) {
    window.setSerialLight(CheckSerialLink(wiring.consoleDialogue(), wiring.busy()));
    NetworkLinkParts parts = networkCheck(wiring, window);
    window.setNetworkLight(CheckNetworkLink(parts));
}

using Menu = ReceiverJob::MenuItem;
const std::array kJobs{
    ReceiverJob{JobKind::SetAddress,
                Menu{"IPAdressesetzenndern1", CaptionKey::M2_2, "IP-Adresse setzen/ändern"},
                setAddress},
    ReceiverJob{JobKind::InstallFtpServer,
                Menu{"FTPServerinstallieren1", CaptionKey::M2_3, "FTP-Server installieren"},
                installFtpServer},
    ReceiverJob{JobKind::LoadEmergencyImage,
                Menu{"NotfallImageaufspielen1", CaptionKey::M2_4, "Notfall-Image aufspielen"},
                loadEmergencyImage},
    // The port label's hidden context command and the check button.
    ReceiverJob{JobKind::DeleteStartScript, std::nullopt, deleteStartScript},
    ReceiverJob{JobKind::CheckConnections, std::nullopt, checkConnections},
};

} // namespace

std::span<const ReceiverJob> receiverJobs() {
    return kJobs;
}

const ReceiverJob* receiverJob(JobKind kind) {
    for (const ReceiverJob& job : kJobs)
        if (job.kind == kind)
            return &job;
    return nullptr;
}

std::unique_ptr<LingeringJob> makeLingeringJob(ReceiverWiring& wiring, ReceiverWindow& window) {
    return std::make_unique<EmergencyImageJob>(wiring, window);
}
