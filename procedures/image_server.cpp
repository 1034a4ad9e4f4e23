#include "procedures/image_server.h"

#include <QFile>
#include <QFileInfo>
#include <QMetaObject>

TftpImageServer::TftpImageServer(std::uint16_t port) : m_port(port) {
    m_server.setProgressHandler([this](const TTftpServer::Progress& p) {
        post({QString::fromStdString(p.fileName), QString::fromStdString(p.client), p.bytesSent,
              p.fileSize, false, false, QString()});
    });
    m_server.setFinishedHandler([this](const TTftpServer::Finished& f) {
        post({QString::fromStdString(f.fileName), QString::fromStdString(f.client), f.bytesSent,
              f.fileSize, true, f.success, QString::fromStdString(f.reason)});
    });
}

TftpImageServer::~TftpImageServer() {
    m_server.stop();
}

QString TftpImageServer::start(const Serve& serve) {
    const QString folder = QFileInfo(serve.imagePath).absolutePath();
    return QString::fromStdString(m_server.start(QFile::encodeName(folder).toStdString(),
                                                 serve.bindAddress.toStdString(), m_port));
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
