#pragma once
// The response watcher's pure core: every received console byte goes through feed(); it
// keeps RxLine (printable characters since the last CR, at most 255), raises the Seen flags
// and reports completed lines and the two image-transfer hooks through callbacks.
#include <QByteArray>
#include <QString>

#include <functional>

class ResponseWatcher {
public:
    struct Hooks {
        std::function<void(const QString& line)> lineCompleted; // at each CR, also when empty
        std::function<void()> finishImageTransfer;              // "Bytes transferred = " + size
        std::function<void()> abortImageTransfer;               // "bad checksum"
    };

    void setHooks(Hooks hooks) { m_hooks = std::move(hooks); }
    void feed(char byte);

    QString RxLine;
    bool SeenStartScript = false;
    bool SeenIfconfig = false;
    bool SeenConfigPrompt = false;
    bool SeenHello = false;
    QString ImageSizeText; // decimal size of the emergency image; empty until set

private:
    Hooks m_hooks;
};
