#include "core/job_gate.h"

#include <utility>

JobGate::Hold::Hold(Hold&& other) noexcept
    : m_gate(std::exchange(other.m_gate, nullptr)), m_ticket(other.m_ticket) {}

JobGate::Hold& JobGate::Hold::operator=(Hold&& other) noexcept {
    if (this != &other) {
        release();
        m_gate = std::exchange(other.m_gate, nullptr);
        m_ticket = other.m_ticket;
    }
    return *this;
}

void JobGate::Hold::release() {
    if (JobGate* gate = std::exchange(m_gate, nullptr))
        gate->open(m_ticket);
}

std::optional<JobGate::Hold> JobGate::tryEnter(JobKind kind) {
    if (m_holder)
        return std::nullopt;
    m_holder = kind;
    emit heldChanged(true);
    return Hold(this, ++m_ticket);
}

void JobGate::open(std::uint64_t ticket) {
    // Only the Hold that closed the gate opens it; tickets make a stale one harmless.
    if (!m_holder || ticket != m_ticket)
        return;
    m_holder.reset();
    emit heldChanged(false);
}
