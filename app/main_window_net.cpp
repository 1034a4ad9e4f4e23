// The network components' place in the main window: Telnet1, HTTPServer1 and the network
// half of the check button.
#include "app/main_window.h"

#include "net/network_check.h"
#include "net/telnet_data_handler.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextDocument>

void TForm1::createTelnet1() {
    Telnet1 = std::make_unique<TTelnetClient>(m_serialLink->ticker());
    Telnet1->setOnDataAvailable(
        [this](const QString& text) { ShowTelnetOutput(*this, m_log, m_download, text); });
    // FormCreate reads the settings after this, so the delay is looked up at each send.
    Telnet1->setSettleDelay([this] { return m_settleDelay; });
}

void TForm1::createHTTPServer1() {
    // Port 80 of all addresses; it serves nothing until the FTP job sets the file.
    HTTPServer1 = std::make_unique<THTTPServer>();
}

bool TForm1::runNetworkCheck() {
    NetworkLinkParts parts(*this, busy(), m_dialogs, *Telnet1);
    parts.log = &m_log;
    return CheckNetworkLink(parts);
}

void TForm1::releaseNetwork() {
    Telnet1->Disconnect();
    HTTPServer1->StopAndRelease();
}

// Memo1 is never cleared and the telnet handler asks for its last line at every piece, so
// these look at the document's end only.
int TForm1::networkLineCount() const {
    return Memo1->document()->blockCount();
}

QString TForm1::lastNetworkLine() const {
    return Memo1->document()->lastBlock().text();
}
