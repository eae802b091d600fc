// The monitor's time-ordered buffer, the sound output's volume and block limit, and delivery of
// notifications with the library's heap records.

#include "FrameOrder.h"
#include "Heap.h"
#include "Notifier.h"
#include "SoundOut.h"

#include "sys/MessageQueue.h"
#include "sys/Tick.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

using namespace moltrex;

namespace {

Frame frameAt(uint32_t stamp, bool audio = false, size_t bytes = 10) {
    Frame frame;
    frame.stamp = stamp;
    frame.audio = audio;
    frame.data.assign(bytes, static_cast<uint8_t>(stamp));
    return frame;
}

std::vector<uint32_t> stampsOf(const std::vector<Released>& released) {
    std::vector<uint32_t> stamps;
    for (const Released& r : released)
        stamps.push_back(r.frame.stamp);
    return stamps;
}

TEST(FrameOrder, HoldsFramesUntilTheSpanReaches400MsThenReleasesOldestFirst) {
    FrameOrder order(40, 1000, 256, 1 << 20);
    std::vector<Released> out;
    // Pictures every 10 units, audio every 4, arriving out of order within pairs.
    const uint32_t arrivals[] = {110, 100, 104, 108, 120, 112, 116, 130, 124, 128, 140, 132, 150};
    for (uint32_t stamp : arrivals)
        order.push(frameAt(stamp, stamp % 10 != 0), out);
    // 150 - 100 >= 40 and 150 - 104 >= 40 and 150 - 108 >= 40; 150 - 110 = 40 too.
    EXPECT_EQ(stampsOf(out), (std::vector<uint32_t>{100, 104, 108, 110}));
    for (const Released& r : out)
        EXPECT_FALSE(r.atOnce);
    EXPECT_EQ(order.size(), std::size(arrivals) - 4);

    out.clear();
    order.flush(out);
    EXPECT_EQ(stampsOf(out), (std::vector<uint32_t>{112, 116, 120, 124, 128, 130, 132, 140, 150}));
    for (const Released& r : out)
        EXPECT_TRUE(r.atOnce);
    EXPECT_EQ(order.size(), 0u);
    EXPECT_EQ(order.bytes(), 0u);
}

TEST(FrameOrder, TimeStampsWrapAroundWithoutBreakingTheOrder) {
    FrameOrder order(40, 1000, 256, 1 << 20);
    std::vector<Released> out;
    for (uint32_t stamp : {0xFFFFFFF0u, 0xFFFFFFFAu, 0x4u, 0xEu, 0x18u, 0x22u})
        order.push(frameAt(stamp), out);
    EXPECT_EQ(stampsOf(out), (std::vector<uint32_t>{0xFFFFFFF0u, 0xFFFFFFFAu}));
}

TEST(FrameOrder, AClockThatJumpsEmptiesTheBufferAtOnceBeforeTheNewFrames) {
    FrameOrder order(40, 1000, 256, 1 << 20);
    std::vector<Released> out;
    order.push(frameAt(5000), out);
    order.push(frameAt(5010), out);
    order.push(frameAt(20), out); // the camera restarted its clock
    ASSERT_EQ(out.size(), 2u);
    EXPECT_TRUE(out[0].atOnce);
    EXPECT_EQ(out[0].frame.stamp, 5000u);
    EXPECT_EQ(out[1].frame.stamp, 5010u);
    EXPECT_EQ(order.size(), 1u);
    out.clear();
    order.push(frameAt(30), out);
    order.push(frameAt(60), out);
    EXPECT_EQ(stampsOf(out), (std::vector<uint32_t>{20})) << "the new timeline goes on normally";
}

TEST(FrameOrder, AFrameOlderThanWhatLeftAlreadyIsHandedOnNotLost) {
    FrameOrder order(40, 1000, 256, 1 << 20);
    std::vector<Released> out;
    for (uint32_t stamp : {100u, 110u, 120u, 140u})
        order.push(frameAt(stamp), out);
    ASSERT_EQ(stampsOf(out), (std::vector<uint32_t>{100}));
    order.push(frameAt(95), out);
    EXPECT_EQ(stampsOf(out), (std::vector<uint32_t>{100, 95}));
    EXPECT_FALSE(out[1].atOnce);
}

TEST(FrameOrder, OneStampForeverCannotGrowTheBufferPastItsLimits) {
    FrameOrder byCount(40, 1000, 8, 1 << 20);
    FrameOrder byBytes(40, 1000, 256, 1000);
    std::vector<Released> countOut;
    std::vector<Released> bytesOut;
    for (int i = 0; i < 100; ++i) {
        byCount.push(frameAt(7), countOut);
        byBytes.push(frameAt(7, false, 100), bytesOut);
        ASSERT_LE(byCount.size(), 8u);
        ASSERT_LE(byBytes.bytes(), 1000u);
    }
    EXPECT_EQ(countOut.size(), 92u);
    EXPECT_EQ(bytesOut.size(), 90u);
}

TEST(Sound, VolumeScalesSignedSamples) {
    std::vector<uint8_t> pcm = {0x00, 0x40, 0x00, 0xC0,
                                0xFF, 0x7F, 0x01, 0x80}; // 16384, -16384, max, min
    std::vector<uint8_t> half = pcm;
    applyVolume(half.data(), half.size(), 0x8000);
    auto sample = [](const std::vector<uint8_t>& b, size_t i) {
        return static_cast<int16_t>(b[2 * i] | b[2 * i + 1] << 8);
    };
    EXPECT_NEAR(sample(half, 0), 8192, 1);
    EXPECT_NEAR(sample(half, 1), -8192, 1);
    EXPECT_NEAR(sample(half, 2), 16384, 1);
    EXPECT_NEAR(sample(half, 3), -16384, 1);
    std::vector<uint8_t> full = pcm;
    applyVolume(full.data(), full.size(), 0xFFFF);
    EXPECT_EQ(full, pcm);
    std::vector<uint8_t> silent = pcm;
    applyVolume(silent.data(), silent.size(), 0);
    EXPECT_EQ(silent, std::vector<uint8_t>(pcm.size(), 0));
}

TEST(Sound, AtMostElevenBlocksWaitOnTheDevice) {
    ::setenv("ZQAUDIO_DEVICE", "null", 1);
    SoundOut sound(11);
    ASSERT_FALSE(sound.play(std::vector<uint8_t>(640, 1).data(), 640)) << "sound is off";
    ASSERT_TRUE(sound.on());
    // 1 s blocks: nothing finishes playing during the test.
    const std::vector<uint8_t> block(16000, 1);
    int played = 0;
    for (int i = 0; i < 15; ++i)
        played += sound.play(block.data(), block.size()) ? 1 : 0;
    EXPECT_EQ(played, 11);
    EXPECT_EQ(sound.queuedBlocks(sys::tickMs()), 11u);
    sound.off();
    EXPECT_FALSE(sound.isOn());
}

TEST(Delivery, ThreadTargetGetsTheMessageAfterRetriesWhileItsQueueIsFull) {
    sys::MessageQueue queue(1);
    ASSERT_TRUE(queue.post({1, 0, 0}));
    const Notifier notifier(Target{0, reinterpret_cast<MO_THREAD>(&queue), nullptr}, 10, 1000);
    const size_t before = heap::outstanding();
    void* record = heap::allocate(68);
    std::thread reader([&queue] {
        sys::sleepMs(100);
        queue.take(0); // makes room
    });
    EXPECT_TRUE(
        notifier.post(MO_MSG_SEARCH, 0, reinterpret_cast<MO_LPARAM>(record), Owned::LParam));
    reader.join();
    const auto delivered = queue.take(0);
    ASSERT_TRUE(delivered);
    EXPECT_EQ(delivered->code, MO_MSG_SEARCH);
    EXPECT_EQ(delivered->param2, reinterpret_cast<intptr_t>(record));
    EXPECT_EQ(heap::outstanding(), before + 1) << "delivered: the record is the receiver's";
    heap::release(record);
}

TEST(Delivery, RecordsOfAMessageThatNeverGetsThroughAreFreed) {
    sys::MessageQueue queue(1);
    ASSERT_TRUE(queue.post({1, 0, 0}));
    const Notifier notifier(Target{reinterpret_cast<MO_WINDOW>(&queue), 0, nullptr}, 1, 5);
    const size_t before = heap::outstanding();
    const uint32_t start = sys::tickMs();
    EXPECT_FALSE(notifier.postForCamera(MO_MSG_PARAMS, "0012AB34CD56",
                                        reinterpret_cast<MO_LPARAM>(heap::allocate(2444)), true));
    EXPECT_GE(sys::elapsedMs(start), 4u) << "four waits between five attempts";
    EXPECT_EQ(heap::outstanding(), before) << "camera id copy and record both freed";
    EXPECT_EQ(queue.size(), 1u);
}

int g_calls = 0;
unsigned g_lastMessage = 0;

TEST(Delivery, FirstNonZeroTargetIsUsed) {
    sys::MessageQueue window;
    sys::MessageQueue thread;
    auto callback = [](unsigned message, MO_WPARAM, MO_LPARAM) {
        ++g_calls;
        g_lastMessage = message;
    };
    Notifier(Target{reinterpret_cast<MO_WINDOW>(&window), reinterpret_cast<MO_THREAD>(&thread),
                    callback},
             1, 1)
        .post(MO_MSG_INIT, 0, 0, Owned::None);
    EXPECT_EQ(window.size(), 1u);
    EXPECT_EQ(thread.size(), 0u);
    EXPECT_EQ(g_calls, 0);
    Notifier(Target{0, reinterpret_cast<MO_THREAD>(&thread), callback}, 1, 1)
        .post(MO_MSG_INIT, 0, 0, Owned::None);
    EXPECT_EQ(thread.size(), 1u);
    EXPECT_EQ(g_calls, 0);
    Notifier(Target{0, 0, callback}, 1, 1).post(MO_MSG_INIT, 0, 0, Owned::None);
    EXPECT_EQ(g_calls, 1);
    EXPECT_EQ(g_lastMessage, static_cast<unsigned>(MO_MSG_INIT));
}

TEST(Heap, FreeMemoryIgnoresForeignAndRepeatedPointers) {
    const size_t before = heap::outstanding();
    void* block = heap::allocate(16);
    ASSERT_NE(block, nullptr);
    int local = 0;
    FreeMemory(&local);
    FreeMemory(nullptr);
    EXPECT_EQ(heap::outstanding(), before + 1);
    FreeMemory(block);
    EXPECT_EQ(heap::outstanding(), before);
    FreeMemory(block); // a second free of the same block does nothing
    EXPECT_EQ(heap::outstanding(), before);
}

} // namespace
