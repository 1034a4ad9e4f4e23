#pragma once
// The HTTP file server as the installation job drives it; THTTPServer is the real one, tests
// of the job plug in their own.
#include <QString>
#include <QStringList>

#include <cstdint>

class FileServerLink {
public:
    virtual ~FileServerLink() = default;
    // Back to a free port the system chooses, on all addresses, serving the location below;
    // stops the server first if it is active. The location itself stays. No fixed port: the
    // job types the port into the receiver's download command, so nothing needs a privilege.
    virtual void ResetToInitialSettings() = 0;
    // From the next activation on, listen on this dotted IPv4 address only (the own address
    // on the receiver's network); empty = all addresses.
    virtual void setBindAddress(const QString& address) = 0;
    // The port listened on while active; 0 while inactive.
    virtual std::uint16_t boundPort() const = 0;
    // While active, answer only this address (the receiver's); empty = everyone.
    virtual void setReceiverAddress(const QString& address) = 0;
    virtual void Activate() = 0;
    virtual void StopAndRelease() = 0;
    // The file every request receives: drive part + path part, joined as they are. Both empty
    // until set, and a request then gets the server's error answer. Safe to change while
    // connections are being served: each takes the location at its request.
    virtual void setServeLocation(const QString& drive, const QString& path) = 0;
    virtual QString servePath() const = 0;
    // Addresses that were turned away because they were not the receiver, each once, since the
    // last call; meant for the session log.
    virtual QStringList takeRefusedPeers() = 0;
};
