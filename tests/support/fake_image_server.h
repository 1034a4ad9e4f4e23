#pragma once
// The emergency image job's TFTP server for tests. Each call is recorded ("start" with the
// image, size, receiver and bind address; "stop"). On its own it answers a start with refusal
// and keeps the news handler for the test to call; given a real server it passes every call on,
// with the receiver's address replaced when a simulated client sends from another one.
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
