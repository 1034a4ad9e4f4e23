#pragma once
// How a job talks to the receiver, over the serial console and over a telnet session alike:
// it sends a command line or a few keys, waits while the window keeps working (the receiver's
// answer arrives meanwhile), asks whether a text has come, and reads the receiver's lines back
// through a tap. The jobs are written against this alone; the console and the telnet session
// implement it over their own watchers. UI thread only.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

class ReceiverChannel {
public:
    using LineHook = std::function<void(const QString& line)>;
    virtual ~ReceiverChannel() = default;

    // line and the line end the receiver's shell takes, then the answer wait: the user's
    // settle delay and answerTicks(). A failure of the link throws, before the wait.
    virtual void sendLine(const QString& line) = 0;
    // keys as they stand (Ctrl-C, Escape, vi's commands), no line end added and no wait.
    // Throws like sendLine.
    virtual void sendKeys(const QByteArray& keys) = 0;
    // Exactly ticks 55 ms ticks, events handled meanwhile; the settle delay is not added.
    virtual void waitTicks(int ticks) = 0;
    // The user's settle delay, in ticks, as it stands now.
    virtual int settleDelay() const = 0;
    // The fixed part of this channel's answer wait: the receiver's pace on this link.
    virtual int answerTicks() const = 0;

    // From now on seen(text) looks only at what arrives after this call. Call it before the
    // send whose answer is awaited.
    virtual void expect(const QString& text) = 0;
    // text has arrived since expect(text). Texts one of the channel's own watchers looks for
    // are answered by that watcher (its rules may be looser than equality); any other text is
    // looked for as the implementation says.
    virtual bool seen(const QString& text) const = 0;

    // Every line the receiver completes goes to the one hook in force; a job chains onto it
    // for a while through a LineTap and puts it back.
    virtual const LineHook& lineCompleted() const = 0;
    virtual void setLineCompleted(LineHook hook) = 0;

    // keys, then the answer wait.
    void type(const QByteArray& keys);
    // The settle delay plus fixedTicks (a huge delay is capped, a negative one counts 0).
    void wait(int fixedTicks);
    // True once done() holds, looking again after each answer wait until the waits' fixed
    // parts reach deadlineTicks; the settle delay comes on top of each wait.
    bool waitUntil(const std::function<bool()>& done, int deadlineTicks);
    bool awaitText(const QString& text, int deadlineTicks) {
        return waitUntil([&] { return seen(text); }, deadlineTicks);
    }
};

// The end of the boot loader's image fetch, as the serial console's watcher reports it; the
// loader is reached on the console alone, so only the console implements it.
class ImageFetchWatch {
public:
    virtual ~ImageFetchWatch() = default;
    // finished once the loader prints "Bytes transferred = " and sizeText, aborted at "bad
    // checksum". Empty hooks stop the watch.
    virtual void watchImageTransfer(const QString& sizeText, std::function<void()> finished,
                                    std::function<void()> aborted) = 0;
};

// Collects the lines a channel completes while it lives, passing each on to the hook that was
// in force (the session log on the console), which it puts back when it ends, also when a
// send throws.
class LineTap {
public:
    explicit LineTap(ReceiverChannel& channel);
    ~LineTap() { m_channel.setLineCompleted(m_previous); }
    LineTap(const LineTap&) = delete;
    LineTap& operator=(const LineTap&) = delete;

    using Hook = ReceiverChannel::LineHook;
    const QStringList& lines() const { return m_lines; }
    // Runs for each line after the hook in force has had it, so a job's reaction to a line
    // comes after the line in the log. It may end the tap's life.
    void setOnLine(Hook react) { m_onLine = std::move(react); }

private:
    ReceiverChannel& m_channel;
    Hook m_previous;
    Hook m_onLine;
    QStringList m_lines;
};
