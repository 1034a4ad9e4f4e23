#pragma once
// An HTTP file server that serves nothing: it keeps the location it is given and counts the
// calls, for jobs that only touch the server in passing.
#include "core/file_server_link.h"

class FakeFileServer : public FileServerLink {
public:
    void ResetToInitialSettings() override { ++resets; }
    void Activate() override { active = true; }
    void StopAndRelease() override { active = false; }
    void setServeLocation(const QString& drive, const QString& path) override {
        m_drive = drive;
        m_path = path;
    }
    QString servePath() const override { return m_path; }
    // What a request would be handed: drive and path joined, as the real server does.
    QString servedFile() const { return m_drive + m_path; }
    void setReceiverAddress(const QString& address) override { receiver = address; }
    void setBindAddress(const QString& address) override { bindAddress = address; }
    std::uint16_t boundPort() const override { return active ? port : 0; }
    QStringList takeRefusedPeers() override { return {}; }

    int resets = 0;
    bool active = false;
    QString receiver;
    QString bindAddress;
    std::uint16_t port = 40080;

private:
    QString m_drive;
    QString m_path;
};
