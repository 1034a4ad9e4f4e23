#include "core/line_stream.h"

#include <utility>

void LineStream::received(const QString& text) {
    for (const QChar ch : text) {
        const bool pairedLf = m_afterCr && ch == u'\n';
        m_afterCr = ch == u'\r';
        if (pairedLf)
            continue;
        if (ch == u'\r' || ch == u'\n')
            complete();
        else
            m_partial.append(ch);
    }
}

void LineStream::complete() {
    // Taken out first: the hook may run a nested event loop that delivers the next block.
    const QString line = std::exchange(m_partial, QString());
    if (m_hook)
        m_hook(line);
}
