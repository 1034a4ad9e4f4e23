#pragma once
// A file in memory for a TFTP transfer. It may fail from a byte on, as a file does that shrank
// after its size was announced: the read that would reach past failFrom fails.
#include "net/tftp_transfer.h"

#include <algorithm>
#include <cstring>
#include <string>

class MemorySource final : public tftp::ByteSource {
public:
    explicit MemorySource(std::string data, std::size_t failFrom = std::string::npos)
        : m_data(std::move(data)), m_failFrom(failFrom) {}
    std::int64_t read(std::uint8_t* buffer, std::size_t size) override {
        const std::size_t n = std::min(size, m_data.size() - m_at);
        if (m_at + n > m_failFrom)
            return -1;
        std::memcpy(buffer, m_data.data() + m_at, n);
        m_at += n;
        return std::int64_t(n);
    }

private:
    std::string m_data;
    std::size_t m_failFrom;
    std::size_t m_at = 0;
};
