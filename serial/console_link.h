#pragma once
// The serial half of the console dialogue as the program wires it: the response watcher fed
// by the port's data-available event, the console port the procedures write to, and the real
// tick wait. One instance lives as long as the port it listens to.
#include "log/session_log.h"
#include "serial/com_port.h"
#include "serial/console_dialogue.h"
#include "serial/response_watcher.h"
#include "serial/tick_wait.h"

// ConsolePort on the real serial port; throws what TComPort::WriteText throws.
class ComPortConsole : public ConsolePort {
public:
    explicit ComPortConsole(TComPort& port) : m_port(port) {}
    void WriteText(const QByteArray& bytes) override { m_port.WriteText(bytes); }

private:
    TComPort& m_port;
};

// The data-available handler: reads count bytes and feeds each to the watcher, letting
// pending events run between the bytes (after the first, then at least every half
// millisecond) so the window stays alive during long bursts. A port failure from the read
// leaves at once and propagates.
void feedConsoleWatcher(TComPort& port, ResponseWatcher& watcher, quint16 count);

class SerialConsoleLink {
public:
    // Installs feedConsoleWatcher as the port's OnTriggerAvail handler and logs every
    // completed console line to log. The port and the log must outlive this object.
    SerialConsoleLink(TComPort& port, SessionLog& log, int settleDelay);
    ~SerialConsoleLink(); // uninstalls the handler
    SerialConsoleLink(const SerialConsoleLink&) = delete;
    SerialConsoleLink& operator=(const SerialConsoleLink&) = delete;

    TComPort& port() { return m_port; }
    ResponseWatcher& watcher() { return m_watcher; }
    ConsoleDialogue& dialogue() { return m_dialogue; }
    Ticker& ticker() { return m_ticker; }

private:
    TComPort& m_port;
    ResponseWatcher m_watcher;
    ComPortConsole m_console;
    EventLoopTicker m_ticker;
    ConsoleDialogue m_dialogue;
};
