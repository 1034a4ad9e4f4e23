#pragma once
// A pseudo-terminal standing in for the serial cable: the port opens the slave by its path,
// the test holds the master and plays the receiver.
#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <thread>
#include <unistd.h>

class PtyPair {
public:
    PtyPair() {
        int slave = -1;
        char name[256] = {};
        if (::openpty(&m_master, &slave, name, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        m_path = QString::fromLocal8Bit(name);
        // Only the port under test keeps the slave open.
        ::close(slave);
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    }
    ~PtyPair() { closeMaster(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const QString& path() const { return m_path; }
    int master() const { return m_master; }
    void closeMaster() {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }

    // Writes everything, waiting while the pty is full (the port stopped reading).
    bool write(const QByteArray& bytes, int timeoutMs = 10000) {
        qsizetype done = 0;
        QElapsedTimer t;
        t.start();
        while (done < bytes.size()) {
            const ssize_t n =
                ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
            if (n > 0) {
                done += n;
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO)
                return false;
            if (t.elapsed() > timeoutMs)
                return false;
            pollfd p{m_master, POLLOUT, 0};
            ::poll(&p, 1, 20);
        }
        return true;
    }

    // Reads until `want` bytes came or the time is up.
    QByteArray read(qsizetype want, int timeoutMs) {
        QByteArray out;
        QElapsedTimer t;
        t.start();
        while (out.size() < want) {
            const qint64 left = timeoutMs - t.elapsed();
            if (left <= 0)
                break;
            pollfd p{m_master, POLLIN, 0};
            if (::poll(&p, 1, int(left)) <= 0)
                continue;
            char buf[4096];
            const ssize_t n = ::read(m_master, buf, sizeof buf);
            if (n > 0)
                out.append(buf, n);
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                break;
        }
        return out;
    }

private:
    int m_master = -1;
    QString m_path;
};

// A far end that echoes every byte back, as a shell on the console does.
class EchoPeer {
public:
    explicit EchoPeer(PtyPair& pty) : m_pty(pty), m_thread([this] { run(); }) {}
    ~EchoPeer() {
        m_stop = true;
        m_thread.join();
    }
    EchoPeer(const EchoPeer&) = delete;
    EchoPeer& operator=(const EchoPeer&) = delete;

private:
    void run() {
        while (!m_stop) {
            const QByteArray got = m_pty.read(1, 20);
            if (!got.isEmpty())
                m_pty.write(got);
        }
    }
    PtyPair& m_pty;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
