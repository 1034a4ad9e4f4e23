#include "net/privilege_hint.h"

#include "net/privileged_port.h"

QString portHelperHint(const QString& helperPath) {
    return QStringLiteral("Abhilfe: einmal \"%1\" ausführen.")
        .arg(QString::fromStdString(portHelperGrantCommand(helperPath.toStdString())));
}

QString portHelperHintForThisProgram() {
    return portHelperHint(QString::fromStdString(portHelperPath()));
}

QString echoHint() {
    return QStringLiteral("Abhilfe: das Paket iputils-ping installieren (/usr/bin/ping) oder "
                          "ICMP-Sockets für die eigene Gruppe freigeben "
                          "(sysctl net.ipv4.ping_group_range).");
}
