#include "procedures/address_procedure.h"

#include "serial/console_dialogue.h"

#include <QRegularExpression>

namespace {

const QByteArray kCtrlC(1, '\x03');
const QByteArray kEscape(1, '\x1B');
const QString kConfigPrompt = QStringLiteral("/config #");
const QString kStartScript = QStringLiteral("start.sh");

} // namespace

bool listingNamesFile(const QStringList& listingLines, const QString& name) {
    // The watcher drops the escape byte of a colour code but keeps "[1;32m" and the like.
    static const QRegularExpression colourCode(QStringLiteral("\\[[0-9;]*m"));
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    for (QString line : listingLines) {
        line.remove(colourCode);
        const QStringList names = line.split(blanks, Qt::SkipEmptyParts);
        for (QString entry : names) {
            // ls -F marks executables and links; the mark is not part of the name.
            if (entry.endsWith(QLatin1Char('*')) || entry.endsWith(QLatin1Char('@')))
                entry.chop(1);
            if (entry == name)
                return true;
        }
    }
    return false;
}

QString AddressProcedure::ifconfigLine(const QString& address) const {
    return QStringLiteral("ifconfig eth0 ") + address;
}

std::optional<QString> AddressProcedure::takeAddress() {
    return m_steps.checkedAddress(m_s.view.receiverAddress(),
                                  QStringLiteral("ip address for ufs910"));
}

std::optional<ScriptAnswer> AddressProcedure::askStartScript() {
    LineTap tap(m_s.console);
    m_s.console.sendLine(ifconfigQuery(kStartScript));
    return readBack(tap, m_s.console);
}

bool AddressProcedure::writeAndLeaveVi() {
    ReceiverChannel& console = m_s.console;
    console.expect(kConfigPrompt);
    console.sendLine(QStringLiteral(":wq"));
    if (console.awaitText(kConfigPrompt, answerDeadline(console)))
        return true;
    // vi could not write ("'start.sh' is read only") and is still open: whatever came next
    // would be typed into the text. Leave it unsaved so the shell is back at its prompt.
    console.type(kEscape);
    console.sendLine(QStringLiteral(":q!"));
    return m_steps.fail(QStringLiteral("start.sh could not be written ! --> EXIT"),
                        MessageId::StartScriptNotWritten);
}

std::optional<QString> AddressProcedure::confirmWritten(const QString& address,
                                                        const QString& resultEntry) {
    const std::optional<ScriptAnswer> after = askStartScript();
    if (!after || !holdsOnlyAddress(*after, address)) {
        m_steps.fail(QStringLiteral("start.sh does not hold the new ip address ! --> EXIT"),
                     MessageId::StartScriptReadBackDiffers);
        return std::nullopt;
    }
    m_steps.step(resultEntry);
    return m_s.messages.text(MessageId::StartScriptWritten);
}

bool AddressProcedure::listStartScript() {
    ReceiverChannel& console = m_s.console;
    console.expect(kStartScript);
    LineTap tap(console);
    console.sendLine(QStringLiteral("ls"));
    // The text alone is also seen in names that merely contain "start.sh" (old_start.sh.bak);
    // editing a script that is not there would leave a start.sh holding only the ifconfig
    // line, and the receiver would boot without its network driver and its own start-up.
    return console.seen(kStartScript) && listingNamesFile(tap.lines(), kStartScript);
}

void AddressProcedure::setAddress() {
    m_steps.step(QStringLiteral("COMMAND: set ip address"));
    m_s.view.showPage(0);

    if (m_s.view.receiverAddress().isEmpty()) {
        m_steps.fail(QStringLiteral("no ip address for ufs910 was given ! --> EXIT"),
                     MessageId::NoReceiverAddress);
        return;
    }
    // The address goes into a root shell and into the boot script: only a plain address may.
    if (!takeAddress())
        return;
    m_s.dialogs.showInformation(m_s.messages.text(MessageId::AddressWillBeSet));
    if (!reachConfigFolder())
        return;

    const bool scriptExists = listStartScript();
    const std::optional<QString> address = takeAddress();
    if (!address)
        return;
    const std::optional<QString> text =
        scriptExists ? EditStartScript(*address) : CreateStartScript(*address);
    if (text)
        m_s.dialogs.showMessage(*text);
}

