#include "tests/support/test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QUuid>

#include <unistd.h>

namespace stbtest {

ScratchDir::ScratchDir() {
    m_path = QDir::tempPath() + QStringLiteral("/stbmate-test-") +
             QUuid::createUuid().toString(QUuid::WithoutBraces);
    QDir().mkpath(m_path);
}

ScratchDir::~ScratchDir() {
    QDir(m_path).removeRecursively();
}

QString sourceDir() {
    const QByteArray env = qgetenv("STBMATE_SOURCE_DIR");
    return env.isEmpty() ? QDir::currentPath() : QString::fromLocal8Bit(env);
}

bool spinUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

bool canUseNetworkNamespaces() {
    return geteuid() == 0 && !QStandardPaths::findExecutable(QStringLiteral("unshare")).isEmpty();
}

ToolRun runTool(const QString& program, const QStringList& args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MTOOLS_SKIP_CHECK"), QStringLiteral("1"));
    p.setProcessEnvironment(env);
    p.start(program, args);
    p.waitForFinished(-1);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromLocal8Bit(p.readAllStandardOutput())};
}

QByteArray makeBootImage(const QString& imagePath, const QByteArray& payload,
                         const QStringList& kind) {
    const QString data = imagePath + QStringLiteral(".data");
    QFile file(data);
    if (!file.open(QIODevice::WriteOnly) || file.write(payload) != payload.size())
        return QByteArray();
    file.close();
    const ToolRun run =
        runTool(QStringLiteral("mkimage"),
                kind + QStringList{"-O", "linux", "-a", "84000000", "-e", "84001000", "-n",
                                   "stbmate test", "-d", data, imagePath});
    QFile::remove(data);
    QFile image(imagePath);
    return run.exitCode == 0 && image.open(QIODevice::ReadOnly) ? image.readAll() : QByteArray();
}

} // namespace stbtest
