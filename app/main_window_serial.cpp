// The serial port's place in the main window: ComPort1, its port number and the serial half
// of the check button.
#include "app/main_window.h"

#include <QFileInfo>
#include <QTimer>

#include <sys/stat.h>

namespace {

// A typed path is taken as a port only once it names a character device; the terminal
// "/dev/tty", the console and the pty multiplexer are never serial ports, even though the
// user passes them on the way while typing /dev/ttyUSB0.
bool isCandidateDevice(const QString& text) {
    if (!text.startsWith(QLatin1Char('/')))
        return false;
    const QString name = QFileInfo(text).fileName();
    if (name == QLatin1String("tty") || name == QLatin1String("console") ||
        name == QLatin1String("ptmx"))
        return false;
    struct stat st {};
    return ::stat(QFile::encodeName(text).constData(), &st) == 0 && S_ISCHR(st.st_mode);
}

} // namespace

void TForm1::createComPort1() {
    ComPort1 = std::make_unique<TComPort>();
    m_portChooser = std::make_unique<DialogPortChooser>(this);
    ComPort1->setPortChooser(m_portChooser.get());
    m_serialLink = std::make_unique<SerialConsoleLink>(*ComPort1, m_log, 0);
    // A failure no command can catch (the device vanished, the watcher failed) goes to the
    // standard error box, once.
    connect(ComPort1.get(), &TComPort::portFailure, this,
            [this](const QString& message) { m_dialogs.showError(message); });
    // Opened on the first pass of the message loop, so console lines reach the session log
    // from the start; the program goes on with the port closed if that fails.
    QTimer::singleShot(0, this, [this] { openComPort1AtStartup(); });
}

void TForm1::openComPort1AtStartup() {
    if (!m_created)
        return;
    try {
        ComPort1->Open();
    } catch (const EPortException& e) {
        m_dialogs.showError(e.message());
    }
}

void TForm1::applyPort(const QString& text) {
    // A port box entry counts by its position; typed text only as a device path.
    const PortName typed = PortName::parse(text);
    const PortName port = m_portNumber > 0       ? PortName::fromComNumber(m_portNumber)
                          : typed.isDevicePath() ? typed
                                                 : PortName();
    try {
        if (port.comNumber() > 0)
            ComPort1->setPort(port);
        else if (port.isDevicePath() &&
                 (isCandidateDevice(port.devicePath()) || !ComPort1->isOpen()))
            ComPort1->setPort(port); // a missing device fails clearly at the open
        else if (!ComPort1->isOpen())
            ComPort1->setPort(PortName()); // the next open asks for a port
        // An open port stays as it is while the box holds a half-typed name.
    } catch (const EPortException& e) {
        // The reopen on the new port failed: it stays closed, the name is already stored.
        m_dialogs.showError(e.message());
    }
}

bool TForm1::runSerialCheck() {
    return CheckSerialLink(m_serialLink->dialogue(), busy());
}
