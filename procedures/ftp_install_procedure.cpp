#include "procedures/ftp_install_procedure.h"

#include "core/download_watch.h"
#include "procedures/receiver_answers.h"

#include <QFileInfo>
#include <QUrl>

#include <algorithm>

namespace {

const QString kArchiveName = QStringLiteral("proftpd.tar.bz2");
constexpr int kDownloadWait = 150;
const QString kStartScript = QStringLiteral("/config/start.sh");

} // namespace

// The archives first, then every file (a name without a dot as well, so "*", not "*.*").
const QString kArchiveFilter = QStringLiteral("(*.bz2);;Alle Dateien (*)");

QString urlPathFor(const QString& path) {
    QString absolute = path;
    if (!absolute.startsWith(QLatin1Char('/')))
        absolute.prepend(QLatin1Char('/'));
    return QString::fromLatin1(QUrl::toPercentEncoding(absolute, QByteArrayLiteral("/")));
}

QString wgetCommandLine(const QString& ownAddress, std::uint16_t port, const QString& servePath) {
    return QStringLiteral("wget -P /data/ http://%1:%2").arg(ownAddress).arg(port) +
           urlPathFor(servePath);
}

void FtpInstallProcedure::installFtpServer() {
    const std::optional<Addresses> addresses = checkAddresses();
    if (!addresses)
        return;
    if (!m_s.dialogs.confirm(m_s.messages.text(MessageId::ConfirmArchiveChoice))) {
        m_steps.fail(QStringLiteral("user selected \"cancel\" ! --> EXIT"));
        return;
    }
    const std::optional<QFileInfo> file = m_steps.chooseFile(
        kArchiveName, kArchiveFilter,
        QStringLiteral("user selected \"cancel\" on openfile dialog ! --> EXIT"));
    if (!file || !startHttpServer(addresses->receiver, addresses->own))
        return;

    // Paths here have no drive part: the whole absolute path is served, and it is the URL's
    // path too (cutting two characters off as a drive would break both).
    const QString servePath = file->absoluteFilePath();
    m_s.httpServer.setServeLocation(QString(), servePath);

    m_steps.step(QStringLiteral("COMMAND: start telnet session"));
    try {
        telnetDialogue(addresses->receiver, addresses->own, m_s.httpServer.boundPort(), servePath);
    } catch (...) {
        // The session is left as the failure left it; the next run's reset closes it.
        m_steps.failWithMessage(QStringLiteral("telnet session could not be started ! --> EXIT"),
                                m_s.messages.text(MessageId::TelnetSessionFailed));
    }
    m_s.httpServer.StopAndRelease();
    for (const QString& peer : m_s.httpServer.takeRefusedPeers())
        m_s.log.WriteLogEntry(QStringLiteral("http-server refused connection from %1").arg(peer));
}

std::optional<FtpInstallProcedure::Addresses> FtpInstallProcedure::checkAddresses() {
    MainView& view = m_s.view;
    if (view.receiverAddress().isEmpty()) {
        m_steps.fail(QStringLiteral("no ip address for ufs910 was given ! --> EXIT"),
                     MessageId::NoReceiverAddress);
        return std::nullopt;
    }
    const std::optional<QString> receiver =
        m_steps.checkedAddress(view.receiverAddress(), QStringLiteral("ip address for ufs910"));
    if (!receiver)
        return std::nullopt;
    // Nothing of an earlier run may be served or taken for this run's download.
    m_s.httpServer.setServeLocation(QString(), QString());
    m_s.telnet.expect(DownloadWatch::kDoneMarker);
    view.showPage(1);

    m_steps.step(QStringLiteral("COMMAND: check network connection"));
    const bool linked = m_s.checkNetwork();
    view.setNetworkLight(linked);
    if (!linked) {
        m_steps.fail(QStringLiteral("no network connection ! --> EXIT"),
                     MessageId::NoNetworkConnection);
        return std::nullopt;
    }
    if (view.ownAddress().isEmpty()) {
        m_s.dialogs.showMessage(
            QStringLiteral("eigene IP-Adresse konnte nicht ermittelt werden !"));
        m_steps.fail(QStringLiteral("ip-address could not be detected ! --> EXIT"));
        return std::nullopt;
    }
    // The own address goes into the receiver's shell on the wget line.
    const std::optional<QString> own =
        m_steps.checkedAddress(view.ownAddress(), QStringLiteral("own ip address"));
    if (!own)
        return std::nullopt;
    m_steps.step(QStringLiteral("RESULT: network connection ok"));
    return Addresses{*receiver, *own};
}

