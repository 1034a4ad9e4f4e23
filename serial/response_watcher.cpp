#include "serial/response_watcher.h"

#include <QStringMatcher>

namespace {

// Every printable byte runs all six searches, so the needles are prepared once: searching
// with a Latin-1 literal converts it afresh on every call.
const QStringMatcher kStartScript(u"start.sh");
const QStringMatcher kIfconfig(u"ifconfig");
const QStringMatcher kConfigPrompt(u"/config #");
const QStringMatcher kHello(u"hello");
const QStringMatcher kBytesTransferred(u"Bytes transferred = ");
const QStringMatcher kBadChecksum(u"bad checksum");

bool found(const QStringMatcher& needle, const QString& line) {
    return needle.indexIn(QStringView(line)) >= 0;
}

// "Bytes transferred = " directly followed by the size, anywhere in the line, without
// building the joined needle for every byte.
bool transferReported(const QString& line, const QString& size) {
    const qsizetype prefix = kBytesTransferred.pattern().size();
    for (qsizetype at = kBytesTransferred.indexIn(QStringView(line)); at >= 0;
         at = kBytesTransferred.indexIn(QStringView(line), at + 1)) {
        if (QStringView(line).sliced(at + prefix).startsWith(size))
            return true;
    }
    return false;
}

// Hooks are copied before the call: a hook may replace the hooks (or re-enter feed) while
// it runs, and the std::function being executed must outlive that.
template <typename... Args> void call(const std::function<void(Args...)>& hook, Args... args) {
    if (hook) {
        const auto copy = hook;
        copy(args...);
    }
}

} // namespace

void ResponseWatcher::feed(char byte) {
    const auto ch = static_cast<unsigned char>(byte);
    if (ch == 0x0D) {
        const QString line = RxLine;
        RxLine.clear();
        call<const QString&>(m_hooks.lineCompleted, line);
        return;
    }
    if (ch < 0x20 || ch > 0x7E)
        return;

    if (RxLine.size() < kMaxLine)
        RxLine.append(QLatin1Char(static_cast<char>(ch)));

    if (found(kStartScript, RxLine))
        SeenStartScript = true;
    if (found(kIfconfig, RxLine))
        SeenIfconfig = true;
    if (found(kConfigPrompt, RxLine))
        SeenConfigPrompt = true;
    if (found(kHello, RxLine))
        SeenHello = true;
    if (transferReported(RxLine, ImageSizeText))
        call(m_hooks.finishImageTransfer);
    if (found(kBadChecksum, RxLine))
        call(m_hooks.abortImageTransfer);
}
