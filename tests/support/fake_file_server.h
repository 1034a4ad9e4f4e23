#pragma once
// An HTTP file server that serves nothing: it keeps the location and addresses it is given,
// counts the resets, can refuse to start as a taken port does, and hands out the refused peers
// a test scripts. Calls that change its state go to journal as well when a test shares one
// list among several stand-ins.
#include "core/file_server_link.h"

#include <QStringList>

#include <stdexcept>
#include <utility>

class FakeFileServer : public FileServerLink {
public:
    void ResetToInitialSettings() override {
        ++resets;
        note(QStringLiteral("http reset"));
    }
    void Activate() override {
        note(QStringLiteral("http activate"));
        if (refuse)
            throw std::runtime_error("Socket konnte nicht gebunden werden.");
        active = true;
    }
    void StopAndRelease() override {
        note(QStringLiteral("http stop"));
        active = false;
    }
    void setServeLocation(const QString& drive, const QString& path) override {
        m_drive = drive;
        m_path = path;
    }
    QString servePath() const override { return m_path; }
    QString drive() const { return m_drive; }
    // What a request would be handed: drive and path joined, as the real server does.
    QString servedFile() const { return m_drive + m_path; }
    void setReceiverAddress(const QString& address) override {
        receiver = address;
        note(QStringLiteral("http receiver ") + address);
    }
    void setBindAddress(const QString& address) override {
        bindAddress = address;
        note(QStringLiteral("http bind ") + address);
    }
    std::uint16_t boundPort() const override { return active ? port : 0; }
    QStringList takeRefusedPeers() override { return std::exchange(refused, {}); }

    int resets = 0;
    bool active = false;
    bool refuse = false;
    QString receiver;
    QString bindAddress;
    std::uint16_t port = 40080;
    QStringList refused;
    QStringList* journal = nullptr;

private:
    void note(const QString& call) {
        if (journal)
            *journal << call;
    }

    QString m_drive;
    QString m_path;
};
