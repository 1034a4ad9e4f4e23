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

    if (RxLine.contains(QLatin1String("start.sh")))
        SeenStartScript = true;
    if (RxLine.contains(QLatin1String("ifconfig")))
        SeenIfconfig = true;
    if (RxLine.contains(QLatin1String("/config #")))
        SeenConfigPrompt = true;
    if (RxLine.contains(QLatin1String("hello")))
        SeenHello = true;
    if (RxLine.contains(QLatin1String("Bytes transferred = ") + ImageSizeText))
        call(m_hooks.finishImageTransfer);
    if (RxLine.contains(QLatin1String("bad checksum")))
        call(m_hooks.abortImageTransfer);
}
