#pragma once
// The network layer reports failures as exceptions carrying a German message text; callers
// catch ENetError (or std::exception) and show their own catalogue message.
#include <QString>

#include <stdexcept>

class ENetError : public std::runtime_error {
public:
    explicit ENetError(const QString& message)
        : std::runtime_error(message.toStdString()), m_message(message) {}
    const QString& message() const { return m_message; }

private:
    QString m_message;
};

// Any socket failure without a text of its own: "Socket-Fehler # <errno>" and the system's text.
class ESocketError : public ENetError {
public:
    explicit ESocketError(int error);
    int error() const { return m_error; }

private:
    int m_error;
};

// "Socket konnte nicht gebunden werden. Adresse und Port werden bereits benutzt."
class ECouldNotBindSocket : public ENetError {
public:
    using ENetError::ENetError;
};

// The system keeps the port for privileged programs (a port set below the unprivileged range).
class EBindNotPermitted : public ECouldNotBindSocket {
public:
    using ECouldNotBindSocket::ECouldNotBindSocket;
};

// "Verbindung besteht bereits."
class EAlreadyConnected : public ENetError {
public:
    using ENetError::ENetError;
};

// "Server antwortet nicht."
class ETelnetClientConnectError : public ENetError {
public:
    using ENetError::ENetError;
};

// "Die Verbindung wurde erfolgreich geschlossen."
class EConnClosedGracefully : public ENetError {
public:
    using ENetError::ENetError;
};
