#include "core/MessageRing.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(MessageRing, KeepsOrderAcrossTheWrap) {
    zq::MessageRing ring;
    int next = 0;
    for (int round = 0; round < 5; ++round) {
        for (int i = 0; i < 60; ++i)
            ASSERT_TRUE(ring.post(7, round * 100 + i));
        for (int i = 0; i < 60; ++i) {
            auto message = ring.take();
            ASSERT_TRUE(message);
            EXPECT_EQ(message->param1, round * 100 + i);
            ++next;
        }
    }
    EXPECT_FALSE(ring.take());
}

TEST(MessageRing, FullRingRefusesInsteadOfOverwritingButStillTakesQuit) {
    zq::MessageRing ring;
    int accepted = 0;
    while (ring.post(7, accepted))
        ++accepted;
    EXPECT_EQ(accepted, 99);
    EXPECT_TRUE(ring.post(zq::kMsgQuit));
    EXPECT_EQ(ring.pending(), 100);
    EXPECT_FALSE(ring.post(zq::kMsgQuit)); // 100 unread is the most a 101-slot ring holds

    // Nothing was overwritten: the first message is still the first posted.
    EXPECT_EQ(ring.take()->param1, 0);
    for (int i = 1; i < accepted; ++i)
        EXPECT_EQ(ring.take()->param1, i);
    EXPECT_EQ(ring.take()->code, zq::kMsgQuit);
}

TEST(MessageRing, CarriesPointersIntact) {
    zq::MessageRing ring;
    int target = 0;
    ring.post(4, reinterpret_cast<intptr_t>(&target), 960);
    auto message = ring.take();
    EXPECT_EQ(reinterpret_cast<int*>(message->param1), &target);
}

TEST(MessageRing, ConcurrentPostersLoseNothingAccepted) {
    zq::MessageRing ring;
    std::atomic<int> accepted{0};
    std::atomic<bool> done{false};
    long takenSum = 0;
    int taken = 0;
    std::thread consumer([&] {
        while (!done || ring.pending() > 0) {
            if (auto m = ring.take()) {
                takenSum += m->param1;
                ++taken;
            }
        }
    });
    auto produce = [&] {
        for (int i = 1; i <= 2000; ++i)
            while (!ring.post(1, i))
                std::this_thread::yield();
        accepted += 2000;
    };
    std::thread a(produce), b(produce);
    a.join();
    b.join();
    done = true;
    consumer.join();
    EXPECT_EQ(taken, 4000);
    EXPECT_EQ(takenSum, 2L * 2000 * 2001 / 2);
}

} // namespace
