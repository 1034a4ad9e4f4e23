#pragma once
// The 55 ms tick wait every dialogue with the receiver is timed by, behind an interface so
// tests can run a job without really waiting.

// WaitTicks: ticks < 1 returns at once; otherwise waits from just over ticks × 55 ms up to
// (ticks + 1) × 55 ms while events keep being handled. The real one runs a nested event loop.
class Ticker {
public:
    virtual ~Ticker() = default;
    virtual void WaitTicks(int ticks) = 0;
};

// SettleDelay + a fixed number of ticks. A huge Delay in the settings must not overflow into
// a negative (= no) wait; WaitTicks caps the result anyway.
// A negative Delay counts as 0.
inline int settleTicks(int settleDelay, int fixedTicks) {
    const long long sum = static_cast<long long>(settleDelay < 0 ? 0 : settleDelay) + fixedTicks;
    return sum > 2147483647LL ? 2147483647 : static_cast<int>(sum);
}
