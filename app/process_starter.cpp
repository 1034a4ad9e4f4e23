#include "app/process_starter.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

QString findChannelListEditor(const QString& programDir) {
    const QString name = QStringLiteral("SatChannelListEditor");
    const QFileInfo beside(programDir + QLatin1Char('/') + name);
    if (beside.isFile() && beside.isExecutable())
        return beside.absoluteFilePath();
    return QStandardPaths::findExecutable(name);
}

bool DetachedProcessStarter::startDetached(const QString& program, const QStringList& arguments) {
    return QProcess::startDetached(program, arguments);
}
