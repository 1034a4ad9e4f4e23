#include "net/privilege_hint.h"

#include <QFileInfo>

QString PrivilegeHint(const QString& programPath) {
    return QStringLiteral("Abhilfe: einmal \"sudo setcap cap_net_bind_service,cap_net_raw+ep %1\" "
                          "ausführen oder stbmate aus einer root-Shell starten.")
        .arg(programPath);
}

QString PrivilegeHintForThisProgram() {
    const QString real = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    return PrivilegeHint(real.isEmpty() ? QStringLiteral("stbmate") : real);
}
