#include "serial/device_watch.h"

#include <QFile>
#include <QSocketNotifier>

#include <sys/inotify.h>

TDeviceWatch::~TDeviceWatch() {
    stop();
}

bool TDeviceWatch::watch(const QString& folder, std::uint32_t mask) {
    stop();
    m_inotify = openInotify();
    const QByteArray native = QFile::encodeName(folder);
    if (!m_inotify.valid() || ::inotify_add_watch(m_inotify.get(), native.constData(), mask) < 0) {
        m_inotify.reset();
        return false;
    }
    m_notifier = new QSocketNotifier(m_inotify.get(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        drainInotify(m_inotify.get());
        emit changed();
    });
    return true;
}

void TDeviceWatch::stop() {
    if (m_notifier) { // may be inside its own signal: deleted once that returns
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }
    m_inotify.reset(); // after the notifier is switched off, so it never watches a closed number
}
