#pragma once
// Pasted text on its way to the receiver, paced so that a boot loader keeps up. A loader
// reads its line at 115200 baud without flow control and drops what arrives while it is busy
// (running the command it was just given, printing its output); only a small receive FIFO
// bridges that time. So the text goes out a character at a time, charDelay apart, and after
// each line's CR the next line waits until the receiver has echoed the line's end: its last
// character followed by CR or LF (for an empty line any CR or LF). A receiver that echoes
// nothing (a password prompt, a booted box) gets lineDelay per line instead.
//
// Pure and clock-driven: the owner calls take() at nextDue() and hands received() every byte
// the receiver sends, so tests run it against a simulated loader without a window.
#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

namespace terminal {

// The defaults are the settings file's; bench/terminal/paste_sweep measured them.
struct PasteTiming {
    int charDelayMs = 2;
    int lineDelayMs = 50;
};

class PastePacer {
public:
    using Clock = std::chrono::steady_clock;

    // What a typed Enter sends: CR LF and LF each become one CR; a CR stays.
    static std::string normalise(std::string_view text);
    // Lines in normalised text: its CRs, plus one for text after the last CR.
    static int lineCount(std::string_view normalised);

    // Starts a paste of normalised text, replacing one in progress.
    void start(std::string normalised, PasteTiming timing, Clock::time_point now);
    void cancel();
    bool active() const { return m_pos < m_text.size(); }
    // The bytes due at now (empty when nothing is): with no character delay the rest of the
    // current line at once, else one character.
    std::string take(Clock::time_point now);
    // When take() has something next; Clock::time_point::max() when idle.
    Clock::time_point nextDue() const;
    // Bytes the receiver sent, in order.
    void received(std::string_view bytes);
    // Lines whose end was echoed, and lines that went on after lineDelay without one.
    int echoedLines() const { return m_echoed; }
    int timedOutLines() const { return m_timedOut; }

private:
    std::string m_text;
    std::size_t m_pos = 0;
    PasteTiming m_timing;
    Clock::time_point m_due{};
    bool m_waitingForEcho = false;
    char m_lastOfLine = 0; // the line's last character before its CR; 0 for an empty line
    char m_previous = 0;   // the last byte received, as a line's end needs what came before
    char m_lastSent = 0;
    int m_echoed = 0;
    int m_timedOut = 0;
};

} // namespace terminal
