#include "net/telnet_data_handler.h"

#include "log/log_line.h"

void showTelnetOutput(MainView& view, SessionLog& log, const QString& text) {
    if (view.networkLineCount() == 0)
        view.appendNetworkLine(QString());
    // The view takes the whole block in one insertion (its line ends as LFs): one text
    // layout pass and one scroll a block instead of two view calls a line.
    const qsizetype length = text.size();
    QString shown;
    shown.reserve(length);
    qsizetype start = 0;
    qsizetype stop = text.indexOf(QLatin1Char('\r'));
    if (stop < 0)
        stop = length;
    while (start < length) {
        const QStringView piece = QStringView(text).mid(start, stop - start);
        shown += piece;
        log.WriteLogEntry(cleanLogLine(piece));
        if (stop < length)
            shown += QLatin1Char('\n');
        start = stop + 1;
        if (start >= length)
            break;
        if (text.at(start) == QLatin1Char('\n'))
            ++start;
        stop = text.indexOf(QLatin1Char('\r'), start);
        if (stop < 0)
            stop = length;
    }
    if (!shown.isEmpty())
        view.appendNetworkText(shown);
}
