#pragma once
// The response watcher's pure core: every received console byte goes through feed(); it
// keeps RxLine (printable characters since the last CR, at most 255), raises the Seen flags
// and reports completed lines and the two image-transfer hooks through callbacks.
#include "core/control_filter.h"

#include <QByteArray>
#include <QString>

#include <functional>

class ResponseWatcher {
public:
    struct Hooks {
        // At each CR, also when empty: the text since the last CR (at most kMaxLine), however
        // often RxLine was emptied meanwhile, with TAB kept and escape sequences taken out.
        std::function<void(const QString& line)> lineCompleted;
        // "Bytes transferred = " + ImageSizeText as the whole number; never while the size
        // text is empty. Once per report.
        std::function<void()> finishImageTransfer;
        std::function<void()> abortImageTransfer; // "bad checksum", once per occurrence
    };

    void setHooks(Hooks hooks) { m_hooks = std::move(hooks); }
    // The hooks in force, so a caller can chain onto one for a while and put it back.
    const Hooks& hooks() const { return m_hooks; }
    // Single-hook setters, so the emergency-image job can connect its two hooks without
    // disturbing the line logging that the console link installed.
    void setLineCompleted(std::function<void(const QString&)> hook) {
        m_hooks.lineCompleted = std::move(hook);
    }
    void setFinishImageTransfer(std::function<void()> hook) {
        m_hooks.finishImageTransfer = std::move(hook);
    }
    void setAbortImageTransfer(std::function<void()> hook) {
        m_hooks.abortImageTransfer = std::move(hook);
    }

    // One received byte, in arrival order. Printable bytes (0x20..0x7E) extend RxLine (a 256th
    // character is dropped) and then run the four flag tests on RxLine; the two hooks fire
    // only for a character that entered RxLine and completed their text (for the byte count:
    // the first non-digit after it, or the CR ending its line). CR hands the whole line to
    // lineCompleted and clears RxLine; every other byte is ignored. Hooks may re-enter feed()
    // (nested event handling).
    void feed(char byte);
    static constexpr int kMaxLine = 255;

    QString RxLine;
    bool SeenStartScript = false;
    bool SeenIfconfig = false;
    bool SeenConfigPrompt = false;
    bool SeenHello = false;
    QString ImageSizeText; // decimal size of the emergency image; empty until set

    // The Seen flag raised when text shows up in RxLine, for the four texts the flags stand
    // for ("start.sh", "ifconfig", "/config #", "hello"); nullptr for any other text.
    using Flag = bool ResponseWatcher::*;
    static Flag seenFlag(QStringView text);

private:
    bool endsWithImageSize(QStringView text) const;
    // Which needles RxLine holds (one bit each), known for its first m_scannedLength
    // characters. A character appended since only adds matches ending at it. RxLine is
    // public, but others only empty it, which shows as another length: scanned afresh.
    unsigned heldNeedles();

    // The line as received, for lineCompleted: jobs empty RxLine before each command, also in
    // the middle of a line the receiver is still printing.
    QString m_wholeLine;
    ControlFilter m_logFilter;
    unsigned m_found = 0;
    qsizetype m_scannedLength = 0;

    Hooks m_hooks;
};
