#include "core/download_watch.h"

#include <QRegularExpression>

namespace {

const QString kName = QStringLiteral("proftpd.tar.bz2");

const QRegularExpression& doneBar() {
    static const QRegularExpression bar(QStringLiteral("proftpd\\.tar\\.bz2 +100% \\|\\**\\|"));
    return bar;
}

} // namespace

void DownloadWatch::reset() {
    m_complete = false;
    m_carry.clear();
}

void DownloadWatch::received(const QString& text) {
    if (m_complete || text.isEmpty())
        return;
    // Only a bar that ends inside the new text can be new.
    const QString window = m_carry + text;
    if (doneBar().match(window).hasMatch()) {
        m_complete = true;
        m_carry.clear();
        return;
    }
    // Carry the bar begun last, or the few characters that may be the start of its name, so
    // that output without any bar costs nothing more than its own length.
    const qsizetype begun = window.lastIndexOf(kName);
    if (begun >= 0 && window.size() - begun <= kCarryChars)
        m_carry = window.mid(begun);
    else
        m_carry = window.right(kName.size() - 1);
}
