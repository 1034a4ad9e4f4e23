#pragma once
// Whether the receiver's download of the archive was seen complete. The telnet output handler
// feeds it every block of received text as it came; the FTP installation resets it before it
// starts the download and reads it after the long wait. UI thread only.
//
// The download tool's last progress line is "proftpd.tar.bz2", blanks, "100% |", a bar of
// stars and "|". The bar's width follows the receiver's terminal and the tool's version (29
// stars at 80 columns for older ones, 32 for newer, other counts at other widths), so any
// number of stars counts. What ends the line (CR, LF, CR LF or nothing yet) does not matter:
// the text is searched as it arrived, not line by line.
#include <QString>

class DownloadWatch {
public:
    // The finished bar as older tools draw it at 80 columns.
    static inline const QString kDoneMarker =
        QStringLiteral("proftpd.tar.bz2      100% |*****************************|");
    // Older text kept to find a bar split across blocks: a bar wider than this is not
    // recognised, which no terminal the receiver knows draws.
    static constexpr qsizetype kCarryChars = 1024;

    void reset();
    // text: the next received block. Costs time in its length only, however long the line it
    // continues has grown.
    void received(const QString& text);
    bool complete() const { return m_complete; }

private:
    bool m_complete = false;
    QString m_carry; // the end of what came before, at most kCarryChars
};
