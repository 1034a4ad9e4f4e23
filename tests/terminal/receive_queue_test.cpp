// The port-thread to UI-thread hand-over, with real threads: nothing lost, doubled or
// reordered, and one drain request per burst.
#include "terminal/receive_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

namespace {

TEST(ReceiveQueue, OneDrainRequestPerBurst) {
    terminal::ReceiveQueue q;
    EXPECT_TRUE(q.append("ab", 2));
    EXPECT_FALSE(q.append("cd", 2)); // a request is already outstanding
    EXPECT_EQ(q.takeAll(), "abcd");
    EXPECT_EQ(q.takeAll(), "");
    EXPECT_TRUE(q.append("e", 1)); // re-armed by the drain
}

TEST(ReceiveQueue, HeldRequestsStayQuietUntilADrainReleasesThem) {
    terminal::ReceiveQueue q;
    q.holdRequests();
    EXPECT_FALSE(q.append("ab", 2)); // the drainer comes back by itself
    EXPECT_EQ(q.takeAll(true), "ab");
    EXPECT_FALSE(q.append("c", 1)); // still held
    EXPECT_EQ(q.takeAll(), "c");
    EXPECT_TRUE(q.append("d", 1)); // released: the next burst asks again
}

TEST(ReceiveQueue, ConcurrentProducerAndDrainerKeepEveryByteInOrder) {
    terminal::ReceiveQueue q;
    constexpr int kChunks = 20000;
    std::atomic<int> requests{0};
    std::atomic<bool> done{false};
    std::thread port([&] {
        for (int i = 0; i < kChunks; ++i) {
            const std::string chunk = std::to_string(i) + ",";
            if (q.append(chunk.data(), chunk.size()))
                requests.fetch_add(1);
        }
        done = true;
    });
    std::string received;
    int drains = 0;
    while (!done || !received.ends_with(std::to_string(kChunks - 1) + ",")) {
        const std::string part = q.takeAll();
        if (!part.empty())
            ++drains;
        received += part;
    }
    port.join();
    received += q.takeAll();
    std::string expected;
    for (int i = 0; i < kChunks; ++i)
        expected += std::to_string(i) + ",";
    EXPECT_EQ(received, expected);
    // Every non-empty drain was announced by a request; no burst went unannounced.
    EXPECT_GE(requests.load(), drains);
    EXPECT_LE(requests.load(), kChunks);
}

} // namespace
