// The emergency image job's dialogue with the receiver's boot loader: the prompt hunt, the
// addresses typed and read back, the fetch, and the watch over the transfer and the boot.
#include "procedures/emergency_image_procedure.h"

#include <QMetaObject>

#include <exception>

namespace {

const QString kPrompt = QStringLiteral("STB7100-REF>");
constexpr int kHuntTries = 51;
constexpr int kHuntWait = 5;

qint64 seconds(std::chrono::milliseconds limit) {
    return std::chrono::duration_cast<std::chrono::seconds>(limit).count();
}

} // namespace

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
    ReceiverChannel& console = m_s.console;
    for (int attempt = 0; attempt < kHuntTries; ++attempt) {
        console.expect(kPrompt);
        // No settle wait per try: it would stretch the hunt for nothing.
        console.sendKeys(QByteArrayLiteral("\r"));
        console.waitTicks(kHuntWait);
        if (console.seen(kPrompt))
            return true;
    }
    return false;
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
    m_loaderLines.emplace(m_s.console);
    m_linesChecked = 0;
    m_loaderLines->setOnLine([this](const QString& line) { onLoaderLine(line); });
    if (!giveAddresses())
        return;
    m_s.console.wait(10);
    if (!loaderAnswersWell())
        return;
    m_steps.step(QStringLiteral("COMMAND: start file transfer"));
    // Open before sending: a fast loader may report before the send's own wait is over.
    openTransfer(hold);
    try {
        m_s.console.sendLine(QStringLiteral("tftp a4000000 emergency.ub"));
    } catch (...) {
        closeJob();
        throw;
    }
}

bool EmergencyImageProcedure::giveAddresses() {
    // The full command name: newer loaders refuse "set" as ambiguous (setenv, setexpr).
    ReceiverChannel& console = m_s.console;
    console.wait(20);
    console.sendLine(QStringLiteral("setenv ipaddr ") + m_receiver);
    if (!loaderAnswersWell())
        return false;
    console.wait(20);
    console.sendLine(QStringLiteral("setenv serverip ") + m_own);
    return loaderAnswersWell() && readBack(QStringLiteral("ipaddr"), m_receiver) &&
           readBack(QStringLiteral("serverip"), m_own);
}

bool EmergencyImageProcedure::readBack(const QString& name, const QString& value) {
    const qsizetype from = m_loaderLines->lines().size();
    m_s.console.sendLine(QStringLiteral("printenv ") + name);
    const QStringList& lines = m_loaderLines->lines();
    const bool same = m_s.console.waitUntil(
        [&] {
            for (qsizetype i = from; i < lines.size(); ++i)
                if (printsVariable(lines[i], name, value))
                    return true;
            return false;
        },
        answerDeadline(m_s.console));
    if (same)
        return loaderAnswersWell();
    // The answer is the line after the echoed command, if any came.
    const QString answer = lines.size() > from + 1 ? lines[from + 1].trimmed() : QString();
    m_s.server.stop();
    return m_steps.failWithMessage(
        QStringLiteral("boot loader holds %1 \"%2\" instead of %3 ! --> EXIT")
            .arg(name, answer, value),
        QStringLiteral("Der Boot-Loader hat %1 nicht übernommen (%2 statt %3).")
            .arg(name, answer.isEmpty() ? QStringLiteral("keine Antwort") : answer, value));
}

bool EmergencyImageProcedure::loaderAnswersWell() {
    const QStringList& lines = m_loaderLines->lines();
    for (; m_linesChecked < lines.size(); ++m_linesChecked)
        if (const std::optional<QString> failure = loaderFailure(lines[m_linesChecked]))
            return stopOnLoader(*failure);
    return true;
}

bool EmergencyImageProcedure::stopOnLoader(const QString& failure) {
    m_s.server.stop();
    return m_steps.failWithMessage(
        QStringLiteral("boot loader answered \"%1\" ! --> EXIT").arg(failure),
        QStringLiteral("Der Boot-Loader des Receivers meldet:\n%1").arg(failure));
}

void EmergencyImageProcedure::openTransfer(JobGate::Hold& hold) {
    // The job goes on after its menu command has returned: it keeps the gate until the
    // receiver has started the image or the job has ended some other way.
    m_hold = std::move(hold);
    m_phase = Phase::Transfer;
    m_s.fetchWatch.watchImageTransfer(
        m_imageSize, [this] { FinishImageTransfer(); }, [this] { AbortImageTransfer(); });
    m_silence.start(m_s.silenceLimit);
    m_s.showStatus(QStringLiteral("emergency.ub: warte auf den Receiver"));
}

void EmergencyImageProcedure::closeJob() {
    // Once booting, the transfer's end has stopped the server already.
    if (m_phase == Phase::Transfer)
        m_s.server.stop();
    m_phase = Phase::Idle;
    m_silence.stop();
    m_s.fetchWatch.watchImageTransfer(m_imageSize, {}, {});
    // Inside the menu command the command's end does the rest, not under its feet.
    if (m_inCommand)
        return;
    m_loaderLines.reset();
    m_hold.release();
}

