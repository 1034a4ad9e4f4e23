#include "procedures/emergency_image_procedure.h"

#include "log/session_log.h"
#include "net/network_check.h"

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

qint64 FileSizeOf(const QString& path) {
    const QFileInfo info(path);
    return info.exists() ? info.size() : -1;
}

QString RemovableMediaFolder() {
    const QString user = qEnvironmentVariable("USER");
    if (!user.isEmpty()) {
        for (const QString& base : {QStringLiteral("/media/"), QStringLiteral("/run/media/")})
            if (QFileInfo(base + user).isDir())
                return base + user;
    }
    return QStringLiteral("/media");
}

EmergencyImageProcedure::EmergencyImageProcedure(Seams seams) : m_s(std::move(seams)) {
    m_silence.setSingleShot(true);
    QObject::connect(&m_silence, &QTimer::timeout, &m_context, [this] { onSilence(); });
    m_s.server.setNewsHandler([this](const ImageServer::News& news) { onNews(news); });
}

EmergencyImageProcedure::~EmergencyImageProcedure() {
    m_s.server.setNewsHandler({});
    if (m_transferOpen)
        closeTransfer();
}

void EmergencyImageProcedure::wait(int fixedTicks) {
    m_s.console.WaitTicks(SettleTicks(m_s.console.settleDelay(), fixedTicks));
}

