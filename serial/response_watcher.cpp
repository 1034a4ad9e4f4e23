#include "serial/response_watcher.h"

#include <QStringMatcher>

#include <utility>

namespace {

// Every printable byte runs all six searches, so the needles are prepared once: searching
// with a Latin-1 literal converts it afresh on every call.
const QStringMatcher kStartScript(u"start.sh");
const QStringMatcher kIfconfig(u"ifconfig");
const QStringMatcher kConfigPrompt(u"/config #");
const QStringMatcher kHello(u"hello");

// In the order of their bits in heldNeedles()'s answer, each with the flag it raises.
const QStringMatcher* const kNeedles[] = {&kStartScript, &kIfconfig, &kConfigPrompt, &kHello};
const QStringView kNeedleTexts[] = {u"start.sh", u"ifconfig", u"/config #", u"hello"};
bool ResponseWatcher::*const kFlags[] = {
    &ResponseWatcher::SeenStartScript, &ResponseWatcher::SeenIfconfig,
    &ResponseWatcher::SeenConfigPrompt, &ResponseWatcher::SeenHello};

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

ResponseWatcher::Flag ResponseWatcher::seenFlag(QStringView text) {
    for (unsigned i = 0; i < std::size(kFlags); ++i)
        if (text == kNeedleTexts[i])
            return kFlags[i];
    return nullptr;
}

bool ResponseWatcher::endsWithImageSize(QStringView text) const {
    // Two plain comparisons on views: this runs for every printable non-digit byte.
    return !ImageSizeText.isEmpty() && text.endsWith(ImageSizeText) &&
           text.chopped(ImageSizeText.size()).endsWith(kBytesTransferred);
}

unsigned ResponseWatcher::heldNeedles() {
    // Searching the whole line for every byte made a line cost its length squared.
    const QStringView line(RxLine);
    const bool oneMore = line.size() == m_scannedLength + 1;
    if (!oneMore && line.size() != m_scannedLength)
        m_found = 0;
    if (line.size() != m_scannedLength) {
        for (unsigned i = 0; i < std::size(kNeedles); ++i) {
            // One more character can only complete a needle that ends in it.
            const bool hit =
                oneMore ? line.back() == kNeedleTexts[i].back() && line.endsWith(kNeedleTexts[i])
                        : kNeedles[i]->indexIn(line) >= 0;
            if (hit)
                m_found |= 1u << i;
        }
        m_scannedLength = line.size();
    }
    return m_found;
}

void ResponseWatcher::feed(char byte) {
    const auto ch = static_cast<unsigned char>(byte);
    // The logged line keeps TAB and loses escape sequences; RxLine keeps what it always did.
    if (m_logFilter.keep(char16_t(ch)) && ch < 0x7F && m_wholeLine.size() < kMaxLine)
        m_wholeLine.append(QLatin1Char(static_cast<char>(ch)));
    if (ch == 0x0D) {
        const QString line = std::exchange(m_wholeLine, QString());
        const QString received = std::exchange(RxLine, QString());
        call<const QString&>(m_hooks.lineCompleted, line);
        // The line's end closes a byte count as well as any non-digit does.
        if (endsWithImageSize(received))
            call(m_hooks.finishImageTransfer);
        return;
    }
    if (ch < 0x20 || ch > 0x7E)
        return;

    const bool appended = RxLine.size() < kMaxLine;
    if (appended)
        RxLine.append(QLatin1Char(static_cast<char>(ch)));

    const unsigned found = heldNeedles();
    for (unsigned i = 0; i < std::size(kFlags); ++i)
        if (found & (1u << i))
            this->*kFlags[i] = true;
    if (!appended)
        return;
    // A count is only known once the character after its last digit arrives: a size of 123
    // must not match a report of 1234.
    if (!isDigit(ch) && endsWithImageSize(QStringView(RxLine).chopped(1)))
        call(m_hooks.finishImageTransfer);
    // Reported when the text is completed, so the rest of its line cannot report it again.
    if (ch == 'm' && RxLine.endsWith(kBadChecksum))
        call(m_hooks.abortImageTransfer);
}
