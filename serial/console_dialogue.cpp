#include "serial/console_dialogue.h"

void ConsoleDialogue::SendConsole(const QByteArray& text) {
    type(text);
}

void ConsoleDialogue::sendLine(const QString& line) {
    SendConsole(line.toUtf8() + '\r');
}

void ConsoleDialogue::sendKeys(const QByteArray& keys) {
    m_watcher.RxLine.clear();
    m_port.WriteText(keys);
}

void ConsoleDialogue::expect(const QString& text) {
    if (const ResponseWatcher::Flag flag = ResponseWatcher::seenFlag(text))
        m_watcher.*flag = false;
}

bool ConsoleDialogue::seen(const QString& text) const {
    if (const ResponseWatcher::Flag flag = ResponseWatcher::seenFlag(text))
        return m_watcher.*flag;
    return m_watcher.RxLine.contains(text);
}

void ConsoleDialogue::watchImageTransfer(const QString& sizeText, std::function<void()> finished,
                                         std::function<void()> aborted) {
    m_watcher.ImageSizeText = sizeText;
    m_watcher.setFinishImageTransfer(std::move(finished));
    m_watcher.setAbortImageTransfer(std::move(aborted));
}

bool CheckSerialLink(ReceiverChannel& console, BusyIndicator& busy) {
    // The indicator must close whatever happens, including a failure while showing it.
    struct CloseIndicator {
        BusyIndicator& indicator;
        ~CloseIndicator() {
            try {
                indicator.hideBusy();
            } catch (...) {
            }
        }
    };
    const QString hello = QStringLiteral("hello");
    bool answered = false;
    try {
        CloseIndicator closer{busy};
        busy.showBusy(QStringLiteral("Serielle Verbindung wird geprüft"));
        console.expect(hello);
        console.type(QByteArray(1, '\x03'));
        console.sendLine(QStringLiteral("echo ") + hello);
        answered = console.seen(hello);
    } catch (...) {
        // Any failure (the port cannot be opened, the device is in use or gone) simply
        // means nobody answers; the caller reports it in its own way.
        answered = false;
    }
    return answered;
}
