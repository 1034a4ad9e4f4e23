#include "procedures/emergency_image_procedure.h"

#include "log/session_log.h"
#include "net/network_check.h"
#include "procedures/emergency_image_check.h"
#include "procedures/receiver_answers.h"

#include <QDir>
#include <QFileInfo>
#include <QMetaObject>

#include <exception>

namespace {

const QString kImageName = QStringLiteral("emergency.ub");
const QString kPrompt = QStringLiteral("STB7100-REF>");
const QString kSelectDrive = QStringLiteral("select drive");
// "*" is every file, whatever its name.
const QString kImageFilter = QStringLiteral("Imagedateien (*.img);;Alle Dateien (*)");
const QString kBootImageFilter = QStringLiteral("(*.ub);;Alle Dateien (*)");
constexpr int kHuntTries = 51;
constexpr int kHuntWait = 5;
const QString kUserCanceled = QStringLiteral("user canceled ! --> EXIT");

} // namespace

QString removableMediaFolder() {
    const QString user = qEnvironmentVariable("USER");
    if (!user.isEmpty()) {
        for (const QString& base : {QStringLiteral("/media/"), QStringLiteral("/run/media/")})
            if (QFileInfo(base + user).isDir())
                return base + user;
    }
    return QStringLiteral("/media");
}

EmergencyImageProcedure::EmergencyImageProcedure(Seams seams)
    : m_s(std::move(seams)), m_steps(m_s.log, m_s.dialogs, m_s.messages) {
    m_silence.setSingleShot(true);
    QObject::connect(&m_silence, &QTimer::timeout, &m_context, [this] { onSilence(); });
    m_s.server.setNewsHandler([this](const ImageServer::News& news) { onNews(news); });
}

EmergencyImageProcedure::~EmergencyImageProcedure() {
    m_s.server.setNewsHandler({});
    endTransfer(QStringLiteral("program closing"));
}

void EmergencyImageProcedure::wait(int fixedTicks) {
    m_s.console.WaitTicks(settleTicks(m_s.console.settleDelay(), fixedTicks));
}

void EmergencyImageProcedure::loadEmergencyImage(JobGate::Hold& hold) {
    // Every way out that does not leave the transfer open closes port 69 and ends the job; a
    // port failure's box comes from the caller, after this has run.
    struct CommandScope {
        EmergencyImageProcedure& job;
        const JobGate::Hold& callersHold; // still holds unless a transfer was opened
        ~CommandScope() {
            job.m_inCommand = false;
            if (job.m_transferOpen)
                return;
            // A transfer that ended during the command has stopped the server already.
            if (callersHold.holds())
                job.m_s.server.stop();
            job.m_hold.release();
        }
    } scope{*this, hold};
    m_inCommand = true;
    m_s.view.showPage(0);

    if (!prepareStick() || !chooseOwnAddress())
        return;
    // The HTTP server of the FTP job must not hand out an earlier choice from now on.
    m_s.httpServer.setServeLocation(QString(), QString());
    const std::optional<ChosenImage> image = chooseImage();
    if (!image || !confirmTransfer(image->checked.summary) || !startServer(*image))
        return;
    huntAndFetch(hold);
}

bool EmergencyImageProcedure::prepareStick() {
    if (m_s.dialogs.confirm(m_s.messages.text(MessageId::AskPrepareUsbStick)))
        m_s.showUsbFormatDialog();
    else
        m_steps.step(QStringLiteral("INFO: preparing usb stick was not selected"));
    if (m_s.dialogs.confirm(m_s.messages.text(MessageId::AskCopyImages)))
        return copyImages();
    m_steps.step(QStringLiteral("INFO: copying *.img files to usb stick was not selected"));
    return true;
}

std::optional<EmergencyImageProcedure::ChosenImage> EmergencyImageProcedure::chooseImage() {
    if (!m_s.dialogs.confirm(m_s.messages.text(MessageId::ConfirmBootImageChoice))) {
        m_steps.fail(kUserCanceled);
        return std::nullopt;
    }
    const std::optional<QFileInfo> file = m_steps.chooseFile(kImageName, kBootImageFilter, {});
    if (!file)
        return std::nullopt;
    const QString path = file->absoluteFilePath();
    std::optional<CheckedEmergencyImage> checked =
        checkEmergencyImage(path, m_s.dialogs, m_s.messages, m_s.log);
    if (!checked)
        return std::nullopt;
    // The size read is the one served and the one the loader must report: all three agree.
    m_s.console.watcher().ImageSizeText = QString::number(checked->servedSize);
    return ChosenImage{path, std::move(*checked)};
}