bool AddressProcedure::reachConfigFolder() {
    m_steps.step(QStringLiteral("COMMAND: check serial connection"));
    const bool answered = CheckSerialLink(m_s.console, m_s.busy);
    m_s.view.setSerialLight(answered);
    if (!answered)
        return fail(QStringLiteral("no serial connection ! --> EXIT"));

    ReceiverChannel& console = m_s.console;
    console.expect(kConfigPrompt);
    m_steps.step(QStringLiteral("RESULT: serial connection ok"));
    console.type(kCtrlC);
    m_steps.step(QStringLiteral("COMMAND: STRG C"));
    // The field is read again here and below: whatever it holds then is checked again.
    const std::optional<QString> running = takeAddress();
    if (!running)
        return false;
    // The running system takes the new address at once; the script makes it last.
    console.sendLine(ifconfigLine(*running));
    console.sendLine(QStringLiteral("cd /config"));
    if (!console.seen(kConfigPrompt))
        return fail(
            QStringLiteral("\"/config #\" was expected at prompt but not found ! --> EXIT"));
    m_steps.step(QStringLiteral("RESULT: \"/config #\" was found"));
    return true;
}

std::optional<QString> AddressProcedure::EditStartScript(const QString& address) {
    m_steps.step(QStringLiteral("COMMAND: edit existing start.sh"));
    // Where the ifconfig lines stand decides the keys; vi's first screen shows only the top
    // of a long script.
    const std::optional<ScriptAnswer> before = askStartScript();
    if (!before) {
        m_steps.fail(QStringLiteral("start.sh could not be read ! --> EXIT"),
                     MessageId::StartScriptUnreadable);
        return std::nullopt;
    }
    m_s.console.sendLine(QStringLiteral("vi start.sh"));
    for (const QByteArray& keys : ifconfigEditKeys(*before, ifconfigLine(address).toUtf8() + '\r'))
        m_s.console.type(keys);
    if (!writeAndLeaveVi())
        return std::nullopt;
    m_s.console.sendLine(QStringLiteral("chmod 755 start.sh"));
    return confirmWritten(address, QStringLiteral("RESULT: IP-address successfully changed"));
}

std::optional<QString> AddressProcedure::CreateStartScript(const QString& address) {
    m_steps.step(QStringLiteral("COMMAND: create new start.sh"));
    ReceiverChannel& console = m_s.console;
    console.sendLine(QStringLiteral("vi start.sh"));
    console.type(QByteArrayLiteral("i"));
    // Network driver first, then the address, then the receiver's own start-up script; in
    // insert mode each line end is typed as vi takes it.
    console.sendLine(QStringLiteral("insmod /app/modules_sys/smsc911x.ko tx_dma=256 rx_dma=256"));
    console.sendLine(ifconfigLine(address));
    console.sendLine(QStringLiteral("cd /app"));
    console.sendLine(QStringLiteral("/app/start.sh"));
    console.type(kEscape);
    if (!writeAndLeaveVi())
        return std::nullopt;
    console.sendLine(QStringLiteral("chmod 755 start.sh"));
    // Shows the new script in the terminal view, and the empty line brings the prompt back.
    console.sendLine(QStringLiteral("more start.sh"));
    console.sendLine(QString());
    return confirmWritten(address, QStringLiteral("RESULT: IP-address successfully set"));
}

void AddressProcedure::deleteStartScript() {
    if (!m_s.dialogs.confirmDefaultCancel(QStringLiteral("delet start.sh ?")))
        return;
    m_s.view.showPage(0);
    ReceiverChannel& console = m_s.console;
    console.expect(kConfigPrompt);
    console.type(kCtrlC);
    console.sendLine(QStringLiteral("cd /config"));
    // Without the prompt the shell may be anywhere, and rm would take another folder's file.
    if (!console.seen(kConfigPrompt)) {
        fail(QStringLiteral("\"/config #\" was expected at prompt but not found ! --> EXIT"));
        return;
    }
    m_steps.step(QStringLiteral("COMMAND: delete start.sh"));
    console.sendLine(QStringLiteral("rm start.sh"));
    if (listStartScript()) {
        m_steps.fail(QStringLiteral("start.sh is still there ! --> EXIT"),
                     MessageId::StartScriptNotDeleted);
        return;
    }
    m_steps.step(QStringLiteral("RESULT: start.sh deleted"));
    m_s.dialogs.showMessage(m_s.messages.text(MessageId::StartScriptDeleted));
}
