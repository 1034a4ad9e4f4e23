#pragma once
// Where console bytes go. The real one queues on the serial port and may throw an
// EPortException (open failure, vanished device); tests record what was written.
#include <QByteArray>

class ConsolePort {
public:
    virtual ~ConsolePort() = default;
    virtual void WriteText(const QByteArray& bytes) = 0;
};
