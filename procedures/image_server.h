#pragma once
// The file server the receiver's boot loader fetches its image from, as the emergency image
// job sees it: start on a folder, stop, and news of the transfers on the UI thread. Served by
// our own TFTP server.
#include "net/tftp_server.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>

class ImageServer {
public:
    struct News {
        QString fileName;
        QString client;
        std::uint64_t bytesSent = 0;
        std::uint64_t fileSize = 0;
        bool finished = false; // the transfer is over (success tells how)
        bool success = false;
        QString reason;       // why a finished transfer failed, or why a request was refused
        bool refused = false; // a request refused (another host, another name)
    };
    using NewsHandler = std::function<void(const News&)>;

    struct Serve {
        QString imagePath;       // the one file served, under its own name
        qint64 size = -1;        // bytes served; -1: the file's size when the server starts
        QString receiverAddress; // the only host served
        QString bindAddress;     // our own address on the receiver's subnet
    };

    virtual ~ImageServer() = default;
    // Empty on success, else the reason.
    virtual QString start(const Serve& serve) = 0;
    virtual void stop() = 0;
    // Called on the UI thread for progress and for each transfer's end.
    virtual void setNewsHandler(NewsHandler handler) = 0;
};

// Our TFTP server on a fixed port (69 for a real receiver). Its thread's reports are posted
// to the thread that created this object.
//
// Shutdown order: the destructor stops the server (its thread joined) before the object that
// receives the posted reports goes, so no report can reach a dead handler.
class TftpImageServer : public ImageServer {
public:
    explicit TftpImageServer(std::uint16_t port = TTftpServer::kDefaultPort);
    ~TftpImageServer() override;

    QString start(const Serve& serve) override;
    void stop() override;
    void setNewsHandler(NewsHandler handler) override { m_handler = std::move(handler); }
    TTftpServer& server() { return m_server; }

private:
    void post(const News& news);

    std::uint16_t m_port;
    NewsHandler m_handler;
    QObject m_receiver; // lives on the creating thread; the posted reports run there
    TTftpServer m_server;
};