bool FtpInstallProcedure::startHttpServer(const QString& receiver, const QString& own) {
    m_steps.step(QStringLiteral("COMMAND: start http-server"));
    try {
        m_s.httpServer.ResetToInitialSettings();
        // Nobody else on the network is handed the archive, nor can crowd the receiver out;
        // and only the interface on the receiver's network listens at all.
        m_s.httpServer.setReceiverAddress(receiver);
        m_s.httpServer.setBindAddress(own);
        m_s.httpServer.Activate();
    } catch (...) {
        return m_steps.failWithMessage(
            QStringLiteral("http-server could not be started ! --> EXIT"),
            QStringLiteral("Http-Server konnte nicht gestartet werden"));
    }
    m_steps.step(QStringLiteral("RESULT: http-server was started"));
    return true;
}

std::optional<ScriptAnswer> FtpInstallProcedure::ask(const QString& query) {
    LineTap tap(m_s.telnet);
    m_s.telnet.sendLine(query);
    return readBack(tap, m_s.telnet);
}

void FtpInstallProcedure::telnetDialogue(const QString& receiver, const QString& own,
                                         std::uint16_t port, const QString& servePath) {
    TelnetLink& session = m_s.session;
    ReceiverChannel& telnet = m_s.telnet;
    session.ResetTelnetClient();
    session.setHost(receiver);
    session.Connect();
    if (!session.Connected()) {
        m_s.dialogs.showError(m_s.messages.text(MessageId::TelnetSessionFailed));
        return;
    }
    m_steps.step(QStringLiteral("RESULT: telnet session started"));
    telnet.wait(telnet.answerTicks());
    if (findAddressLine() && fetchArchive(own, port, servePath) && addStartLines()) {
        // Lists the script into the network view and the log for the user to check; the
        // lone line end answers a pager prompt.
        telnet.sendLine(QStringLiteral("more start.sh"));
        telnet.sendKeys(QByteArrayLiteral("\r"));
        telnet.sendLine(QStringLiteral("exit"));
        telnet.wait(telnet.answerTicks());
        m_steps.step(QStringLiteral("RESULT: FTP-Server successfully installed"));
        m_s.dialogs.showInformation(m_s.messages.text(MessageId::FtpServerInstalled));
    }
    session.Disconnect();
}

bool FtpInstallProcedure::findAddressLine() {
    // The lines go in below the ifconfig line of the script the address job writes. Without
    // one, vi would make a start.sh of only these lines and the receiver would boot without
    // its network driver and its own start-up.
    const std::optional<ScriptAnswer> before = ask(ifconfigQuery(kStartScript));
    if (before &&
        std::any_of(before->lines.cbegin(), before->lines.cend(), [](const NumberedLine& line) {
            return line.text.contains(QLatin1String("ifconfig"));
        }))
        return true;
    return m_steps.fail(QStringLiteral("start.sh with an ifconfig line was not found ! --> EXIT"),
                        MessageId::SetAddressFirst);
}

bool FtpInstallProcedure::fetchArchive(const QString& own, std::uint16_t port,
                                       const QString& servePath) {
    ReceiverChannel& telnet = m_s.telnet;
    telnet.sendLine(QStringLiteral("cd /data"));
    m_steps.step(QStringLiteral("COMMAND: download proftpd.tar.bz2 by using wget"));
    telnet.sendLine(wgetCommandLine(own, port, servePath));
    // The marker is the download tool's last progress line; it can only be seen while
    // events are handled, that is during this wait.
    telnet.wait(kDownloadWait);
    if (!telnet.seen(DownloadWatch::kDoneMarker))
        return m_steps.fail(QStringLiteral("download was not successful ! --> EXIT"),
                            MessageId::DownloadFailed);
    m_steps.step(QStringLiteral("RESULT: download complete"));
    return true;
}

bool FtpInstallProcedure::addStartLines() {
    ReceiverChannel& telnet = m_s.telnet;
    // vi: find the ifconfig line, go one line down, insert the three lines above it.
    telnet.sendLine(QStringLiteral("cd /config"));
    telnet.sendLine(QStringLiteral("vi start.sh"));
    telnet.sendLine(QStringLiteral("/ifconfig"));
    telnet.type(QByteArrayLiteral("j"));
    telnet.type(QByteArrayLiteral("i"));
    for (const QString& line : ftpStartLines())
        telnet.sendLine(line);
    // vi tells the Escape key from the start of a cursor-key sequence only by the pause after
    // it: ":wq" arriving right behind it is swallowed as part of a sequence, vi stays in insert
    // mode and the lines are never written.
    telnet.type(QByteArrayLiteral("\x1B"));
    telnet.sendLine(QStringLiteral(":wq"));
    telnet.sendLine(QStringLiteral("chmod 777 /config/*"));
    const std::optional<ScriptAnswer> after = ask(ftpLinesQuery(kStartScript));
    if (after && ftpLinesFollowIfconfig(*after))
        return true;
    if (!after) {
        // No answer: vi may still be open (it could not write). Leave it unsaved.
        telnet.type(QByteArrayLiteral("\x1B"));
        telnet.sendLine(QStringLiteral(":q!"));
    }
    return m_steps.fail(QStringLiteral("start.sh does not hold the ftp server lines ! --> EXIT"),
                        MessageId::StartScriptNotChanged);
}
