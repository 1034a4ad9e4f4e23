#pragma once
// The emergency image job's TFTP server for tests. Each call is recorded ("start" with the
// image, size, receiver and bind address; "stop"). On its own it answers a start with refusal
// (empty: started) and keeps the news handler for the test to call. Given a real server it
// passes every call on, the receiver's address replaced by receiverAs: a simulated boot loader
// sends from another address than the one the job gave it.
#include "procedures/image_server.h"

#include <QStringList>

#include <utility>

class FakeImageServer : public ImageServer {
public:
    FakeImageServer() = default;
    FakeImageServer(ImageServer& real, QString receiverAs)
        : m_real(&real), m_receiverAs(std::move(receiverAs)) {}

    QString start(const Serve& serve) override {
        calls << QStringList{"start", serve.imagePath, QString::number(serve.size),
                             serve.receiverAddress, serve.bindAddress}
                     .join(' ');
        if (!m_real)
            return refusal;
        Serve passed = serve;
        passed.receiverAddress = m_receiverAs;
        return m_real->start(passed);
    }
    void stop() override {
        calls << "stop";
        if (m_real)
            m_real->stop();
    }
    void setNewsHandler(NewsHandler h) override {
        if (m_real)
            m_real->setNewsHandler(std::move(h));
        else
            handler = std::move(h);
    }

    QString refusal;
    QStringList calls;
    NewsHandler handler;

private:
    ImageServer* m_real = nullptr;
    QString m_receiverAs;
};
