#include "core/receiver_channel.h"

#include "core/ticker.h"

void ReceiverChannel::type(const QByteArray& keys) {
    sendKeys(keys);
    wait(answerTicks());
}

void ReceiverChannel::wait(int fixedTicks) {
    waitTicks(settleTicks(settleDelay(), fixedTicks));
}

bool ReceiverChannel::waitUntil(const std::function<bool()>& done, int deadlineTicks) {
    // At least one tick a look, so a channel that names no pace cannot spin.
    const int step = answerTicks() > 0 ? answerTicks() : 1;
    for (int waited = 0; !done(); waited += step) {
        if (waited >= deadlineTicks)
            return false;
        wait(step);
    }
    return true;
}

LineTap::LineTap(ReceiverChannel& channel)
    : m_channel(channel), m_previous(channel.lineCompleted()) {
    m_channel.setLineCompleted([this](const QString& line) {
        m_lines.append(line);
        if (m_previous)
            m_previous(line);
        if (m_onLine) {
            // A copy: the reaction may end this tap, and with it m_onLine.
            const Hook react = m_onLine;
            react(line);
        }
    });
}