bool EmergencyImageProcedure::confirmTransfer(const QString& imageSummary) {
    for (MessageId id : {MessageId::ConfirmFirstImageStep, MessageId::ConfirmSecondImageStep,
                         MessageId::ConfirmStartTftpServer}) {
        const QString text = id == MessageId::ConfirmFirstImageStep
                                 ? imageSummary + QStringLiteral("\n\n") + m_s.messages.text(id)
                                 : m_s.messages.text(id);
        if (!m_s.dialogs.confirm(text))
            return m_steps.fail(kUserCanceled);
    }
    return true;
}

bool EmergencyImageProcedure::startServer(const ChosenImage& image) {
    m_steps.step(QStringLiteral("COMMAND :start TFTP server successful"));
    // Bound to our address on the receiver's subnet: that is the address the loader is given.
    const QString reason =
        m_s.server.start({image.path, image.checked.servedSize, m_receiver, m_own});
    if (!reason.isEmpty()) {
        m_steps.fail(QStringLiteral("could not start TFTP-Server !"));
        return m_steps.failWithMessage(QStringLiteral("TFTP-Server: ") + reason,
                                       QStringLiteral("could not start TFTP-Server !"));
    }
    m_steps.step(QStringLiteral("RESULT : TFTP server was successfully started"));
    return true;
}

void EmergencyImageProcedure::huntAndFetch(JobGate::Hold& hold) {
    m_steps.step(QStringLiteral("COMMAND :trying to find start point STB7100-REF>"));
    if (!huntPrompt()) {
        m_s.server.stop();
        m_steps.failWithMessage(QStringLiteral("start point STB7100-REF> not found ! --> EXIT"),
                                QStringLiteral("Prompt nicht erkannt !"));
        return;
    }
    m_steps.step(QStringLiteral("RESULT :found start point STB7100-REF>"));

    ConsoleDialogue& console = m_s.console;
    wait(20);
    console.SendConsole(QStringLiteral("set ipaddr %1\r").arg(m_receiver).toLatin1());
    wait(20);
    console.SendConsole(QStringLiteral("set serverip %1\r").arg(m_own).toLatin1());
    wait(10);
    m_steps.step(QStringLiteral("COMMAND: start file transfer"));
    // Open before sending: a fast loader may report before the send's own wait is over.
    openTransfer(hold);
    try {
        console.SendConsole(QByteArrayLiteral("tftp a4000000 emergency.ub\r"));
    } catch (...) {
        closeTransfer();
        throw;
    }
}

bool EmergencyImageProcedure::copyImages() {
    Dialogs& dialogs = m_s.dialogs;
    m_s.log.WriteLogEntry(QStringLiteral("****** copy *.img files to usb stick  ******"));
    std::optional<usbstick::StickFolder> stick = m_s.chosenStick();
    if (!stick) {
        const std::optional<QString> folder =
            dialogs.chooseFolder(QStringLiteral("USB Stick"), m_s.removableMediaFolder);
        stick = usbstick::StickFolder::mounted(folder.value_or(QString()));
    }
    m_s.log.WriteLogEntry(QStringLiteral("****** drive ") + stick->name() +
                          QStringLiteral(" for usb stick selected ******"));

    const QStringList files = dialogs.openFiles(kImageFilter, true);
    if (files.isEmpty())
        return true;
    m_s.copyProgress.startCopy(int(files.size()));
    for (int i = 0; i < files.size(); ++i) {
        const QString& path = files[i];
        QString why;
        if (!stick->copyNew(path, QFileInfo(path).fileName(), &why)) {
            m_s.copyProgress.finishCopy();
            m_s.log.WriteLogError(path + QStringLiteral(" could not be copied ! --> EXIT"));
            m_s.log.WriteLogError(QStringLiteral("copy: ") + why);
            dialogs.showMessage(path + QStringLiteral(" konnte nicht kopiert werden"));
            return false;
        }
        m_s.log.WriteLogEntry(QStringLiteral("****** ") + path + QStringLiteral(" copied to ") +
                              stick->folderText() + QStringLiteral("  ******"));
        m_s.view.appendNetworkLine(path);
        m_s.copyProgress.setCopied(i + 1);
    }
    m_s.console.WaitTicks(5);
    m_s.copyProgress.finishCopy();
    return true;
}

