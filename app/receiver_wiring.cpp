#include "app/receiver_wiring.h"

#include "app/port_select_form.h"
#include "app/terminal_hint.h"
#include "core/dialogs.h"
#include "net/telnet_data_handler.h"
#include "usbstick/format_dialog.h"

#include <QFileInfo>
#include <QTimer>

#include <exception>
#include <stdexcept>

namespace {

// The terminal "/dev/tty", the console and the pty multiplexer are never serial ports, even
// though the user passes them on the way while typing /dev/ttyUSB0.
bool isNeverAPort(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    return name == QLatin1String("tty") || name == QLatin1String("console") ||
           name == QLatin1String("ptmx");
}

} // namespace

ReceiverWiring::ReceiverWiring(const WiringServices& services, const WiringParts& parts)
    : m_dialogs(services.dialogs), m_log(services.log), m_busy(services.busy),
      m_copyProgress(services.copyProgress), m_language(services.language),
      m_formatDialog(services.formatDialog), m_formatLibrary(services.formatLibrary),
      m_portList(services.portList), m_port(parts.port), m_telnet(parts.telnet), m_http(parts.http),
      m_imageServer(parts.imageServer), m_telnetTicker(parts.telnetTicker) {}

ReceiverWiring::~ReceiverWiring() {
    detach();
}

void ReceiverWiring::attach(ReceiverWindow& window) {
    // The parts feed one window's widgets; a second window would steal them from the first.
    if (m_window)
        throw std::logic_error("ReceiverWiring: already attached to a window");
    m_window = &window;
    m_hooks = std::make_unique<QObject>();
    m_portChooser = std::make_unique<DialogPortChooser>(window.widget());
    m_port.setPortChooser(m_portChooser.get());
    m_serialLink = std::make_unique<SerialConsoleLink>(m_port, m_log, m_settleDelay);
    // A failure no command can catch (the device vanished, the watcher failed) goes to the
    // standard error box, once.
    connectReplug(window);
    QObject::connect(
        &m_port, &TComPort::portFailure, m_hooks.get(), [this](const QString& message) {
            m_window->setSerialLight(false);
            const bool jobWasRunning = jobRunning();
            // The loader's report can no longer arrive: the transfer ends and port 69
            // closes.
            if (m_lingering)
                m_lingering->endFromOutside(QStringLiteral("serial port lost: ") + message);
            // A vanished device with no job running is told in the status bar (it
            // comes back by itself, or the user picks the port again), and a box would
            // wait for a needless click.
            if (!m_replug->toldLoss() || jobWasRunning)
                m_dialogs.showError(message);
        });
    // The window locks its controls and the terminal's keys for as long as a job holds the
    // gate, a lingering job's wait included.
    QObject::connect(&m_gate, &JobGate::heldChanged, m_hooks.get(),
                     [&window](bool held) { window.showJobRunning(held); });
    // Opened on the first pass of the message loop, so console lines reach the session log
    // from the start; the program goes on with the port closed if that fails.
    QTimer::singleShot(0, m_hooks.get(), [this] { openPortAtStartup(); });
    connectTerminal(window);
    connectFirstLook(window);

    m_telnetChannel =
        std::make_unique<TelnetChannel>(m_telnet, m_telnetTicker, [this] { return m_settleDelay; });
    m_telnet.setOnDataAvailable([this](const QString& text) {
        showTelnetOutput(*m_window, m_log, text);
        m_telnetChannel->received(text);
    });
    // The settings are read after this, so the delay is looked up at each send.
    m_telnet.setSettleDelay([this] { return m_settleDelay; });
    m_lingering = makeLingeringJob(*this, window);
}

void ReceiverWiring::detach() {
    if (!m_window)
        return;
    m_lingering.reset();
    m_hooks.reset();
    m_telnet.setOnDataAvailable({});
    m_telnet.setSettleDelay(std::function<int()>());
    m_telnetChannel.reset();
    if (m_terminalConsumer != 0)
        m_port.removeConsumer(m_terminalConsumer);
    m_terminalConsumer = 0;
    m_serialLink.reset();
    m_replug.reset();
    m_port.setPortChooser(nullptr);
    m_portChooser.reset();
    m_window = nullptr;
}

void ReceiverWiring::connectReplug(ReceiverWindow& window) {
    m_replug = std::make_unique<TPortReplug>(m_port, m_log);
    QObject::connect(
        m_replug.get(), &TPortReplug::lost, window.widget(), [this, &window](const QString& path) {
            window.showStatusMessage(m_language.text(WindowText::PortLost).arg(path), 0);
        });
    QObject::connect(
        m_replug.get(), &TPortReplug::gone, window.widget(), [this, &window](const QString& path) {
            window.showStatusMessage(m_language.text(WindowText::PortGone).arg(path), 0);
        });
    QObject::connect(m_replug.get(), &TPortReplug::reopened, window.widget(),
                     [this, &window](const QString& path) {
                         window.showStatusMessage(m_language.text(WindowText::PortBack).arg(path),
                                                  10000);
                     });
}

