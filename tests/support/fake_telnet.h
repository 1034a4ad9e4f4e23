#pragma once
// A telnet session for tests. Every call is recorded in calls, and in journal when a test
// shares one list among several stand-ins to see the order of all their calls. The connect
// can be refused, the session can fail to open or close under a send, and onLine plays the
// receiver's answer to a line.
#include "core/telnet_link.h"
#include "net/net_errors.h"

#include <QStringList>

#include <functional>

class FakeTelnet : public TelnetLink {
public:
    void ResetTelnetClient() override {
        note(QStringLiteral("telnet reset"));
        open = false;
    }
    void setHost(const QString& host) override { note(QStringLiteral("host ") + host); }
    void Connect() override {
        note(QStringLiteral("connect"));
        if (refuse)
            throw ETelnetClientConnectError(QStringLiteral("Server antwortet nicht."));
        open = stayOpen;
    }
    bool Connected() const override { return open; }
    void Disconnect() override {
        note(QStringLiteral("disconnect"));
        open = false;
    }
    void SendTelnet(const QString& line) override {
        failIfClosed(line);
        note(QStringLiteral("line ") + line);
        if (onLine)
            onLine(line);
    }
    void SendTelnetChar(char c) override {
        failIfClosed(QString(QLatin1Char(c)));
        note(QStringLiteral("char %1").arg(int(static_cast<unsigned char>(c))));
    }

    QStringList calls;
    QStringList* journal = nullptr;
    bool refuse = false;
    bool stayOpen = true; // false: the connect returns, but the session is not open
    QString failOn;       // a send of exactly this text fails as a closed session does
    bool open = false;
    std::function<void(const QString&)> onLine;

private:
    void note(const QString& call) {
        calls << call;
        if (journal)
            *journal << call;
    }
    void failIfClosed(const QString& sent) {
        if (!open || sent == failOn)
            throw EConnClosedGracefully(
                QStringLiteral("Die Verbindung wurde erfolgreich geschlossen."));
    }
};