bool EmergencyImageProcedure::chooseOwnAddress() {
    MainView& view = m_s.view;
    // Both addresses are typed into the boot loader: nothing but four numbers may go there.
    const std::optional<QString> receiver = m_steps.checkedReceiverAddress(view.receiverAddress());
    if (!receiver)
        return false;
    m_steps.step(QStringLiteral("COMMAND: get ip "));
    const QStringList local = m_s.listAddresses();
    for (const QString& line : local)
        m_steps.step(QStringLiteral("RESULT: found ") + line);
    const QString receiverNet = ::chooseOwnAddress(view, *receiver, local);
    const QString own = view.ownAddress().trimmed();
    // A text left in Edit2 from before is no address of this PC now: the server could not
    // bind it and the loader would ask a host that is not us.
    if (own.isEmpty() || !local.contains(own))
        return m_steps.failWithMessage(
            QStringLiteral("ip-address could not be detected ! --> EXIT"),
            QStringLiteral("keine eigene IP-Adresse gefunden !"));
    if (SubnetPrefix(own) != receiverNet)
        return m_steps.failWithMessage(
            QStringLiteral("ip-address ") + *receiver + QStringLiteral(" and ") + own +
                QStringLiteral(", network connection not possible ! --> EXIT"),
            QStringLiteral("keine Netzwerkverbindung möglich zwischen ") + own +
                QStringLiteral(" und ") + *receiver + QStringLiteral(" !"));
    const std::optional<QString> checkedOwn =
        m_steps.checkedAddress(own, QStringLiteral("own ip address"));
    if (!checkedOwn)
        return false;
    m_receiver = *receiver;
    m_own = *checkedOwn;
    m_steps.step(m_own + QStringLiteral(" set for server-ip"));
    return true;
}

bool EmergencyImageProcedure::huntPrompt() {
    struct Cursor {
        const std::function<void(bool)>& set;
        explicit Cursor(const std::function<void(bool)>& s) : set(s) {
            if (set)
                set(true);
        }
        ~Cursor() {
            if (set)
                set(false);
        }
    } cursor(m_s.setBusyCursor);
    ResponseWatcher& watcher = m_s.console.watcher();
    for (int attempt = 0; attempt < kHuntTries; ++attempt) {
        watcher.RxLine.clear();
        // Straight to the port: a settle wait per try would stretch the hunt for nothing.
        m_s.console.port().WriteText(QByteArrayLiteral("\r"));
        m_s.console.WaitTicks(kHuntWait);
        if (watcher.RxLine.contains(kPrompt))
            return true;
    }
    return false;
}

void EmergencyImageProcedure::openTransfer(JobGate::Hold& hold) {
    // The job goes on after its menu command has returned: it keeps the gate until the
    // receiver has booted the image or the transfer has ended some other way.
    m_hold = std::move(hold);
    m_transferOpen = true;
    ResponseWatcher& watcher = m_s.console.watcher();
    watcher.setFinishImageTransfer([this] { FinishImageTransfer(); });
    watcher.setAbortImageTransfer([this] { AbortImageTransfer(); });
    m_silence.start(m_s.silenceLimit);
    m_s.showStatus(QStringLiteral("emergency.ub: warte auf den Receiver"));
}

void EmergencyImageProcedure::closeTransfer() {
    m_transferOpen = false;
    m_silence.stop();
    ResponseWatcher& watcher = m_s.console.watcher();
    watcher.setFinishImageTransfer({});
    watcher.setAbortImageTransfer({});
}

