#pragma once
// The real udisks daemon for one test, without touching this machine's own: a mount and
// network namespace with tmpfs over /run, /media and /var/lib, a /dev of its own holding only
// null, zero, full, random, urandom, loop-control and the loop nodes, a private system bus
// (the system bus configuration with our own socket, run as root), systemd-udevd (udisks
// lists only what udev recorded) and udisksd. Block objects are made with udisksctl
// loop-setup on image files. Needs root; address() is empty when the daemon did not come up.
//
// Shutdown: SIGTERM to the namespace's shell, which ends the daemons it started and waits.
#include <QProcess>
#include <QString>
#include <QStringList>

#include "tests/support/test_support.h"

class RealUdisks {
public:
    RealUdisks();
    ~RealUdisks();
    RealUdisks(const RealUdisks&) = delete;
    RealUdisks& operator=(const RealUdisks&) = delete;

    const QString& address() const { return m_address; }
    // The daemon's own output so far, for a failing test's message.
    QString output();
    // udisksctl loop-setup -f image: the loop device's path, empty on failure.
    QString loopSetup(const QString& image);
    void loopDelete(const QString& device);

private:
    // Runs udisksctl on our bus; its output, empty when it failed.
    QString udisksctl(const QStringList& args);

    stbtest::ScratchDir m_dir;
    QProcess m_rig;
    QString m_address;
    QString m_output;
};
