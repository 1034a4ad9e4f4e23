#pragma once
// A stand-in for the receiver at the far end of the serial cable: a real busybox shell and vi
// inside a throw-away chroot, on a pseudo-terminal in cooked mode with echo, as a serial
// console behind a getty would be. The program under test opens portPath() like any serial
// device; a relay thread copies bytes between that "cable" pty and the shell's own pty.
//
// The chroot holds /bin (busybox and its applet links), /sbin (stubs for ifconfig and insmod
// that only record their arguments), /config, /app, /data, /tmp, /root and /dev (null, tty).
// The shell also runs in a network namespace of its own, so nothing it does can reach the
// machine's network even if a stub were bypassed.
//
// Needs root (chroot, mknod, namespaces) and Debian's busybox-static: start() fails with a
// message saying which is missing.
//
// Shutdown order (stop(), also run by the destructor): kill the shell's whole process group
// and reap it → set the stop flag and wake the relay → join the relay → close the ptys →
// remove the chroot folder.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/types.h>

#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

namespace stbsim {

class ReceiverSimulator {
public:
    struct Options {
        // false: nothing answers on the line (receiver off, cable unplugged).
        bool withShell = true;
        // Working directory the shell starts in, inside the chroot.
        QString startDir = QStringLiteral("/");
        // false: there is no /config at all, so "cd /config" fails.
        bool withConfigDir = true;
        // Files put into /config before the shell starts: name → contents (mode 644).
        std::map<QString, QByteArray> configFiles;
        // true: /config is mounted read-only for the shell (root cannot write there either).
        bool readOnlyConfig = false;
        // Rows of the shell's terminal; vi's screen is this many rows.
        int rows = 24;
        int columns = 80;
    };

    ReceiverSimulator() = default;
    ~ReceiverSimulator();
    ReceiverSimulator(const ReceiverSimulator&) = delete;
    ReceiverSimulator& operator=(const ReceiverSimulator&) = delete;

    // Builds the chroot, starts the shell and waits (up to 5 s) for its first prompt.
    // Returns false with *error set when not root, busybox is missing, or the shell did not
    // come up; everything half-built is removed again. Call once per object.
    bool start(const Options& options, QString* error);
    // Idempotent; see the shutdown order above.
    void stop();

    // Device path the program opens as its serial port (a pty slave, raw mode).
    QString portPath() const { return m_portPath; }
    // Host path of the chroot folder (empty before start / after stop).
    QString rootPath() const { return m_root; }

    // Contents of /config/<name>, std::nullopt when there is no such regular file.
    std::optional<QByteArray> configFile(const QString& name) const;
    // Permission bits (e.g. 0755) of /config/<name>, std::nullopt when missing.
    std::optional<int> configFileMode(const QString& name) const;
    // Names in /config, sorted.
    QStringList configListing() const;
    // One entry per run of the stub ("ifconfig" or "insmod"): its arguments joined by blanks.
    QStringList stubCalls(const QString& stub) const;

    // Runs /config/start.sh as the receiver would at boot (in the chroot, a network
    // namespace of its own, the stubs in place) and returns the stub calls of that run for
    // stub, e.g. {"eth0 192.168.1.50"} for "ifconfig". Empty when it could not run.
    QStringList runStartScript(const QString& stub) const;

    // Every byte the program has sent down the cable so far.
    QByteArray receivedFromProgram() const;
    // Every byte the shell has written to the cable so far.
    QByteArray sentToProgram() const;
    // Waits until sentToProgram() contains text after byte offset `from`; false on timeout.
    bool waitForOutput(const QByteArray& text, int timeoutMs, qsizetype from = 0) const;

private:
    bool buildRoot(const Options& options, QString* error);
    bool startShell(const Options& options, QString* error);
    void relayLoop();
    void removeRoot();

    QString m_root;
    QString m_portPath;
    int m_shellMaster = -1; // the shell's console, our side
    int m_cableMaster = -1; // the cable, our side
    int m_cableSlave = -1;  // held open so the cable never hangs up between program opens
    int m_wakeFd = -1;
    pid_t m_shellPid = -1;
    bool m_withShell = true;
    std::atomic<bool> m_stop{false};
    std::thread m_relay;

    mutable std::mutex m_mutex; // guards the two transcripts
    QByteArray m_fromProgram;
    QByteArray m_toProgram;
};

} // namespace stbsim
