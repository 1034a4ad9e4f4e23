#pragma once
// A real boot loader on the serial console: Debian's unchanged U-Boot for QEMU's virt board
// (packages qemu-system-arm and u-boot-qemu), its console relayed to a pseudo-terminal that the
// program opens as its serial port. The relay shows the loader's prompt "=> " (at the start of
// a line) as "STB7100-REF> " and passes everything else through unchanged.
//
// QEMU starts when the program sends its first carriage return, so the loader's 2 s autoboot
// count falls inside the program's prompt hunt and is stopped by one of its later returns.
// With Options::tap the board's network device (virtio) sits on that tap device, which the
// test has made and given the PC side's address; without it the board has no network device
// at all (-nic none).
//
// Shutdown order (stop(), also run by the destructor): stop flag → wake the relay thread →
// join it → kill QEMU and reap it → close the socket and the pty.
#include "tests/sim/loader_line.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <sys/types.h>

namespace stbsim {

class QemuBootLoader {
public:
    using Clock = std::chrono::steady_clock;

    struct Options {
        QString tap; // empty: a board without a network device
    };

    QemuBootLoader() = default;
    ~QemuBootLoader();
    QemuBootLoader(const QemuBootLoader&) = delete;
    QemuBootLoader& operator=(const QemuBootLoader&) = delete;

    // Opens the pty and starts the relay; false with *error set when the pty fails or QEMU or
    // the loader is not installed. Call once per object.
    bool start(const Options& options, QString* error);
    void stop();

    QString portPath() const { return m_serial.path(); }
    // True once QEMU has been started; the reason when its start failed.
    bool qemuStarted() const;
    QString qemuError() const;
    // Every line the program typed (without its carriage return), in order.
    QStringList linesTyped() const;
    // When the program finished typing line (its first occurrence).
    std::optional<Clock::time_point> whenTyped(const QString& line) const;
    // Everything relayed to the program, the prompt already replaced.
    QByteArray consoleOutput() const;
    bool waitForOutput(const QByteArray& text, int timeoutMs) const;

private:
    void relay();
    void fromProgram(const char* data, ssize_t size);
    void toProgram(const char* data, ssize_t size);
    void flushHeld();
    void writeToProgram(const QByteArray& bytes);
    void startQemu();

    Options m_options;
    LoaderLine m_serial;
    int m_console = -1; // our end of QEMU's serial console (its stdin and stdout)
    pid_t m_qemu = -1;  // relay thread only, until it is joined
    std::atomic<bool> m_stop{false};
    std::thread m_thread;

    // Relay thread only.
    QByteArray m_typing; // the line the program is typing
    QByteArray m_held;   // a possible prompt begun at a line's start
    bool m_lineStart = true;

    mutable std::mutex m_mutex; // guards everything below
    bool m_started = false;
    QString m_qemuError;
    std::vector<std::pair<QString, Clock::time_point>> m_typed;
};

// Builds folder/emergency.ub, a multi-file boot image this loader starts: a small ARM program
// that writes kMarker to the board's UART and then idles, a ramdisk part, and the board's own
// device tree (a plain kernel image is refused by this loader without one). Assembled with
// binutils-arm-none-eabi, packed with mkimage. The path, or empty with *error set.
QString MakeMarkerImage(const QString& folder, QString* error);
inline constexpr char kMarker[] = "stbmate marker image running";

} // namespace stbsim
