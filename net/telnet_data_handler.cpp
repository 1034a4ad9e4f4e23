#include "net/telnet_data_handler.h"

void ShowTelnetOutput(MainView& view, SessionLog& log, DownloadWatch& download,
                      const QString& text) {
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
        log.WriteLogEntry(piece);
        download.lastLineIs(view.lastNetworkLine());
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
