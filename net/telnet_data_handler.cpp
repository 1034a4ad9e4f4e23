#include "net/telnet_data_handler.h"

#include "log/session_log.h"

bool DownloadComplete = false;

const QString DownloadDoneMarker =
    QStringLiteral("proftpd.tar.bz2      100% |*****************************|");

void Telnet1DataAvailable(MainView& view, const QString& text) {
    if (view.networkLineCount() == 0)
        view.appendNetworkLine(QString());
    const qsizetype length = text.size();
    qsizetype start = 0;
    qsizetype stop = text.indexOf(QLatin1Char('\r'));
    if (stop < 0)
        stop = length;
    while (start < length) {
        const QString piece = text.mid(start, stop - start);
        view.appendNetworkText(piece);
        WriteLogEntry(piece);
        // The whole last line is looked at, so a marker split over two blocks is found when
        // its second half arrives.
        if (view.lastNetworkLine().contains(DownloadDoneMarker))
            DownloadComplete = true;
        if (stop < length)
            view.appendNetworkLine(QString());
        start = stop + 1;
        if (start >= length)
            break;
        if (text.at(start) == QLatin1Char('\n'))
            ++start;
        stop = text.indexOf(QLatin1Char('\r'), start);
        if (stop < 0)
            stop = length;
    }
}
