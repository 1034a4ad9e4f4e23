#pragma once
// The PC's own IPv4 addresses and the network check behind the "Prüfen" button and the FTP
// server installation: does the receiver answer an echo and accept a telnet connection, and
// which of our addresses lies on its subnet.
#include "core/busy_indicator.h"
#include "core/dialogs.h"
#include "core/main_view.h"
#include "core/telnet_link.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

// Every IPv4 address of every interface, in the order the system lists the interfaces,
// loopback included; empty when the listing fails.
QStringList ListLocalAddresses();

// The text before its last "."; empty for a text without one. Addresses are compared by this
// text alone, so 192.168.1.5 and 192.168.01.7 are on different subnets here.
QString SubnetPrefix(const QString& text);

// Edit2 := the last address in localAddresses whose SubnetPrefix equals that of receiver;
// Edit2 keeps its text when none does. Returns SubnetPrefix(receiver).
QString chooseOwnAddress(MainView& view, const QString& receiver,
                         const QStringList& localAddresses);

class SessionLog;

struct NetworkLinkParts {
    NetworkLinkParts(MainView& mainView, BusyIndicator& busyIndicator, Dialogs& boxes,
                     TelnetLink& telnetLink)
        : view(mainView), busy(busyIndicator), dialogs(boxes), telnet(telnetLink) {}

    MainView& view;
    BusyIndicator& busy;
    Dialogs& dialogs;
    TelnetLink& telnet;
    // Replaceable for tests; empty means the real PingHost.
    std::function<std::int32_t(const QString& target, std::uint16_t timeoutMs)> ping;
    std::function<QStringList()> listAddresses = ListLocalAddresses;
    // Where a missing right to send echoes is noted; none = not noted.
    SessionLog* log = nullptr;
};

// The wait dialog shows "Netzwerk Verbindung wird geprüft" meanwhile; page "Netzwerk" comes to
// front. True when the receiver at Edit1 answered an echo within 1000 ms and accepted a telnet
// connection (closed again at once). A failure of the telnet step is a plain false; any other
// failure is false with the message "Netzwerkstatus konnte nicht ermittelt werden". The own
// address is chosen afterwards, whatever the outcome. The window keeps painting during the
// echo and the connect but takes no clicks.
bool CheckNetworkLink(NetworkLinkParts& parts);
