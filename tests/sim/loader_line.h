#pragma once
// The serial line as the boot-loader stand-ins hold it: a raw pseudo-terminal the program opens
// as its port (the far end held open, so the line never hangs up between the program's opens),
// a wake-up for the stand-in's own thread, and a record of everything sent to the program.
// Shutdown: the owner wakes and joins its thread before close().
#include <QByteArray>
#include <QString>

#include <atomic>
#include <mutex>

namespace stbsim {

class LoaderLine {
public:
    LoaderLine() = default;
    ~LoaderLine() { close(); }
    LoaderLine(const LoaderLine&) = delete;
    LoaderLine& operator=(const LoaderLine&) = delete;

    // false with *error set when no pty could be had.
    bool open(QString* error);
    void close();

    QString path() const { return m_path; }
    int master() const { return m_master; }
    int wakeFd() const { return m_wakeFd; }
    void wake();

    // Writes bytes to the program, recorded first; gives up once stop is set.
    void send(const QByteArray& bytes, const std::atomic<bool>& stop);
    QByteArray sent() const;
    bool waitForSent(const QByteArray& text, int timeoutMs, qsizetype from = 0) const;

private:
    int m_master = -1;
    int m_slave = -1;
    int m_wakeFd = -1;
    QString m_path;
    mutable std::mutex m_mutex; // guards m_sent
    QByteArray m_sent;
};

} // namespace stbsim
