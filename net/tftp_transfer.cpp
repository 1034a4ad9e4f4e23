#include "net/tftp_transfer.h"

namespace tftp {

std::int64_t NetasciiSource::read(std::uint8_t* buffer, std::size_t size) {
    std::size_t filled = 0;
    while (filled < size) {
        if (m_pending) {
            buffer[filled++] = *m_pending;
            m_pending.reset();
            continue;
        }
        if (m_rawAt == m_raw.size()) {
            if (m_end)
                break;
            m_raw.resize(4096);
            const std::int64_t got = m_inner->read(m_raw.data(), m_raw.size());
            if (got < 0)
                return -1;
            m_raw.resize(std::size_t(got));
            m_rawAt = 0;
            m_end = std::size_t(got) < 4096;
            continue;
        }
        const std::uint8_t byte = m_raw[m_rawAt++];
        if (byte == '\n') {
            buffer[filled++] = '\r';
            m_pending = std::uint8_t('\n');
        } else if (byte == '\r') {
            buffer[filled++] = '\r';
            m_pending = std::uint8_t(0);
        } else {
            buffer[filled++] = byte;
        }
    }
    return std::int64_t(filled);
}

TftpTransfer::TftpTransfer(const Negotiated& negotiated, std::unique_ptr<ByteSource> source,
                           const Config& config)
    : m_negotiated(negotiated), m_source(std::move(source)),
      m_timeout(negotiated.timeoutSeconds ? std::chrono::seconds(*negotiated.timeoutSeconds)
                                          : config.retransmitTimeout),
      m_maxRetries(config.maxRetries) {}

TftpTransfer::Step TftpTransfer::start(Clock::time_point now) {
    if (!m_negotiated.oack.empty()) {
        m_awaitingOackAck = true;
        m_oack = makeOack(m_negotiated.oack);
        m_deadline = now + m_timeout;
        return Step{{m_oack}, m_deadline};
    }
    return sendWindow(now);
}

bool TftpTransfer::fillWindow(std::size_t blocks) {
    while (m_window.size() < blocks && !m_sourceEnded) {
        const std::uint64_t number = m_nextNumber;
        // Read straight into the packet, in the storage of an acknowledged one where there is
        // one: no copy and no allocation per block.
        Bytes datagram = std::move(m_spare);
        datagram.resize(4 + m_negotiated.blockSize);
        datagram[0] = 0;
        datagram[1] = std::uint8_t(Opcode::Data);
        datagram[2] = std::uint8_t((number >> 8) & 0xff); // sent modulo 65536
        datagram[3] = std::uint8_t(number & 0xff);
        const std::int64_t got = m_source->read(datagram.data() + 4, m_negotiated.blockSize);
        if (got < 0)
            return false;
        datagram.resize(4 + std::size_t(got));
        m_sourceEnded = std::size_t(got) < m_negotiated.blockSize;
        ++m_nextNumber;
        m_window.push_back(Block{number, std::move(datagram)});
    }
    return true;
}

void TftpTransfer::readAhead() {
    if (m_state == State::Running && !m_readFailed)
        m_readFailed = !fillWindow(std::size_t(m_negotiated.windowSize) + 1);
}

TftpTransfer::Step TftpTransfer::sendWindow(Clock::time_point now) {
    if (m_readFailed || !fillWindow(m_negotiated.windowSize))
        return fail(m_source->failure(), makeError(ErrorCode::NotDefined, "Read error"));
    Step step;
    for (std::size_t i = 0; i < m_window.size() && i < m_negotiated.windowSize; ++i)
        step.send.push_back(m_window[i].datagram);
    m_sentThrough = m_window.front().number + step.send.size() - 1;
    m_deadline = now + m_timeout;
    step.deadline = m_deadline;
    return step;
}

TftpTransfer::Step TftpTransfer::fail(std::string reason, std::optional<Bytes> notice) {
    m_state = State::Failed;
    m_failure = std::move(reason);
    Step step;
    if (notice) {
        m_notice = std::move(*notice);
        step.send.push_back(m_notice);
    }
    return step;
}

TftpTransfer::Step TftpTransfer::feed(ByteView datagram, Clock::time_point now) {
    if (m_state != State::Running)
        return {};
    const Step unchanged{{}, m_deadline};
    const auto opcode = peekOpcode(datagram);
    if (!opcode)
        return unchanged; // noise: the timer still covers us
    switch (*opcode) {
    case Opcode::Error: {
        const auto error = parseError(datagram);
        return fail("the client ended the transfer" +
                    (error && !error->second.empty() ? ": " + error->second : std::string()));
    }
    case Opcode::Ack:
        break;
    case Opcode::Rrq:
    case Opcode::Wrq:
    case Opcode::Data:
    case Opcode::Oack:
        return fail("the client sent an unexpected packet",
                    makeError(ErrorCode::IllegalOperation, "Illegal TFTP operation"));
    }
    const auto wire = parseAck(datagram);
    if (!wire)
        return unchanged;
    if (m_awaitingOackAck) {
        if (*wire != 0)
            return unchanged;
        m_awaitingOackAck = false;
        m_retries = 0;
        return sendWindow(now);
    }
    // The one block number within 65535 below the last one sent that matches the wire's 16 bits.
    const std::uint16_t back = std::uint16_t(std::uint16_t(m_sentThrough & 0xffff) - *wire);
    if (m_window.empty() || back > m_sentThrough)
        return unchanged;
    const std::uint64_t acked = m_sentThrough - back;
    if (acked < m_window.front().number)
        return unchanged; // seen before: resending now would double every later block
    while (!m_window.empty() && m_window.front().number <= acked) {
        m_bytesAcked += m_window.front().datagram.size() - 4;
        m_spare = std::move(m_window.front().datagram);
        m_window.pop_front();
    }
    m_retries = 0;
    if (m_window.empty() && m_sourceEnded) {
        m_state = State::Done;
        return {};
    }
    return sendWindow(now);
}

TftpTransfer::Step TftpTransfer::onTimeout(Clock::time_point now) {
    if (m_state != State::Running)
        return {};
    if (m_retries >= m_maxRetries)
        return fail("the client stopped answering");
    ++m_retries;
    m_deadline = now + m_timeout;
    Step step{{}, m_deadline};
    if (m_awaitingOackAck) {
        step.send.push_back(m_oack);
        return step;
    }
    for (const Block& block : m_window) {
        if (block.number > m_sentThrough)
            break; // read ahead, not sent yet
        step.send.push_back(block.datagram);
    }
    return step;
}

} // namespace tftp
