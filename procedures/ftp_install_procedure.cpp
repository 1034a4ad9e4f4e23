#include "procedures/ftp_install_procedure.h"

#include "procedures/receiver_answers.h"

#include <QFileInfo>
#include <QUrl>

#include <algorithm>

namespace {

const QString kArchiveName = QStringLiteral("proftpd.tar.bz2");
constexpr int kSendWait = 15;
constexpr int kDownloadWait = 150;
// Further waits granted to an answer that is late, before it counts as missing.
constexpr int kExtraWaits = 4;
const QString kStartScript = QStringLiteral("/config/start.sh");

} // namespace

// The archives first, then every file (a name without a dot as well, so "*", not "*.*").
const QString kArchiveFilter = QStringLiteral("(*.bz2);;Alle Dateien (*)");

QString UrlPathFor(const QString& path) {
    QString absolute = path;
    if (!absolute.startsWith(QLatin1Char('/')))
        absolute.prepend(QLatin1Char('/'));
    return QString::fromLatin1(QUrl::toPercentEncoding(absolute, QByteArrayLiteral("/")));
}

QString WgetCommandLine(const QString& ownAddress, std::uint16_t port, const QString& servePath) {
    return QStringLiteral("wget -P /data/ http://%1:%2").arg(ownAddress).arg(port) +
           UrlPathFor(servePath);
}

void FtpInstallProcedure::installFtpServer() {
    Dialogs& dialogs = m_s.dialogs;
    MainView& view = m_s.view;
    if (view.receiverAddress().isEmpty()) {
        m_s.log.WriteLogError(QStringLiteral("no ip address for ufs910 was given ! --> EXIT"));
        dialogs.showError(m_s.messages.text(MessageId::NoReceiverAddress));
        return;
    }
    const std::optional<QString> receiver =
        CheckedAddressOrReport(view.receiverAddress(), QStringLiteral("ip address for ufs910"),
                               m_s.log, dialogs, m_s.messages);
    if (!receiver)
        return;
    // Nothing of an earlier run may be served or taken for this run's download.
    m_s.httpServer.setServeLocation(QString(), QString());
    m_s.download.reset();
    view.showPage(1);

    m_s.log.WriteLogEntry(QStringLiteral("****** COMMAND: check network connection ******"));
    const bool linked = m_s.checkNetwork();
    view.setNetworkLight(linked);
    if (!linked) {
        m_s.log.WriteLogError(QStringLiteral("no network connection ! --> EXIT"));
        dialogs.showError(m_s.messages.text(MessageId::NoNetworkConnection));
        return;
    }
    if (view.ownAddress().isEmpty()) {
        dialogs.showMessage(QStringLiteral("eigene IP-Adresse konnte nicht ermittelt werden !"));
        m_s.log.WriteLogError(QStringLiteral("ip-address could not be detected ! --> EXIT"));
        return;
    }
    // The own address goes into the receiver's shell on the wget line.
    const std::optional<QString> own = CheckedAddressOrReport(
        view.ownAddress(), QStringLiteral("own ip address"), m_s.log, dialogs, m_s.messages);
    if (!own)
        return;
    m_s.log.WriteLogEntry(QStringLiteral("****** RESULT: network connection ok ******"));
    if (!dialogs.confirm(m_s.messages.text(MessageId::ConfirmArchiveChoice))) {
        m_s.log.WriteLogError(QStringLiteral("user selected \"cancel\" ! --> EXIT"));
        return;
    }

    m_s.log.WriteLogEntry(QStringLiteral("****** COMMAND: select file proftpd.tar.bz2 ******"));
    // A fresh dialog each time, so no earlier choice is offered as history.
    const QStringList chosen = dialogs.openFiles(kArchiveFilter, false);
    if (chosen.isEmpty() || chosen.first().isEmpty()) {
        m_s.log.WriteLogError(
            QStringLiteral("user selected \"cancel\" on openfile dialog ! --> EXIT"));
        return;
    }
    const QFileInfo file(chosen.first());
    if (file.fileName() != kArchiveName) {
        m_s.log.WriteLogError(
            QStringLiteral("proftpd.tar.bz2 was not selected on openfile dialog ! --> EXIT"));
        dialogs.showMessage(m_s.messages.text(MessageId::WrongFileChosen));
        return;
    }
    m_s.log.WriteLogEntry(QStringLiteral("****** RESULT: proftpd.tar.bz2 was selected ******"));

    m_s.log.WriteLogEntry(QStringLiteral("****** COMMAND: start http-server ******"));
    try {
        m_s.httpServer.ResetToInitialSettings();
        // Nobody else on the network is handed the archive, nor can crowd the receiver out;
        // and only the interface on the receiver's network listens at all.
        m_s.httpServer.setReceiverAddress(view.receiverAddress());
        m_s.httpServer.setBindAddress(*own);
        m_s.httpServer.Activate();
    } catch (...) {
        m_s.log.WriteLogError(QStringLiteral("http-server could not be started ! --> EXIT"));
        dialogs.showMessage(QStringLiteral("Http-Server konnte nicht gestartet werden"));
        return;
    }
    m_s.log.WriteLogEntry(QStringLiteral("****** RESULT: http-server was started ******"));

    // Paths here have no drive part: the whole absolute path is served, and it is the URL's
    // path too (cutting two characters off as a drive would break both).
    const QString servePath = file.absoluteFilePath();
    m_s.httpServer.setServeLocation(QString(), servePath);
    view.setEdit3(m_s.httpServer.serveDrive() + m_s.httpServer.servePath());

    m_s.log.WriteLogEntry(QStringLiteral("****** COMMAND: start telnet session ******"));
    try {
        telnetDialogue(*receiver, *own, m_s.httpServer.boundPort(), servePath);
    } catch (...) {
        // The session is left as the failure left it; the next run's reset closes it.
        m_s.log.WriteLogError(QStringLiteral("telnet session could not be started ! --> EXIT"));
        dialogs.showMessage(m_s.messages.text(MessageId::TelnetSessionFailed));
    }
    m_s.httpServer.StopAndRelease();
    for (const QString& peer : m_s.httpServer.takeRefusedPeers())
        m_s.log.WriteLogEntry(QStringLiteral("http-server refused connection from %1").arg(peer));
}

