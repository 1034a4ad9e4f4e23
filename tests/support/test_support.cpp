#include "tests/support/test_support.h"

#include <QDir>
#include <QTemporaryDir>
#include <QStandardPaths>
#include <QUuid>

#include <unistd.h>

namespace stbtest {

ScratchDir::ScratchDir() {
    m_path = QDir::tempPath() + QStringLiteral("/stbmate-test-") +
             QUuid::createUuid().toString(QUuid::WithoutBraces);
    QDir().mkpath(m_path);
}

ScratchDir::~ScratchDir() { QDir(m_path).removeRecursively(); }

QString sourceDir() {
    const QByteArray env = qgetenv("STBMATE_SOURCE_DIR");
    return env.isEmpty() ? QDir::currentPath() : QString::fromLocal8Bit(env);
}

bool canUseNetworkNamespaces() {
    return geteuid() == 0 && !QStandardPaths::findExecutable(QStringLiteral("unshare")).isEmpty();
}

} // namespace stbtest
