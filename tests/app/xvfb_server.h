#pragma once
// A private X server for tests that need a real display: Xvfb on the first free display
// number (chosen by the server itself, so parallel tests never collide), stopped when the
// object dies.
#include <QProcessEnvironment>
#include <QString>

#include <sys/types.h>

class XvfbServer {
public:
    XvfbServer() = default;
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    // Starts Xvfb with one 1024x768x24 screen; false (with error()) when it cannot.
    bool start();
    // ":N" once started.
    const QString& display() const { return m_display; }
    const QString& error() const { return m_error; }
    // The calling environment with DISPLAY set and the xcb platform chosen.
    QProcessEnvironment environment() const;

private:
    pid_t m_pid = -1;
    QString m_display;
    QString m_error;
};

// Runs a program to its end with a time limit; its standard output (trimmed), or an empty
// text when it failed or timed out. exitCode receives the code (-1 on failure).
QString RunTool(const QString& program, const QStringList& arguments,
                const QProcessEnvironment& env, int timeoutMs, int* exitCode = nullptr);