void EmergencyImageProcedure::FinishImageTransfer() {
    // The hook runs inside the watcher, which keeps reading while this waits: only the first
    // report of a transfer may boot it.
    if (!m_transferOpen)
        return;
    closeTransfer();
    m_s.log.WriteLogEntry(
        QStringLiteral("****** RESULT : file transfer complete, stop TFTP server ******"));
    m_s.server.stop();
    // Nothing else may reach the loader between the transfer's end and bootm.
    JobGate::Hold hold = std::move(m_hold);
    try {
        wait(20);
        m_s.console.SendConsole(QByteArrayLiteral("bootm a4000000\r"));
    } catch (const std::exception& e) {
        const QString why = QString::fromUtf8(e.what());
        m_s.log.WriteLogError(QStringLiteral("bootm a4000000 could not be sent: ") + why);
        later([this, why] { m_s.dialogs.showError(why); });
        return;
    }
    m_s.log.WriteLogEntry(
        QStringLiteral("****** RESULT : emergency image loaded, bootm a4000000 sent ******"));
    m_s.showStatus(QStringLiteral("emergency.ub übertragen, Receiver startet"));
    later([this] {
        m_s.dialogs.showInformation(
            QStringLiteral("Das Notfall-Image wurde übertragen und mit bootm a4000000 gestartet."));
    });
}

void EmergencyImageProcedure::AbortImageTransfer() {
    if (!m_transferOpen)
        return;
    closeTransfer();
    m_s.log.WriteLogError(QStringLiteral("filetransfer failed ! --> EXIT"));
    m_s.server.stop();
    m_hold.release();
    m_s.showStatus(QStringLiteral("emergency.ub: Übertragung fehlgeschlagen"));
    later([this] {
        m_s.dialogs.showError(QStringLiteral(
            "Die Übertragung des Notfall-Images ist fehlgeschlagen (bad checksum)."));
    });
}

void EmergencyImageProcedure::endTransfer(const QString& why) {
    if (!m_transferOpen)
        return;
    closeTransfer();
    m_s.server.stop();
    // Inside the menu command the gate opens when the command returns, not under its feet.
    if (!m_inCommand)
        m_hold.release();
    m_s.log.WriteLogError(QStringLiteral("file transfer ended, TFTP-Server stopped: ") + why);
    m_s.showStatus(QStringLiteral("emergency.ub: Übertragung beendet"));
}

void EmergencyImageProcedure::onNews(const ImageServer::News& news) {
    // The server reports each refused host once per start; another host asking for our image
    // is worth knowing about even before the loader asks.
    if (news.refused) {
        m_s.log.WriteLogError(QStringLiteral("TFTP-Server: request from %1 refused: %2")
                                  .arg(news.client, news.reason));
        return;
    }
    if (!m_transferOpen)
        return;
    m_silence.start(m_s.silenceLimit);
    m_s.showStatus(QStringLiteral("%1: %2 von %3 Bytes an %4")
                       .arg(news.fileName)
                       .arg(news.bytesSent)
                       .arg(news.fileSize)
                       .arg(news.client));
    if (!news.finished)
        return;
    if (news.success)
        m_s.log.WriteLogEntry(QStringLiteral("****** RESULT : %1 sent to %2, %3 bytes ******")
                                  .arg(news.fileName, news.client)
                                  .arg(news.bytesSent));
    else
        m_s.log.WriteLogError(QStringLiteral("tftp transfer of %1 to %2 failed: %3")
                                  .arg(news.fileName, news.client, news.reason));
}

void EmergencyImageProcedure::onSilence() {
    const qint64 seconds =
        std::chrono::duration_cast<std::chrono::seconds>(m_s.silenceLimit).count();
    // A loader that went quiet this long has given up or hangs; serving on would leave port
    // 69 open to the network with nobody watching.
    closeTransfer();
    m_s.server.stop();
    m_hold.release();
    m_s.log.WriteLogError(
        QStringLiteral("no end of the file transfer reported by the receiver within "
                       "%1 s ! (TFTP-Server stopped) --> EXIT")
            .arg(seconds));
    m_s.showStatus(QStringLiteral("emergency.ub: keine Rückmeldung vom Receiver"));
    m_s.dialogs.showError(
        QStringLiteral("Der Receiver hat das Ende der Übertragung nicht gemeldet: seit %1 s "
                       "keine Daten. Der TFTP-Server wurde beendet.")
            .arg(seconds));
}

void EmergencyImageProcedure::later(std::function<void()> action) {
    // Boxes go after the watcher call that decided them has returned: a modal box inside it
    // would hold up the port's delivery.
    QMetaObject::invokeMethod(&m_context, std::move(action), Qt::QueuedConnection);
}
