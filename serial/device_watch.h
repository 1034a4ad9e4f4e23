#pragma once
// TDeviceWatch: tells when entries of a device folder come, go or change their permissions.
// One inotify reader for every part that waits on devices: the replug of a lost adapter and
// the port list that follows adapters being plugged in. A watch that cannot be set up (no
// such folder, inotify exhausted) stays silent; its users poll as well where they must.
//
// UI thread only. The destructor closes the descriptor.
#include "core/posix_io.h"

#include <QObject>
#include <QString>

#include <cstdint>

class QSocketNotifier;

class TDeviceWatch : public QObject {
    Q_OBJECT
public:
    explicit TDeviceWatch(QObject* parent = nullptr) : QObject(parent) {}
    ~TDeviceWatch() override;

    // Watches folder for the inotify events in mask (IN_CREATE, IN_DELETE, ...), replacing
    // any earlier watch. False when the watch could not be set up.
    bool watch(const QString& folder, std::uint32_t mask);
    void stop();
    bool watching() const { return m_inotify.valid(); }

signals:
    // One or more events arrived; they are read and dropped, users look again themselves.
    void changed();

private:
    UniqueFd m_inotify;
    QSocketNotifier* m_notifier = nullptr; // child
};
