#pragma once
// The telnet session as the network check and the installation procedure use it. TTelnetClient
// is the real one; tests of those callers plug in a scripted one.
#include <QString>

class TelnetLink {
public:
    virtual ~TelnetLink() = default;
    // Back to the initial settings (port 23, terminal "dumb", fresh negotiation state), closing
    // an open session first. The host and the data handler stay.
    virtual void ResetTelnetClient() = 0;
    virtual void setHost(const QString& host) = 0;
    // Opens the session to host, port 23. Throws EAlreadyConnected "Verbindung besteht
    // bereits." while a session is open, ETelnetClientConnectError "Server antwortet nicht." when
    // the host is unknown, refuses, is unreachable or does not answer in time.
    virtual void Connect() = 0;
    // True while the session is open; false once the receiver's close has been noticed.
    virtual bool Connected() const = 0;
    // Ends the session; harmless when none is open.
    virtual void Disconnect() = 0;
    // Sends line + CR LF, then waits SettleDelay + 15 ticks while events keep being handled.
    // Throws EConnClosedGracefully "Die Verbindung wurde erfolgreich geschlossen." when no
    // session is open or the write fails.
    virtual void SendTelnet(const QString& line) = 0;
    // Sends one character without waiting; CR goes out as a lone CR once the receiver has sent
    // any telnet command, as CR LF before that. Throws like SendTelnet.
    virtual void SendTelnetChar(char c) = 0;
};
