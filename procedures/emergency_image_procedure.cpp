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
const QString kSelectDrive = QStringLiteral("select drive");
// "*" is every file, whatever its name.
const QString kImageFilter = QStringLiteral("Imagedateien (*.img);;Alle Dateien (*)");
const QString kBootImageFilter = QStringLiteral("(*.ub);;Alle Dateien (*)");
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
    m_loaderLines.reset();
}

void EmergencyImageProcedure::loadEmergencyImage(JobGate::Hold& hold) {
    // Every way out that does not leave the transfer open closes port 69 and ends the job; a
    // port failure's box comes from the caller, after this has run.
    struct CommandScope {
        EmergencyImageProcedure& job;
        ~CommandScope() {
            job.m_inCommand = false;
            if (job.transferOpen())
                return;
            // Stopping again is harmless; a port failure on the last send must not leave port
            // 69 open.
            job.m_s.server.stop();
            job.m_loaderLines.reset();
            job.m_hold.release();
        }
    } scope{*this};
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
    m_imageSize = QString::number(checked->servedSize);
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
        return m_steps.failWithMessage(
            QStringLiteral("TFTP-Server: ") + QString(reason).replace(QLatin1Char('\n'), u' '),
            QStringLiteral("could not start TFTP-Server !\n\n") + reason);
    }
    m_steps.step(QStringLiteral("RESULT : TFTP server was successfully started"));
    return true;
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
    m_s.console.waitTicks(5);
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

void EmergencyImageProcedure::onNews(const ImageServer::News& news) {
    // The server reports each refused host once per start; another host asking for our image
    // is worth knowing about even before the loader asks.
    if (news.refused) {
        m_s.log.WriteLogError(QStringLiteral("TFTP-Server: request from %1 refused: %2")
                                  .arg(news.client, news.reason));
        return;
    }
    if (m_phase != Phase::Transfer)
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

void EmergencyImageProcedure::later(std::function<void()> action) {
    // Boxes go after the watcher call that decided them has returned: a modal box inside it
    // would hold up the port's delivery.
    QMetaObject::invokeMethod(&m_context, std::move(action), Qt::QueuedConnection);
}
