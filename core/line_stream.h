#pragma once
// The receiver's telnet output as the lines it prints: received blocks go in as they came,
// and every line that is complete goes to the one hook in force. A job that waits for an
// answer chains onto the hook for a while (procedures/job_steps.h) and puts the old one back,
// as it does on the serial console's response watcher; it never reads the window's text,
// which the user may clear or scroll away. UI thread only.
#include <QString>

#include <functional>

class LineStream {
public:
    using Hook = std::function<void(const QString& line)>;

    // text: the next received block. A line ends at CR, LF or CR LF, also when the LF of a
    // CR LF pair comes in the next block; the text after the last line end waits for the
    // next block to complete it.
    void received(const QString& text);

    const Hook& lineCompleted() const { return m_hook; }
    void setLineCompleted(Hook hook) { m_hook = std::move(hook); }

private:
    void complete();

    Hook m_hook;
    QString m_partial;
    bool m_afterCr = false; // the last block ended in CR: an LF now is its pair, not a line
};
