#pragma once
// Small helpers shared by the test programs: scratch folders and the source tree.
#include <QString>
#include <QStringList>

#include <functional>

namespace stbtest {

// A fresh empty folder under the system temp dir, removed when the object dies.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const QString& path() const { return m_path; }
    QString file(const QString& name) const { return m_path + QLatin1Char('/') + name; }

private:
    QString m_path;
};

// Root of the source tree (tests find their data files through it).
QString sourceDir();

// Keeps the event loop running until done() holds or timeoutMs have passed; returns done().
// Sleeps a millisecond between passes so an idle wait does not keep a core busy.
bool spinUntil(const std::function<bool()>& done, int timeoutMs = 10000);

// Runs a command-line tool to its end: its exit code (-1 when it crashed or could not start)
// and standard output. mtools are told not to check the image's geometry, as for a stick.
struct ToolRun {
    int exitCode = -1;
    QString output;
};
ToolRun runTool(const QString& program, const QStringList& args);

// Wraps payload in a legacy boot image at imagePath with mkimage (Debian u-boot-tools), a
// maker independent of ours: name "stbmate test", load 84000000, entry 84001000, and the
// architecture, type and compression options given. The image's bytes; empty on failure.
QByteArray makeBootImage(const QString& imagePath, const QByteArray& payload,
                         const QStringList& kind = {"-A", "sh", "-T", "kernel", "-C", "gzip"});

// True when the process may create network namespaces (root, unshare available).
bool canUseNetworkNamespaces();

} // namespace stbtest
