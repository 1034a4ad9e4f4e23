// The gate's rules: one job at a time, only the Hold that closed it opens it (also after a
// move), and every change is signalled once.
#include "core/job_gate.h"

#include <gtest/gtest.h>

#include <vector>

TEST(JobGate, OneHolderAndOnlyItsHoldOpensTheGate) {
    JobGate gate;
    std::vector<bool> changes;
    QObject::connect(&gate, &JobGate::heldChanged, [&](bool held) { changes.push_back(held); });
    std::optional<JobGate::Hold> first = gate.tryEnter(JobKind::SetAddress);
    ASSERT_TRUE(first && first->holds());
    EXPECT_FALSE(gate.tryEnter(JobKind::CheckConnections)); // refused, no signal
    EXPECT_EQ(gate.holder(), JobKind::SetAddress);

    // A moved Hold carries the gate with it; the moved-from one opens nothing.
    JobGate::Hold moved = std::move(*first);
    first->release();
    EXPECT_TRUE(gate.held());
    moved.release();
    moved.release();
    EXPECT_FALSE(gate.held());

    // A stale Hold of an earlier job cannot open the gate under a later one.
    std::optional<JobGate::Hold> second = gate.tryEnter(JobKind::LoadEmergencyImage);
    JobGate::Hold stale = std::move(moved);
    stale.release();
    EXPECT_EQ(gate.holder(), JobKind::LoadEmergencyImage);
    // Assigning over a Hold that holds releases it first.
    *second = JobGate::Hold();
    EXPECT_FALSE(gate.held());
    EXPECT_EQ(changes, (std::vector<bool>{true, false, true, false}));
}