void EmergencyImageProcedure::onLoaderLine(const QString& line) {
    if (m_phase == Phase::Transfer) {
        if (const std::optional<QString> failure = loaderFailure(line)) {
            closeJob();
            m_s.log.WriteLogError(
                QStringLiteral("boot loader answered \"%1\" ! --> EXIT").arg(*failure));
            m_s.showStatus(QStringLiteral("emergency.ub: Übertragung fehlgeschlagen"));
            later([this, failure] {
                m_s.dialogs.showMessage(
                    QStringLiteral("Der Boot-Loader des Receivers meldet:\n%1").arg(*failure));
            });
        }
    } else if (m_phase == Phase::Booting && m_boot.feed(line) != BootWatch::Outcome::Pending) {
        onBootDecided();
    }
}

void EmergencyImageProcedure::FinishImageTransfer() {
    // The hook runs inside the watcher, which keeps reading while this waits: only the first
    // report of a transfer may boot it.
    if (m_phase != Phase::Transfer)
        return;
    m_phase = Phase::Booting;
    m_boot = BootWatch();
    m_silence.stop();
    m_s.fetchWatch.watchImageTransfer(m_imageSize, {}, {});
    m_s.log.WriteLogEntry(
        QStringLiteral("****** RESULT : file transfer complete, stop TFTP server ******"));
    m_s.server.stop();
    m_s.console.wait(20);
    // A failure line or an end from outside during the wait has ended the job.
    if (m_phase == Phase::Booting)
        bootImage();
}

void EmergencyImageProcedure::bootImage() {
    try {
        m_s.console.sendLine(QStringLiteral("bootm a4000000"));
    } catch (const std::exception& e) {
        const QString why = QString::fromUtf8(e.what());
        closeJob();
        m_s.log.WriteLogError(QStringLiteral("bootm a4000000 could not be sent: ") + why);
        later([this, why] { m_s.dialogs.showError(why); });
        return;
    }
    // The loader may have decided during the send's own wait.
    if (m_phase != Phase::Booting)
        return;
    m_s.log.WriteLogEntry(
        QStringLiteral("****** RESULT : emergency image loaded, bootm a4000000 sent ******"));
    m_s.showStatus(QStringLiteral("emergency.ub übertragen, warte auf den Start des Images"));
    m_silence.start(m_s.bootLimit);
}

void EmergencyImageProcedure::onBootDecided() {
    const QString line = m_boot.lastLine();
    const bool started = m_boot.outcome() == BootWatch::Outcome::Started;
    closeJob();
    if (started) {
        m_s.log.WriteLogEntry(
            QStringLiteral("****** RESULT : emergency image verified and started (%1) ******")
                .arg(line));
        m_s.showStatus(QStringLiteral("emergency.ub: das Image wurde geprüft und gestartet"));
        return;
    }
    m_s.log.WriteLogError(QStringLiteral("boot loader answered \"%1\" ! --> EXIT").arg(line));
    m_s.showStatus(QStringLiteral("emergency.ub: Start fehlgeschlagen"));
    later([this, line] {
        m_s.dialogs.showMessage(
            QStringLiteral("Der Boot-Loader des Receivers meldet:\n%1").arg(line));
    });
}

void EmergencyImageProcedure::AbortImageTransfer() {
    if (m_phase != Phase::Transfer)
        return;
    closeJob();
    m_s.log.WriteLogError(QStringLiteral("filetransfer failed ! --> EXIT"));
    m_s.showStatus(QStringLiteral("emergency.ub: Übertragung fehlgeschlagen"));
    later([this] {
        m_s.dialogs.showError(QStringLiteral(
            "Die Übertragung des Notfall-Images ist fehlgeschlagen (bad checksum)."));
    });
}

void EmergencyImageProcedure::endTransfer(const QString& why) {
    if (!transferOpen())
        return;
    closeJob();
    m_s.log.WriteLogError(QStringLiteral("file transfer ended, TFTP-Server stopped: ") + why);
    m_s.showStatus(QStringLiteral("emergency.ub: Übertragung beendet"));
}

void EmergencyImageProcedure::onSilence() {
    const bool booting = m_phase == Phase::Booting;
    const QString last = m_boot.lastLine();
    // A loader that went quiet this long has given up or hangs; serving on would leave port
    // 69 open to the network with nobody watching.
    closeJob();
    if (booting) {
        const qint64 limit = seconds(m_s.bootLimit);
        m_s.log.WriteLogError(QStringLiteral("no start of the image reported by the receiver "
                                             "within %1 s, last seen: \"%2\" ! --> EXIT")
                                  .arg(limit)
                                  .arg(last));
        m_s.showStatus(QStringLiteral("emergency.ub: kein Start des Images gemeldet"));
        m_s.dialogs.showMessage(
            QStringLiteral("Der Receiver hat innerhalb von %1 s nicht gemeldet, dass das Image "
                           "startet. Zuletzt gesehen: \"%2\"")
                .arg(limit)
                .arg(last.isEmpty() ? QStringLiteral("nichts") : last));
        return;
    }
    const qint64 limit = seconds(m_s.silenceLimit);
    m_s.log.WriteLogError(
        QStringLiteral("no end of the file transfer reported by the receiver within "
                       "%1 s ! (TFTP-Server stopped) --> EXIT")
            .arg(limit));
    m_s.showStatus(QStringLiteral("emergency.ub: keine Rückmeldung vom Receiver"));
    m_s.dialogs.showError(
        QStringLiteral("Der Receiver hat das Ende der Übertragung nicht gemeldet: seit %1 s "
                       "keine Daten. Der TFTP-Server wurde beendet.")
            .arg(limit));
}
