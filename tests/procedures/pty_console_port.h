#pragma once
// The program's end of the cable to the simulated receiver, as a plain pseudo-terminal
// client: bytes written go down the line unchanged, bytes read are handed to the response
// watcher on the thread that owns this object (the test's UI thread), one queued call per
// read, so the watcher runs inside the procedure's waits as it does behind the real port.
//
// Shutdown order (destructor): set the stop flag → wake the reader (eventfd) → join it →
// close the fd. Deliveries still queued are dropped with the context object.
#include "serial/console_dialogue.h"
#include "serial/response_watcher.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <thread>

class PtyConsolePort : public ConsolePort {
public:
    explicit PtyConsolePort(ResponseWatcher& watcher) : m_watcher(watcher) {}
    ~PtyConsolePort() override;
    PtyConsolePort(const PtyConsolePort&) = delete;
    PtyConsolePort& operator=(const PtyConsolePort&) = delete;

    // Opens the device raw (no echo, no translation) and starts the reader; false with
    // *error set when the device cannot be opened. Call once.
    bool open(const QString& path, QString* error);
    // Writes every byte before returning; throws std::runtime_error when the line is gone.
    void WriteText(const QByteArray& bytes) override;

private:
    void readLoop();

    ResponseWatcher& m_watcher;
    QObject m_context; // lives on the constructing thread; deliveries run there
    int m_fd = -1;
    int m_wakeFd = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_reader;
};