std::optional<ScriptAnswer> FtpInstallProcedure::ask(const QString& query) {
    // The echoed query lands on the line the prompt is on.
    const int first = std::max(0, m_s.view.networkLineCount() - 1);
    m_s.telnet.SendTelnet(query);
    for (int extra = 0;; ++extra) {
        const QStringList received =
            m_s.view.networkLines().mid(first).join(QLatin1Char('\n')).split(QLatin1Char('\n'));
        if (std::optional<ScriptAnswer> answer = ParseScriptAnswer(received))
            return answer;
        if (extra == kExtraWaits)
            return std::nullopt;
        wait(kSendWait);
    }
}

void FtpInstallProcedure::telnetDialogue(const QString& receiver, const QString& own,
                                         std::uint16_t port, const QString& servePath) {
    TelnetLink& telnet = m_s.telnet;
    telnet.ResetTelnetClient();
    telnet.setHost(receiver);
    telnet.Connect();
    if (!telnet.Connected()) {
        m_s.dialogs.showError(m_s.messages.text(MessageId::TelnetSessionFailed));
        return;
    }
    m_s.log.WriteLogEntry(QStringLiteral("****** RESULT: telnet session started ******"));
    wait(kSendWait);
    // The lines go in below the ifconfig line of the script the address job writes. Without
    // one, vi would make a start.sh of only these lines and the receiver would boot without
    // its network driver and its own start-up.
    const std::optional<ScriptAnswer> before = ask(IfconfigQuery(kStartScript));
    if (!before ||
        std::none_of(before->lines.cbegin(), before->lines.cend(), [](const NumberedLine& line) {
            return line.text.contains(QLatin1String("ifconfig"));
        })) {
        m_s.log.WriteLogError(
            QStringLiteral("start.sh with an ifconfig line was not found ! --> EXIT"));
        m_s.dialogs.showError(m_s.messages.text(MessageId::SetAddressFirst));
        telnet.Disconnect();
        return;
    }
    telnet.SendTelnet(QStringLiteral("cd /data"));
    m_s.log.WriteLogEntry(
        QStringLiteral("****** COMMAND: download proftpd.tar.bz2 by using wget ******"));
    telnet.SendTelnet(WgetCommandLine(own, port, servePath));
    // The marker is the download tool's last progress line; it can only be seen while
    // events are handled, that is during this wait.
    wait(kDownloadWait);
    if (!m_s.download.complete()) {
        m_s.log.WriteLogError(QStringLiteral("download was not successful ! --> EXIT"));
        m_s.dialogs.showError(m_s.messages.text(MessageId::DownloadFailed));
        telnet.Disconnect();
        return;
    }
    m_s.log.WriteLogEntry(QStringLiteral("****** RESULT: download complete ******"));

    // vi: find the ifconfig line, go one line down, insert the three lines above it.
    telnet.SendTelnet(QStringLiteral("cd /config"));
    telnet.SendTelnet(QStringLiteral("vi start.sh"));
    telnet.SendTelnet(QStringLiteral("/ifconfig"));
    telnet.SendTelnetChar('j');
    wait(kSendWait);
    telnet.SendTelnetChar('i');
    wait(kSendWait);
    telnet.SendTelnet(QStringLiteral("cd /ramdisk"));
    telnet.SendTelnet(QStringLiteral("tar xjf /data/proftpd.tar.bz2"));
    telnet.SendTelnet(QStringLiteral("/ramdisk/proftpd/proftpd -c /ramdisk/proftpd/proftpd.conf"));
    telnet.SendTelnetChar('\x1B');
    // vi tells the Escape key from the start of a cursor-key sequence only by the pause after
    // it: ":wq" arriving right behind it is swallowed as part of a sequence, vi stays in insert
    // mode and the lines are never written.
    wait(kSendWait);
    telnet.SendTelnet(QStringLiteral(":wq"));
    telnet.SendTelnet(QStringLiteral("chmod 777 /config/*"));
    const std::optional<ScriptAnswer> after = ask(FtpLinesQuery(kStartScript));
    if (!after || !FtpLinesFollowIfconfig(*after)) {
        if (!after) {
            // No answer: vi may still be open (it could not write). Leave it unsaved.
            telnet.SendTelnetChar('\x1B');
            wait(kSendWait);
            telnet.SendTelnet(QStringLiteral(":q!"));
        }
        m_s.log.WriteLogError(
            QStringLiteral("start.sh does not hold the ftp server lines ! --> EXIT"));
        m_s.dialogs.showError(m_s.messages.text(MessageId::StartScriptNotChanged));
        telnet.Disconnect();
        return;
    }
    // Lists the script into the network view and the log for the user to check; the lone
    // line end answers a pager prompt.
    telnet.SendTelnet(QStringLiteral("more start.sh"));
    telnet.SendTelnetChar('\r');
    telnet.SendTelnet(QStringLiteral("exit"));
    wait(kSendWait);

    m_s.log.WriteLogEntry(
        QStringLiteral("****** RESULT: FTP-Server successfully installed ******"));
    m_s.dialogs.showInformation(m_s.messages.text(MessageId::FtpServerInstalled));
    telnet.Disconnect();
}