void ReceiverWiring::connectTerminal(ReceiverWindow& window) {
    // Keys and replies go to the port; a write failure shows its error here rather than
    // escaping the key handler. Keys typed while the port is closed are dropped. While a job
    // holds the receiver the terminal's answers to queries are dropped too: typed between the
    // job's own lines they would land in its shell or editor (a cursor report's "R" starts
    // Replace mode in vi).
    QObject::connect(&window.intents(), &WindowIntents::consoleTyped, m_hooks.get(),
                     [this](const QByteArray& bytes) {
                         if (!m_port.isOpen() || m_gate.held())
                             return;
                         try {
                             m_port.WriteText(bytes);
                         } catch (const EPortException& e) {
                             m_dialogs.showError(e.message());
                         }
                     });
    // The consumer runs on the port's dispatcher thread and only queues; detach() withdraws
    // it before the window's widgets go.
    auto registerConsumer = [this, view = &window] {
        if (m_terminalConsumer != 0)
            return;
        m_terminalConsumer = m_port.addConsumer([view](const QByteArray& unread) {
            view->showConsoleBytes(unread);
            return unread.size();
        });
    };
    registerConsumer();
    // Withdrawn while the port closes and registered again when it opens (a port change
    // reopens it), so the terminal always follows the port in use.
    QObject::connect(&m_port, &TComPort::closing, m_hooks.get(), [this] {
        if (m_terminalConsumer != 0) {
            m_port.removeConsumer(m_terminalConsumer);
            m_terminalConsumer = 0;
        }
    });
    QObject::connect(&m_port, &TComPort::opened, m_hooks.get(), registerConsumer);
}

void ReceiverWiring::connectFirstLook(ReceiverWindow& window) {
    // Shown while the port is open until the receiver's first byte (the window sees that
    // byte itself). While the port is closed the hint says why: checked after the start-up
    // open, after every close and after each edit of the port or the language box. Every
    // connection here goes at detach.
    TComPort* port = &m_port;
    QObject* hooks = m_hooks.get();
    auto whyClosed = [port, &window] {
        if (!port->isOpen())
            window.showPortUnavailable(port->devicePath());
    };
    QObject::connect(port, &TComPort::opened, hooks, [&window] { window.showPortOpened(); });
    QObject::connect(port, &TComPort::closing, hooks, [&window] { window.showPortClosing(); });
    QObject::connect(port, &TComPort::closed, hooks, whyClosed, Qt::QueuedConnection);
    QObject::connect(&window.intents(), &WindowIntents::portOrLanguageEdited, hooks, whyClosed,
                     Qt::QueuedConnection);
    QTimer::singleShot(0, hooks, whyClosed); // after the start-up open, queued before it
}

void ReceiverWiring::openPortAtStartup() {
    if (!m_window || !m_window->created())
        return;
    try {
        m_port.Open();
    } catch (const EPortException& e) {
        // Said in the window's language, with the way out: the list of the PC's ports.
        m_dialogs.showError(noPortHintText(m_port.devicePath(), m_language, e.message()));
        m_window->offerPortList();
    }
}

bool ReceiverWiring::refuseWhileJobRuns() {
    if (!m_gate.held())
        return false;
    m_dialogs.showInformation(messages().text(MessageId::PleaseWait));
    return true;
}

void ReceiverWiring::runJob(JobKind kind, const std::function<void(JobGate::Hold&)>& job) {
    std::optional<JobGate::Hold> hold = m_gate.tryEnter(kind);
    if (!hold) {
        refuseWhileJobRuns();
        return;
    }
    // The jobs end every failure of their own with a box; this only catches what none of
    // their steps expects (a port failure), skipping the steps not yet taken.
    try {
        job(*hold);
    } catch (const std::exception& e) {
        m_dialogs.showError(QString::fromUtf8(e.what()));
    }
}

bool ReceiverWiring::endWaitingJob() {
    if (m_lingering && m_lingering->waitingForReceiver())
        m_lingering->endFromOutside(QStringLiteral("program closing"));
    return !m_gate.held();
}

void ReceiverWiring::runJob(JobKind kind) {
    if (const ReceiverJob* job = receiverJob(kind); job && m_window)
        runJob(kind, [this, job](JobGate::Hold& hold) { job->run(*this, *m_window, hold); });
}

void ReceiverWiring::applyPort(const QString& text, int portNumber, PortChoice choice) {
    if (!m_window)
        return; // not attached
    // A port box entry counts by its position; typed text only as a device path.
    const PortName typed = PortName::parse(text);
    const PortName port = portNumber > 0         ? PortName::fromComNumber(portNumber)
                          : typed.isDevicePath() ? typed
                                                 : PortName();
    const bool chosen = choice == PortChoice::Chosen;
    try {
        if (port.comNumber() > 0) {
            m_port.setPort(port);
        } else if (port.isDevicePath() && !isNeverAPort(port.devicePath())) {
            // While the user types, an open port stays where it is; the name is taken when
            // editing ends. A closed port only records it.
            if (chosen || !m_port.isOpen())
                m_port.setPort(port);
        } else if (!m_port.isOpen()) {
            m_port.setPort(PortName()); // the next open asks for a port
        }
        // A port the user has chosen is meant to be used: open it now, so the light and the
        // terminal follow the choice and a wrong name is reported at once.
        if (chosen && !port.isNone() && !m_port.isOpen())
            m_port.Open();
    } catch (const EPortException& e) {
        // The reopen on the new port failed: it stays closed, the name is already stored.
        // Said in the window's language; a port this user may not open names the group.
        m_dialogs.showError(noPortHintText(m_port.devicePath(), m_language, e.message()));
    }
}

void ReceiverWiring::setSettleDelay(int delay) {
    m_settleDelay = delay;
    m_serialLink->dialogue().setSettleDelay(delay);
}

void ReceiverWiring::releaseNetwork() {
    m_telnet.Disconnect();
    m_http.StopAndRelease();
}
