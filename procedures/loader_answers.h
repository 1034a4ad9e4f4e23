#pragma once
// What the receiver's boot loader answers on its console, read line by line: the lines that
// say a command or the image failed, the read-back of a variable it was given, and the lines
// by which it hands over to a booted image. Pure; the emergency image job feeds it the lines
// the console watcher completes.
#include <QString>

#include <optional>

// The loader's own line when it reports a failure (an unknown command, an unset variable, a
// failed or timed-out TFTP fetch, no network device, a damaged or foreign image, a reset);
// nullopt for any other line. The needles are the loader's own texts, compared as printed.
std::optional<QString> loaderFailure(const QString& line);

// True when line is the loader's answer to "printenv <name>" holding exactly value.
bool printsVariable(const QString& line, const QString& name, const QString& value);

// After bootm: the loader verifies the image, then hands over to it. Fed every line from the
// bootm command on; the first failure line or the hand-over after a verified checksum decides.
class BootWatch {
public:
    enum class Outcome { Pending, Started, Failed };

    Outcome feed(const QString& line);
    Outcome outcome() const { return m_outcome; }
    // The failure line once Failed; the last line with text otherwise (for a warning when the
    // loader falls silent).
    const QString& lastLine() const { return m_lastLine; }

private:
    bool m_verified = false;
    Outcome m_outcome = Outcome::Pending;
    QString m_lastLine;
};
