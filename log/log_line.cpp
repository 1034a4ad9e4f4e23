#include "log/log_line.h"

#include "core/control_filter.h"

QString cleanLogLine(QStringView line) {
    // The same filter the console's watcher applies, so both pages' lines are cleaned alike.
    ControlFilter filter;
    QString out;
    out.reserve(line.size());
    for (const QChar ch : line)
        if (filter.keep(ch.unicode()))
            out += ch;
    return out;
}
