#include "serial/com_port.h"

#include "core/port_chooser.h"
#include "serial/port_session.h"

#include <QMetaObject>
#include <QSocketNotifier>

struct TComPort::Invocation {
    std::shared_ptr<PortSession> session;
    quint64 deliveryId;
};

TComPort::TComPort(QObject* parent)
    : QObject(parent), m_registry(std::make_shared<ConsumerRegistry>()) {
    if (m_wake.valid()) {
        m_wakeNotifier = new QSocketNotifier(m_wake.get(), QSocketNotifier::Read, this);
        connect(m_wakeNotifier, &QSocketNotifier::activated, this, [this] { runOnePosted(); });
    }
}

TComPort::~TComPort() {
    // Whoever listens to closing()/closed() may already be half torn down with the object
    // that owns this port (the wiring, whose later members go before it at program end).
    blockSignals(true);
    Close();
    // Before m_wake closes its descriptor: a notifier must never watch a closed number.
    delete m_wakeNotifier;
}

QString TComPort::deviceForComNumber(quint16 number) {
    return PortName::fromComNumber(number).devicePath();
}

QString TComPort::devicePath() const {
    return m_devicePath.isEmpty() ? deviceForComNumber(m_comNumber) : m_devicePath;
}

void TComPort::setComNumber(quint16 number) {
    if (number == m_comNumber && m_devicePath.isEmpty())
        return;
    const bool wasOpen = isOpen();
    Close();
    m_comNumber = number;
    m_devicePath.clear();
    if (wasOpen)
        Open();
}

void TComPort::setDevicePath(const QString& path) {
    if (path.isEmpty()) {
        setComNumber(0);
        return;
    }
    if (path == m_devicePath)
        return;
    const bool wasOpen = isOpen();
    Close();
    m_comNumber = 0;
    m_devicePath = path;
    if (wasOpen)
        Open();
}

void TComPort::setPort(const PortName& port) {
    if (port.isDevicePath())
        setDevicePath(port.devicePath());
    else
        setComNumber(quint16(port.comNumber()));
}

void TComPort::Open() {
    if (m_session)
        return;
    if (devicePath().isEmpty()) {
        const std::optional<QString> choice = m_chooser ? m_chooser->choosePort() : std::nullopt;
        if (!choice || choice->trimmed().isEmpty())
            throw ENoPortSelected();
        // The choice only becomes the port number; it does not reopen anything by itself.
        const PortName chosen = PortName::parse(*choice);
        if (chosen.isNone())
            throw ENoPortSelected();
        m_comNumber = quint16(chosen.comNumber());
        m_devicePath = chosen.isDevicePath() ? chosen.devicePath() : QString();
    }

    OpenedDevice device = openSerialDevice(devicePath());
    m_openedIdentity = device.identity;
    auto session = std::make_shared<PortSession>(std::move(device), m_registry, m_deliveryLimitMs,
                                                 m_trigger != nullptr);
    PortSession::Hooks hooks;
    hooks.postTrigger = [this](std::shared_ptr<PortSession> s, quint64 id, quint16 count) {
        postToOwner([this, s, id, count] { runTriggerAvail(s, id, count); });
    };
    hooks.postLost = [this](std::shared_ptr<PortSession> s, QString message) {
        postToOwner([this, s, message] { onDeviceLost(s, message); });
    };
    // Users told of the open register their consumers before the first byte is read, so a
    // consumer registered from opened() misses nothing.
    m_session = session;
    emit opened();
    if (m_session != session)
        return; // closed again from inside opened()
    try {
        session->start(std::move(hooks));
    } catch (...) {
        m_session.reset();
        session->stop();
        emit closed();
        throw;
    }
}

