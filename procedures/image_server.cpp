#include "procedures/image_server.h"

#include "net/privileged_port.h"

#include <QFile>
#include <QFileInfo>
#include <QMetaObject>

namespace {

// What a running and a finished transfer both tell.
template <typename Report> ImageServer::News transferNews(const Report& report) {
    ImageServer::News news;
    news.fileName = QString::fromStdString(report.fileName);
    news.client = QString::fromStdString(report.client);
    news.bytesSent = report.bytesSent;
    news.fileSize = report.fileSize;
    return news;
}

} // namespace

TftpImageServer::TftpImageServer(std::uint16_t port, std::string helperPath)
    : m_port(port), m_helperPath(std::move(helperPath)) {
    m_server.setProgressHandler([this](const TTftpServer::Progress& p) { post(transferNews(p)); });
    m_server.setFinishedHandler([this](const TTftpServer::Finished& f) {
        News news = transferNews(f);
        news.finished = true;
        news.success = f.success;
        news.reason = QString::fromStdString(f.reason);
        post(news);
    });
    m_server.setRefusedHandler([this](const TTftpServer::Refused& r) {
        News news;
        news.client = QString::fromStdString(r.client);
        news.reason = QString::fromStdString(r.reason);
        news.refused = true;
        post(news);
    });
}

TftpImageServer::~TftpImageServer() {
    m_server.stop();
}

QString TftpImageServer::start(const Serve& serve) {
    const TTftpServer::Serve served{
        QFile::encodeName(serve.imagePath).toStdString(),
        QFile::encodeName(QFileInfo(serve.imagePath).fileName()).toStdString(), serve.size,
        serve.receiverAddress.toStdString()};
    // The port is free again before it is asked for anew, and only a job's own start binds it.
    m_server.stop();
    // The program carries no privilege: where it may not bind port 69 itself, the small
    // helper binds it and hands the socket over.
    PrivilegedUdpPort port =
        openPrivilegedUdpPort(serve.bindAddress.toStdString(), m_port, m_helperPath);
    if (!port.fd.valid())
        return port.advice.empty()
                   ? QString::fromStdString(port.reason)
                   : QString::fromStdString(port.advice + "\n(" + port.reason + ")");
    return QString::fromStdString(m_server.start(served, std::move(port.fd)));
}

void TftpImageServer::stop() {
    m_server.stop();
}

void TftpImageServer::post(const News& news) {
    // Server thread: only the queued call crosses over; the handler runs on m_receiver's.
    QMetaObject::invokeMethod(
        &m_receiver,
        [this, news] {
            if (m_handler)
                m_handler(news);
        },
        Qt::QueuedConnection);
}
