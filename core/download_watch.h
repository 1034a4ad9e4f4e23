#pragma once
// Whether the receiver's download of the archive was seen complete. The telnet output handler
// feeds it every last line of the network view; the FTP installation resets it before it
// starts the download and reads it after the long wait. UI thread only.
#include <QString>

class DownloadWatch {
public:
    // The last progress line the receiver's download tool prints for a complete transfer.
    static inline const QString kDoneMarker =
        QStringLiteral("proftpd.tar.bz2      100% |*****************************|");

    void reset() { m_complete = false; }
    // line: the network view's whole last line, so a marker split over two blocks is found
    // when its second half arrives.
    void lastLineIs(const QString& line) {
        if (line.contains(kDoneMarker))
            m_complete = true;
    }
    bool complete() const { return m_complete; }

private:
    bool m_complete = false;
};