void TComPort::postToOwner(std::function<void()> call) {
    // The call travels through our own locked queue and the wake-up through an eventfd the
    // owning thread's event loop watches, so everything the port threads hand over is
    // ordered by locks and system calls alone. Calls run in posting order.
    {
        std::lock_guard lock(m_postedMutex);
        m_posted.push_back(std::move(call));
    }
    if (m_wake.valid()) {
        m_wake.signal();
    } else {
        QMetaObject::invokeMethod(
            this, [this] { runOnePosted(); }, Qt::QueuedConnection);
    }
}

void TComPort::runOnePosted() {
    m_wake.drain();
    std::function<void()> call;
    bool more = false;
    {
        std::lock_guard lock(m_postedMutex);
        if (m_posted.empty())
            return;
        call = std::move(m_posted.front());
        m_posted.pop_front();
        more = !m_posted.empty();
    }
    if (more) // the next call may run inside this one (a handler that keeps handling events)
        m_wake.signal();
    call();
}

void TComPort::Close() {
    if (!m_session)
        return;
    // Keep the session until its threads are joined: a handler may still hold it as well.
    const std::shared_ptr<PortSession> session = m_session;
    emit closing();
    session->stop();
    m_session.reset();
    emit closed();
}

void TComPort::WriteText(const QByteArray& bytes) {
    if (m_session && m_session->stopping())
        return;
    if (!m_session)
        Open();
    m_session->write(bytes);
}

char TComPort::ReadChar() {
    char byte = 0;
    ReadChars(&byte, 1);
    return byte;
}

qsizetype TComPort::ReadChars(char* out, qsizetype maxBytes) {
    std::shared_ptr<PortSession> session;
    quint64 deliveryId = 0;
    if (!m_invocations.empty()) {
        session = m_invocations.back()->session;
        deliveryId = m_invocations.back()->deliveryId;
        if (session != m_session)
            return 0; // this handler's port has been closed meanwhile
    } else {
        if (!m_session)
            Open();
        session = m_session;
    }
    if (session->stopping() || maxBytes <= 0)
        return 0;
    const qsizetype n = session->readEventBytes(deliveryId, out, maxBytes);
    if (n == 0)
        throw EBufferIsEmpty();
    return n;
}

void TComPort::setOnTriggerAvail(TriggerAvail handler) {
    m_trigger = handler ? std::make_shared<TriggerAvail>(std::move(handler)) : nullptr;
    if (m_session)
        m_session->setEventEnabled(m_trigger != nullptr);
}

int TComPort::addConsumer(Consumer consumer) {
    const int id = m_nextConsumerId++;
    m_registry->add(id, std::move(consumer));
    if (m_session)
        m_session->addConsumerCursor(id);
    return id;
}

void TComPort::removeConsumer(int id) {
    m_registry->remove(id);
    if (m_session)
        m_session->removeConsumerCursor(id);
}

qsizetype TComPort::unreadCount() const {
    return m_session ? m_session->unreadCount() : 0;
}

void TComPort::runTriggerAvail(const std::shared_ptr<PortSession>& session, quint64 deliveryId,
                               quint16 count) {
    const std::shared_ptr<TriggerAvail> handler = m_trigger;
    if (session != m_session || session->stopping() || !handler) {
        session->finishDelivery(deliveryId);
        return;
    }
    Invocation invocation{session, deliveryId};
    m_invocations.push_back(&invocation);
    QString failure;
    try {
        (*handler)(*this, count);
    } catch (const EPortException& e) {
        failure = e.message();
    } catch (const std::exception& e) {
        failure = QString::fromLocal8Bit(e.what());
    } catch (...) {
        failure = QStringLiteral("Port exception");
    }
    m_invocations.pop_back();
    session->finishDelivery(deliveryId);
    if (!failure.isEmpty())
        emit portFailure(failure);
}

void TComPort::onDeviceLost(const std::shared_ptr<PortSession>& session, const QString& message) {
    if (session != m_session)
        return; // already closed or replaced
    const QString path = devicePath();
    Close();
    emit deviceLost(path);
    emit portFailure(message);
}
