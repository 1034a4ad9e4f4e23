#include "net/network_check.h"

#include "log/session_log.h"
#include "net/blocking_call.h"
#include "net/ping.h"
#include "net/privilege_hint.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

namespace {
constexpr std::uint16_t kEchoTimeoutMs = 1000;
}

QStringList ListLocalAddresses() {
    QStringList addresses;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return addresses;
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET)
            continue;
        char text[INET_ADDRSTRLEN] = {};
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        if (::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text))
            addresses.append(QString::fromLatin1(text));
    }
    ::freeifaddrs(list);
    return addresses;
}

QString SubnetPrefix(const QString& text) {
    const qsizetype dot = text.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : text.left(dot);
}

QString chooseOwnAddress(MainView& view, const QString& receiver,
                         const QStringList& localAddresses) {
    const QString prefix = SubnetPrefix(receiver);
    for (const QString& line : localAddresses) {
        if (SubnetPrefix(line) == prefix)
            view.setOwnAddress(line);
    }
    return prefix;
}

bool CheckNetworkLink(NetworkLinkParts& parts) {
    parts.busy.showBusy(QStringLiteral("Netzwerk Verbindung wird geprüft"));
    bool result = false;
    bool failed = false;
    parts.view.showPage(1);
    const QString receiver = parts.view.receiverAddress();
    try {
        PingOutcome outcome;
        runWithoutUserInput([&] {
            if (parts.ping)
                outcome.result = parts.ping(receiver, kEchoTimeoutMs);
            else
                outcome = probeHost(receiver, kEchoTimeoutMs);
        });
        const std::int32_t rc = outcome.result;
        result = rc != -1 && rc != -2;
        // No way to send an echo could be opened: ICMP sockets closed to this user's group and
        // no system ping program.
        if (parts.log && rc == -2 && outcome.error == PingErrNoHandle)
            parts.log->WriteLogEntry(QStringLiteral("****** INFO: no ICMP echo could be sent. ") +
                                     echoHint() + QStringLiteral(" ******"));
        if (result) {
            try {
                parts.telnet.ResetTelnetClient();
                parts.telnet.setHost(receiver);
                parts.telnet.Connect();
                parts.telnet.Disconnect();
            } catch (...) {
                result = false;
                // Whatever got opened must not stay open behind a negative answer.
                try {
                    parts.telnet.Disconnect();
                } catch (...) {
                }
            }
        }
    } catch (...) {
        result = false;
        failed = true;
    }
    parts.busy.hideBusy();
    // Shown after the wait dialog has gone, so the box is not hidden behind it.
    if (failed)
        parts.dialogs.showMessage(QStringLiteral("Netzwerkstatus konnte nicht ermittelt werden"));
    chooseOwnAddress(parts.view, receiver,
                     parts.listAddresses ? parts.listAddresses() : QStringList());
    return result;
}
