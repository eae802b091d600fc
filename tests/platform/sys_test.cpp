#include "sys/Event.h"
#include "sys/MessageQueue.h"
#include "sys/Thread.h"
#include "sys/Tick.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>

namespace {

uint32_t msSince(std::chrono::steady_clock::time_point start) {
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - start)
                                     .count());
}

TEST(MessageQueue, DeliversInOrderAndRefusesWhenFullButNeverRefusesQuit) {
    sys::MessageQueue queue(2);
    EXPECT_TRUE(queue.post({1, 10, 0}));
    EXPECT_TRUE(queue.post({2, 20, 0}));
    EXPECT_FALSE(queue.post({3, 30, 0}));
    EXPECT_TRUE(queue.post({sys::kQuitCode, 0, 0}));

    EXPECT_EQ(queue.peek()->param1, 10);
    EXPECT_EQ(queue.take(0)->param1, 20);
    EXPECT_EQ(queue.take(0)->code, sys::kQuitCode);
    EXPECT_FALSE(queue.peek().has_value());
}

TEST(MessageQueue, TakeWaitsBoundedly) {
    sys::MessageQueue queue;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(queue.take(30).has_value());
    EXPECT_GE(msSince(start), 25u);
}

TEST(Thread, StopEndsABodyThatPollsItsQueue) {
    sys::Thread thread;
    std::atomic<int> seen{0};
    ASSERT_TRUE(thread.start("worker", [&](sys::WorkerContext& context) {
        for (;;) {
            auto message = context.queue().take(50);
            if (message && message->code == sys::kQuitCode)
                return;
            if (message)
                seen += static_cast<int>(message->param1);
        }
    }));
    EXPECT_TRUE(thread.post(7, 5));
    EXPECT_TRUE(thread.post(7, 6));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(thread.stop(1000));
    EXPECT_LT(msSince(start), 500u);
    EXPECT_EQ(seen.load(), 11);
    EXPECT_FALSE(thread.running());
}

TEST(Thread, StopGivesUpOnAnOverrunningBodyWithinItsWait) {
    auto release = std::make_shared<std::atomic<bool>>(false);
    auto finished = std::make_shared<std::atomic<bool>>(false);
    {
        sys::Thread thread;
        thread.start("stuck", [release, finished](sys::WorkerContext&) {
            // Ignores its cancel flag on purpose.
            while (!release->load())
                sys::sleepMs(5);
            finished->store(true);
        });
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(thread.stop(100));
        EXPECT_LT(msSince(start), 400u);
        EXPECT_FALSE(thread.running());
    }
    // The detached body still runs safely on what it owns.
    release->store(true);
    for (int i = 0; i < 200 && !finished->load(); ++i)
        sys::sleepMs(5);
    EXPECT_TRUE(finished->load());
}

TEST(Thread, NamesTheThreadForDebuggers) {
    sys::Thread thread;
    std::string name;
    thread.start("NetThread", [&](sys::WorkerContext&) {
        char buffer[32] = {};
        pthread_getname_np(pthread_self(), buffer, sizeof buffer);
        name = buffer;
    });
    ASSERT_TRUE(thread.wait(1000));
    EXPECT_EQ(name, "NetThread");
}

TEST(Event, ManualStaysSetAutoReleasesOnce) {
    sys::Event manual(sys::Event::Reset::Manual);
    manual.set();
    EXPECT_TRUE(manual.wait(0));
    EXPECT_TRUE(manual.wait(0));

    sys::Event automatic(sys::Event::Reset::Auto);
    automatic.set();
    EXPECT_TRUE(automatic.wait(0));
    EXPECT_FALSE(automatic.wait(10));
}

TEST(Tick, ElapsedIsRightAcrossTheWrap) {
    const uint32_t before = 0xFFFFFFF0u;
    const uint32_t after = 0x10u; // 32 ms later, past the wrap
    EXPECT_EQ(after - before, 32u);
    const uint32_t start = sys::tickMs();
    sys::sleepMs(20);
    EXPECT_GE(sys::elapsedMs(start), 15u);
}

} // namespace
