#include "net/privilege_hint.h"

#include "net/privileged_port.h"

QString PortHelperHint(const QString& helperPath) {
    return QStringLiteral("Abhilfe: einmal \"%1\" ausführen.")
        .arg(QString::fromStdString(PortHelperGrantCommand(helperPath.toStdString())));
}

QString PortHelperHintForThisProgram() {
    return PortHelperHint(QString::fromStdString(PortHelperPath()));
}

QString EchoHint() {
    return QStringLiteral("Abhilfe: das Paket iputils-ping installieren (/usr/bin/ping) oder "
                          "ICMP-Sockets für die eigene Gruppe freigeben "
                          "(sysctl net.ipv4.ping_group_range).");
}
