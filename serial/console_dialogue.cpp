#include "serial/console_dialogue.h"

void ConsoleDialogue::SendConsole(const QByteArray& text) {
    m_watcher.RxLine.clear();
    m_port.WriteText(text);
    m_ticker.WaitTicks(settleTicks(m_settleDelay, 8));
}

bool CheckSerialLink(ConsoleDialogue& console, BusyIndicator& busy) {
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
    bool answered = false;
    try {
        CloseIndicator closer{busy};
        busy.showBusy(QStringLiteral("Serielle Verbindung wird geprüft"));
        console.watcher().SeenHello = false;
        console.SendConsole(QByteArray(1, '\x03'));
        console.SendConsole(QByteArrayLiteral("echo hello\r"));
        answered = console.watcher().SeenHello;
    } catch (...) {
        // Any failure (the port cannot be opened, the device is in use or gone) simply
        // means nobody answers; the caller reports it in its own way.
        answered = false;
    }
    return answered;
}
