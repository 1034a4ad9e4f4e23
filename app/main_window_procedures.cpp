// The receiver jobs' place in the main window: two of the menu commands and the port label's
// context click (the emergency image lives in emergency_wiring.cpp).
#include "app/main_window.h"

#include "net/network_check.h"
#include "procedures/address_procedure.h"
#include "procedures/ftp_install_procedure.h"
#include "serial/console_link.h"

#include <exception>

void TForm1::IPAdressesetzenndern1Click() {
    AddressProcedure procedure(m_serialLink->dialogue(), busy(), m_dialogs, *this, messages(),
                               m_log);
    // A port failure ends the command where it happened; the steps not yet sent are skipped.
    try {
        procedure.setAddress();
    } catch (const std::exception& e) {
        m_dialogs.showError(QString::fromUtf8(e.what()));
    }
}

void TForm1::FTPServerinstallieren1Click() {
    NetworkLinkParts network(*this, busy(), m_dialogs, *Telnet1);
    network.log = &m_log;
    FtpInstallProcedure procedure(
        {m_dialogs, *this, messages(), [&network] { return CheckNetworkLink(network); }, *Telnet1,
         *HTTPServer1, m_serialLink->ticker(), m_log, m_download, m_settleDelay});
    // The procedure ends every failure of its own with a box; this only catches what none of
    // its steps expects, so the menu command cannot take the program down.
    try {
        procedure.installFtpServer();
    } catch (const std::exception& e) {
        m_dialogs.showError(QString::fromUtf8(e.what()));
    }
}

void TForm1::Label3ContextPopup(const QPoint& pos) {
    Q_UNUSED(pos);
    AddressProcedure procedure(m_serialLink->dialogue(), busy(), m_dialogs, *this, messages(),
                               m_log);
    try {
        procedure.deleteStartScript();
    } catch (const std::exception& e) {
        m_dialogs.showError(QString::fromUtf8(e.what()));
    }
}
