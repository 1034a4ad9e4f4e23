#include "net/telnet_channel.h"

void TelnetChannel::received(const QString& text) {
    m_download.received(text);
    if (!m_expected.isEmpty() && !m_expectedSeen) {
        // Only the tail that could begin the text is kept: a long session costs nothing more.
        const QString window = m_carry + text;
        m_expectedSeen = window.contains(m_expected);
        m_carry = window.right(m_expected.size() - 1);
    }
    // Last: the line hook may run a nested event loop that delivers the next block.
    m_lines.received(text);
}

void TelnetChannel::sendKeys(const QByteArray& keys) {
    for (const char key : keys)
        m_session.SendTelnetChar(key);
}

void TelnetChannel::expect(const QString& text) {
    if (text == DownloadWatch::kDoneMarker) {
        m_download.reset();
        return;
    }
    m_expected = text;
    m_carry.clear();
    m_expectedSeen = false;
}

bool TelnetChannel::seen(const QString& text) const {
    if (text == DownloadWatch::kDoneMarker)
        return m_download.complete();
    return text == m_expected && m_expectedSeen;
}
