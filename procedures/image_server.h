#pragma once
// The file server the receiver's boot loader fetches its image from, as the emergency image
// job sees it: start serving the one image to the receiver, stop, and news of the transfers
// on the UI thread. Served by our own TFTP server.
#include "net/privileged_port.h"
#include "net/tftp_server.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <string>

class ImageServer {
public:
    // The image, served under its file name to the receiver's address only.
    struct Serve {
        QString imagePath;
        qint64 size = -1; // bytes to serve; -1 = the file's size when the server starts
        QString receiverAddress;
        QString bindAddress; // this PC's address facing the receiver
    };

    struct News {
        QString fileName;
        QString client;
        std::uint64_t bytesSent = 0;
        std::uint64_t fileSize = 0;
        bool finished = false; // the transfer is over (success tells how)
        bool success = false;
        QString reason; // why a finished transfer failed, or why a request was refused
        // A request was refused (another address, another file name, a write): client is the
        // address, reason says why. Once per address per start().
        bool refused = false;
    };
    using NewsHandler = std::function<void(const News&)>;

    virtual ~ImageServer() = default;
    // Opens the image (its size is fixed then) and serves it. Empty on success, else the
    // reason: where the user can mend it, a sentence saying how, then the technical reason in
    // parentheses on a line of its own. A running server is stopped first.
    virtual QString start(const Serve& serve) = 0;
    virtual void stop() = 0;
    // Called on the UI thread for progress, for each transfer's end and for refused clients.
    virtual void setNewsHandler(NewsHandler handler) = 0;
};

// Our TFTP server on a fixed port (69 for a real receiver). Its thread's reports are posted
// to the thread that created this object.
//
// Shutdown order: the destructor stops the server (its thread joined) before the object that
// receives the posted reports goes, so no report can reach a dead handler.
class TftpImageServer : public ImageServer {
public:
    // helperPath: the port helper asked for the port where this program may not bind it.
    explicit TftpImageServer(std::uint16_t port = TTftpServer::kDefaultPort,
                             std::string helperPath = portHelperPath());
    ~TftpImageServer() override;

    QString start(const Serve& serve) override;
    void stop() override;
    void setNewsHandler(NewsHandler handler) override { m_handler = std::move(handler); }
    TTftpServer& server() { return m_server; }

private:
    void post(const News& news);

    std::uint16_t m_port;
    std::string m_helperPath;
    NewsHandler m_handler;
    QObject m_receiver; // lives on the creating thread; the posted reports run there
    TTftpServer m_server;
};
