#include "serial/console_link.h"

#include <QCoreApplication>

void FeedConsoleWatcher(TComPort& port, ResponseWatcher& watcher, quint16 count) {
    for (quint16 i = 0; i < count; ++i) {
        const char ch = port.ReadChar();
        QCoreApplication::processEvents();
        watcher.feed(ch);
    }
}

SerialConsoleLink::SerialConsoleLink(TComPort& port, SessionLog& log, int settleDelay)
    : m_port(port), m_console(port), m_dialogue(m_console, m_ticker, m_watcher, settleDelay) {
    m_watcher.setLineCompleted([&log](const QString& line) { log.WriteLogEntry(line); });
    m_port.setOnTriggerAvail(
        [this](TComPort& sender, quint16 count) { FeedConsoleWatcher(sender, m_watcher, count); });
}

SerialConsoleLink::~SerialConsoleLink() {
    m_port.setOnTriggerAvail(nullptr);
}
