#pragma once
// Starting an outside program without waiting for it, behind a seam so a test can make the
// start fail.
#include <QString>
#include <QStringList>

class ProcessStarter {
public:
    virtual ~ProcessStarter() = default;
    // Starts program detached; false when it could not be started (not found, not
    // executable). Never throws.
    virtual bool startDetached(const QString& program, const QStringList& arguments) = 0;
};

// The channel list editor: "SatChannelListEditor" beside the program file, else on PATH.
// Empty when neither exists.
QString findChannelListEditor(const QString& programDir);

// The real starter: QProcess::startDetached.
class DetachedProcessStarter : public ProcessStarter {
public:
    bool startDetached(const QString& program, const QStringList& arguments) override;
};
