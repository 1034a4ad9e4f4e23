#pragma once
// A stand-in for the receiver's boot loader on the serial console: a pseudo-terminal in raw
// mode that the program opens like a serial device. From the N-th carriage return on it echoes
// what it is sent and answers every line with its prompt "STB7100-REF> "; before that it stays
// silent, as a receiver does that has not reached its boot loader yet.
//
// Commands it knows:
//   setenv ipaddr A / setenv serverip B  recorded (setCommands()), nothing printed; "set" as
//                                        its abbreviation, as older loaders take it
//   printenv NAME                        "NAME=value", or the loader's "not defined" error
//   tftp a4000000 emergency.ub           a REAL TFTP read from serverip with busybox tftp
//                                        into "memory" (Options::tftpPort);
//                                        then "Bytes transferred = N (h hex)", or
//                                        "bad checksum" when Options::badChecksum is set
//   bootm a4000000                       recorded (bootCount()); the loader verifies and
//                                        starts the image, then falls silent
// Anything else: "Unknown command '...' - try 'help'".
//
// With Options::dropWhileBusy it reads as a real loader does at 115200 baud without flow
// control (BusyLoaderInput): it echoes each character as it takes it, runs a command for
// commandMs plus the time its output takes on the wire, and loses what arrives while it is
// busy and its 16-byte FIFO is full (droppedBytes()).
//
// Shutdown order (stop(), also run by the destructor): stop flag → wake the loader thread →
// join it (a running TFTP client is killed first) → close both ends of the pty.
#include "tests/sim/loader_line.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

#include <sys/types.h>

namespace stbsim {

class BootLoaderSimulator {
public:
    struct Options {
        int promptFromCr = 1;     // the first carriage return that gets an answer
        bool badChecksum = false; // report "bad checksum" after the transfer
        std::uint16_t tftpPort = 69;
        bool dropWhileBusy = false;
        int commandMs = 5; // a command's own run time, with dropWhileBusy
    };

    BootLoaderSimulator() = default;
    ~BootLoaderSimulator();
    BootLoaderSimulator(const BootLoaderSimulator&) = delete;
    BootLoaderSimulator& operator=(const BootLoaderSimulator&) = delete;

    // Opens the pty and starts the loader; false with *error set when that fails or busybox
    // (Debian busybox-static) is missing. Call once per object.
    bool start(const Options& options, QString* error);
    void stop();

    // Device path the program opens as its serial port.
    QString portPath() const { return m_serial.path(); }

    // "ipaddr 192.168.1.20", "serverip 192.168.1.2", in the order received.
    QStringList setCommands() const;
    int bootCount() const;
    int tftpCount() const;
    // What the last tftp command loaded; empty when it failed or none ran.
    QByteArray loadedImage() const;
    // Every line the program sent (without its carriage return), answered or not.
    QStringList linesReceived() const;
    // Everything the loader printed.
    QByteArray sentToProgram() const;
    bool waitForOutput(const QByteArray& text, int timeoutMs, qsizetype from = 0) const;
    // Bytes lost to a full FIFO (dropWhileBusy only).
    std::size_t droppedBytes() const;

private:
    void loop();
    void loopDroppingWhileBusy();
    // One byte as the busy-dropping loader takes it; returns how long that keeps it busy.
    std::chrono::microseconds takeByte(char c);
    void finishLine(); // the line's CR: record it, answer it
    void handleLine(const QString& line);
    void print(const QByteArray& text);
    void fetch(const QString& fileName);

    Options m_options;
    QString m_scratch;
    LoaderLine m_serial;
    std::atomic<bool> m_stop{false};
    std::atomic<pid_t> m_clientPid{-1};
    std::thread m_thread;

    // Loader thread only.
    int m_crCount = 0;
    bool m_booted = false;
    QByteArray m_line;
    QString m_serverIp;
    QMap<QString, QString> m_env;

    mutable std::mutex m_mutex; // guards everything below
    QStringList m_setCommands;
    QStringList m_lines;
    QByteArray m_image;
    std::size_t m_dropped = 0;
    int m_bootCount = 0;
    int m_tftpCount = 0;
};

} // namespace stbsim
