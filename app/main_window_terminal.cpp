// The terminal view's place in the main window: Terminal1 on page "Seriell", fed by
// ComPort1 and writing its keys and replies to it.
#include "app/main_window.h"

#include "serial/com_port.h"
#include "terminal/terminal_widget.h"

#include <QVBoxLayout>

void TForm1::createTerminal1() {
    Terminal1 = new TTerminal(TabSheet1);
    m_serialPageLayout->addWidget(Terminal1);
    // Keys and replies go to the port; a write failure shows its error here rather than
    // escaping the key handler.
    Terminal1->setWriter([this](const QByteArray& bytes) {
        // The terminal never opens the port itself: keys typed while it is closed are dropped.
        if (!ComPort1->isOpen())
            return;
        try {
            ComPort1->WriteText(bytes);
        } catch (const EPortException& e) {
            m_dialogs.showError(e.message());
        }
    });
    // The consumer runs on the port's dispatcher thread and only queues; the port closes
    // (joining that thread) before the window's widgets are destroyed.
    auto registerConsumer = [this] {
        if (m_terminalConsumer != 0)
            return;
        TTerminal* terminal = Terminal1;
        m_terminalConsumer = ComPort1->addConsumer([terminal](const QByteArray& unread) {
            terminal->enqueueReceived(unread.constData(), unread.size());
            return unread.size();
        });
    };
    registerConsumer();
    // Withdrawn while the port closes and registered again when it opens (a port change
    // reopens it), so the terminal always follows the port in use.
    connect(ComPort1.get(), &TComPort::closing, Terminal1, [this] {
        if (m_terminalConsumer != 0) {
            ComPort1->removeConsumer(m_terminalConsumer);
            m_terminalConsumer = 0;
        }
    });
    connect(ComPort1.get(), &TComPort::opened, Terminal1, registerConsumer);
}