void EmergencyImageProcedure::loadEmergencyImage() {
    Dialogs& dialogs = m_s.dialogs;
    MainView& view = m_s.view;
    view.showPage(0);

    if (dialogs.confirm(m_s.messages.text(MessageId::AskPrepareUsbStick)))
        m_s.showUsbFormatDialog();
    else
        m_s.log.WriteLogEntry(
            QStringLiteral("****** INFO: preparing usb stick was not selected ******"));
    if (dialogs.confirm(m_s.messages.text(MessageId::AskCopyImages))) {
        if (!copyImages())
            return;
    } else {
        m_s.log.WriteLogEntry(QStringLiteral(
            "****** INFO: copying *.img files to usb stick was not selected ******"));
    }

    if (!chooseOwnAddress())
        return;
    // The HTTP server of the FTP job must not hand out an earlier choice from now on.
    m_s.httpServer.setServeLocation(QString(), QString());
    if (!dialogs.confirm(m_s.messages.text(MessageId::ConfirmBootImageChoice))) {
        m_s.log.WriteLogError(kUserCanceled);
        return;
    }

    m_s.log.WriteLogEntry(QStringLiteral("****** COMMAND: select file emergency.ub ******"));
    const QStringList chosen = dialogs.openFiles(kBootImageFilter, false);
    if (chosen.isEmpty() || chosen.first().isEmpty())
        return;
    const QFileInfo image(chosen.first());
    if (image.fileName() != kImageName) {
        m_s.log.WriteLogError(
            QStringLiteral("emergency.ub was not selected on openfile dialog ! --> EXIT"));
        dialogs.showMessage(m_s.messages.text(MessageId::WrongFileChosen));
        return;
    }
    m_s.log.WriteLogEntry(QStringLiteral("****** RESULT: emergency.ub was selected ******"));
    m_s.console.watcher().ImageSizeText = QString::number(FileSizeOf(image.absoluteFilePath()));

    for (MessageId id : {MessageId::ConfirmFirstImageStep, MessageId::ConfirmSecondImageStep,
                         MessageId::ConfirmStartTftpServer}) {
        if (!dialogs.confirm(m_s.messages.text(id))) {
            m_s.log.WriteLogError(kUserCanceled);
            return;
        }
    }

    m_s.log.WriteLogEntry(QStringLiteral("****** COMMAND :start TFTP server successful ******"));
    // Bound to our address on the receiver's subnet: that is the address the loader is given.
    const QString reason =
        m_s.server.start({image.absoluteFilePath(), -1, view.receiverAddress(), view.ownAddress()});
    if (!reason.isEmpty()) {
        m_s.log.WriteLogError(QStringLiteral("could not start TFTP-Server !"));
        m_s.log.WriteLogError(QStringLiteral("TFTP-Server: ") + reason);
        dialogs.showMessage(QStringLiteral("could not start TFTP-Server !"));
        return;
    }
    m_s.log.WriteLogEntry(
        QStringLiteral("****** RESULT : TFTP server was successfully started ******"));

    m_s.log.WriteLogEntry(
        QStringLiteral("****** COMMAND :trying to find start point STB7100-REF> ******"));
    if (!huntPrompt()) {
        m_s.log.WriteLogError(QStringLiteral("start point STB7100-REF> not found ! --> EXIT"));
        dialogs.showMessage(QStringLiteral("Prompt nicht erkannt !"));
        return;
    }
    m_s.log.WriteLogEntry(QStringLiteral("****** RESULT :found start point STB7100-REF> ******"));

    ConsoleDialogue& console = m_s.console;
    wait(20);
    console.SendConsole(QStringLiteral("set ipaddr %1\r").arg(view.receiverAddress()).toLatin1());
    wait(20);
    console.SendConsole(QStringLiteral("set serverip %1\r").arg(view.ownAddress()).toLatin1());
    wait(10);
    m_s.log.WriteLogEntry(QStringLiteral("****** COMMAND: start file transfer ******"));
    // Open before sending: a fast loader may report before the send's own wait is over.
    openTransfer();
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
    m_s.log.WriteLogEntry(QStringLiteral("****** drive ") + stick->rootText() +
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
    m_s.log.WriteLogEntry(QStringLiteral("****** COMMAND: get ip  ******"));
    const QString receiverNet = SubnetPrefix(view.receiverAddress());
    // No early exit and no reset: the last match wins, and without one Edit2 keeps its text.
    for (const QString& line : m_s.listAddresses()) {
        m_s.log.WriteLogEntry(QStringLiteral("****** RESULT: found ") + line +
                              QStringLiteral(" ******"));
        if (SubnetPrefix(line) == receiverNet)
            view.setOwnAddress(line);
    }
    const QString own = view.ownAddress();
    const QString receiver = view.receiverAddress();
    if (own.isEmpty()) {
        m_s.log.WriteLogError(QStringLiteral("ip-address could not be detected ! --> EXIT"));
        m_s.dialogs.showMessage(QStringLiteral("keine eigene IP-Adresse gefunden !"));
        return false;
    }
    if (SubnetPrefix(own) != receiverNet) {
        m_s.log.WriteLogError(QStringLiteral("ip-address ") + receiver + QStringLiteral(" and ") +
                              own + QStringLiteral(", network connection not possible ! --> EXIT"));
        m_s.dialogs.showMessage(QStringLiteral("keine Netzwerkverbindung möglich zwischen ") + own +
                                QStringLiteral(" und ") + receiver + QStringLiteral(" !"));
        return false;
    }
    m_s.log.WriteLogEntry(QStringLiteral("****** ") + own +
                          QStringLiteral(" set for server-ip ******"));
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

void EmergencyImageProcedure::openTransfer() {
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
    m_s.showStatus(QStringLiteral("emergency.ub: Übertragung fehlgeschlagen"));
    later([this] {
        m_s.dialogs.showError(QStringLiteral(
            "Die Übertragung des Notfall-Images ist fehlgeschlagen (bad checksum)."));
    });
}

void EmergencyImageProcedure::onNews(const ImageServer::News& news) {
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
    m_s.log.WriteLogError(
        QStringLiteral("no end of the file transfer reported by the receiver within "
                       "%1 s ! (TFTP-Server keeps running)")
            .arg(seconds));
    m_s.showStatus(QStringLiteral("emergency.ub: keine Rückmeldung vom Receiver"));
    m_s.dialogs.showError(
        QStringLiteral("Der Receiver hat das Ende der Übertragung nicht gemeldet: seit %1 s "
                       "keine Daten. Der TFTP-Server läuft weiter.")
            .arg(seconds));
}

void EmergencyImageProcedure::later(std::function<void()> action) {
    // Boxes go after the watcher call that decided them has returned: a modal box inside it
    // would hold up the port's delivery.
    QMetaObject::invokeMethod(&m_context, std::move(action), Qt::QueuedConnection);
}
