#include "net/telnet_data_handler.h"

void ShowTelnetOutput(MainView& view, SessionLog& log, DownloadWatch& download,
                      const QString& text) {
    if (view.networkLineCount() == 0)
        view.appendNetworkLine(QString());
    // The raw text, not the view's lines: the view may start a line at an LF or drop old ones,
    // and looking at the whole last line again for every block made a long line cost its
    // length squared.
    download.received(text);
    const qsizetype length = text.size();
    qsizetype start = 0;
    qsizetype stop = text.indexOf(QLatin1Char('\r'));
    if (stop < 0)
        stop = length;
    while (start < length) {
        const QString piece = text.mid(start, stop - start);
        view.appendNetworkText(piece);
        log.WriteLogEntry(piece);
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
