#include "serial/response_watcher.h"

namespace {

// Hooks are copied before the call: a hook may replace the hooks (or re-enter feed) while
// it runs, and the std::function being executed must outlive that.
template <typename... Args> void call(const std::function<void(Args...)>& hook, Args... args) {
    if (hook) {
        const auto copy = hook;
        copy(args...);
    }
}

const QLatin1String kBytesTransferred("Bytes transferred = ");
const QLatin1String kBadChecksum("bad checksum");

bool isDigit(unsigned char ch) {
    return ch >= '0' && ch <= '9';
}

} // namespace

bool ResponseWatcher::endsWithImageSize(const QString& text) const {
    return !ImageSizeText.isEmpty() && text.endsWith(kBytesTransferred + ImageSizeText);
}

void ResponseWatcher::feed(char byte) {
    const auto ch = static_cast<unsigned char>(byte);
    if (ch == 0x0D) {
        const QString line = RxLine;
        RxLine.clear();
        call<const QString&>(m_hooks.lineCompleted, line);
        // The line's end closes a byte count as well as any non-digit does.
        if (endsWithImageSize(line))
            call(m_hooks.finishImageTransfer);
        return;
    }
    if (ch < 0x20 || ch > 0x7E)
        return;

    const bool appended = RxLine.size() < kMaxLine;
    if (appended)
        RxLine.append(QLatin1Char(static_cast<char>(ch)));

    if (RxLine.contains(QLatin1String("start.sh")))
        SeenStartScript = true;
    if (RxLine.contains(QLatin1String("ifconfig")))
        SeenIfconfig = true;
    if (RxLine.contains(QLatin1String("/config #")))
        SeenConfigPrompt = true;
    if (RxLine.contains(QLatin1String("hello")))
        SeenHello = true;
    if (!appended)
        return;
    // A count is only known once the character after its last digit arrives: a size of 123
    // must not match a report of 1234.
    if (!isDigit(ch) && endsWithImageSize(RxLine.chopped(1)))
        call(m_hooks.finishImageTransfer);
    // Reported when the text is completed, so the rest of its line cannot report it again.
    if (RxLine.endsWith(kBadChecksum))
        call(m_hooks.abortImageTransfer);
}
