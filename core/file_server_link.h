#pragma once
// The HTTP file server as the installation job drives it; THTTPServer is the real one, tests
// of the job plug in their own.
#include <QString>
#include <QStringList>

class FileServerLink {
public:
    virtual ~FileServerLink() = default;
    // Back to port 80 on all addresses, serving the location below; stops the server first if
    // it is active. The location itself stays.
    virtual void ResetToInitialSettings() = 0;
    // While active, answer only this address (the receiver's); empty = everyone.
    virtual void setReceiverAddress(const QString& address) = 0;
    virtual void Activate() = 0;
    virtual void StopAndRelease() = 0;
    // The file every request receives: drive part + path part, joined as they are. Both empty
    // until set, and a request then gets the server's error answer. Safe to change while
    // connections are being served: each takes the location at its request.
    virtual void setServeLocation(const QString& drive, const QString& path) = 0;
    virtual QString serveDrive() const = 0;
    virtual QString servePath() const = 0;
    // Addresses that were turned away because they were not the receiver, each once, since the
    // last call; meant for the session log.
    virtual QStringList takeRefusedPeers() = 0;
};
