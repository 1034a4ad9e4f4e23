#pragma once
// The serial port's failures. Each carries a negative code and an English message text; the
// application's standard error box shows the text. Callers in this program let them pass,
// except the serial check, which turns any of them into "not connected".
#include <QString>

#include <stdexcept>

// A port error names the device it is about, so a user with several adapters knows which.
inline QString portErrorText(const QString& text, const QString& path) {
    return path.isEmpty() ? text : text + QStringLiteral(": ") + path;
}

class EPortException : public std::runtime_error {
public:
    // A code without an entry of its own gets the generic text "Port exception".
    explicit EPortException(int code, const QString& message = QStringLiteral("Port exception"))
        : std::runtime_error(message.toStdString()), m_code(code), m_message(message) {}
    int code() const { return m_code; }
    const QString& message() const { return m_message; }

private:
    int m_code;
    QString m_message;
};

// The device does not exist (no such file, not a character device behind it).
// path: the device asked for, named in the message when known.
class EBadId : public EPortException {
public:
    explicit EBadId(const QString& path = QString())
        : EPortException(-2001,
                         portErrorText(QStringLiteral("Specified comport doesn't exist"), path)) {}
};

// Another program (or another port object) holds the device.
class EAlreadyOpen : public EPortException {
public:
    explicit EAlreadyOpen(const QString& path = QString())
        : EPortException(-2008, portErrorText(QStringLiteral("Device already open"), path)) {}
};

// No port configured and the user cancelled the port choice.
class ENoPortSelected : public EPortException {
public:
    ENoPortSelected()
        : EPortException(
              -2011, QStringLiteral("The ComNumber property of the TComPort has not been set")) {}
};

// Any other operating-system failure; code is minus the errno value.
class EInOutError : public EPortException {
public:
    EInOutError(int errnoValue, const QString& message) : EPortException(-errnoValue, message) {}
};

// A single write larger than the free room in the output ring.
class EOutputBufferTooSmall : public EPortException {
public:
    EOutputBufferTooSmall()
        : EPortException(-3006, QStringLiteral("Output buffer too small for block")) {}
};

// ReadChar with no unread byte left.
class EBufferIsEmpty : public EPortException {
public:
    EBufferIsEmpty() : EPortException(-3007, QStringLiteral("Buffer is empty")) {}
};
