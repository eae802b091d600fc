// The frame queue between the frame callback and the record thread.

#include "device/record/FrameQueue.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

using Device::FrameQueue;
using Device::QueuedFrame;

std::vector<uint8_t> payload(size_t length, uint8_t seed) {
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 13);
    return bytes;
}

FRAME_HEAD head(int rate, bool key) {
    FRAME_HEAD frame{};
    frame.frameRate = rate;
    frame.keyFrame = key ? 1 : 0;
    frame.cameraWord0 = 0x11;
    frame.cameraWord1 = 0x22;
    frame.cameraWord8 = 0x33;
    return frame;
}

class FrameQueueTest : public testing::Test {
protected:
    void SetUp() override {
        queue.allocate();
        queue.setAccepting(true);
    }
    // Takes the next entry, swapping once when the read side is used up.
    FrameQueue::Take next(QueuedFrame& frame) {
        FrameQueue::Take take = queue.take(frame, work.data(), work.size());
        if (take == FrameQueue::Take::Empty && queue.swap())
            take = queue.take(frame, work.data(), work.size());
        return take;
    }

    FrameQueue queue;
    std::vector<uint8_t> work = std::vector<uint8_t>(1 << 20);
};

TEST_F(FrameQueueTest, OverflowDropsTheWriteBufferAndTheFrameThenGoesOn) {
    const auto big = payload(500000, 3);
    // Four entries of 500 040 bytes fit in 2 MiB (2 000 160 bytes); the fifth does not.
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(queue.append(ZQ_MEDIA_VIDEO, head(25, i == 0), big.data(), 500000, 320, 180));
    EXPECT_FALSE(queue.append(ZQ_MEDIA_VIDEO, head(25, false), big.data(), 500000, 320, 180));
    EXPECT_EQ(queue.droppedFrames(), 5u);

    const auto small = payload(100, 4);
    ASSERT_TRUE(queue.append(ZQ_MEDIA_VIDEO, head(26, false), small.data(), 100, 320, 180));
    ASSERT_TRUE(queue.append(ZQ_MEDIA_VIDEO, head(27, true), small.data(), 100, 320, 180));
    QueuedFrame frame;
    ASSERT_EQ(next(frame), FrameQueue::Take::Frame);
    EXPECT_EQ(frame.frameRate, 26);
    EXPECT_TRUE(frame.afterGap); // the record thread must wait for a key frame again
    ASSERT_EQ(next(frame), FrameQueue::Take::Frame);
    EXPECT_EQ(frame.frameRate, 27);
    EXPECT_FALSE(frame.afterGap);
    EXPECT_EQ(next(frame), FrameQueue::Take::Empty);
}

TEST_F(FrameQueueTest, EntryLargerThanTheWorkBufferIsSkippedWithoutTouchingIt) {
    const auto big = payload(300000, 5);
    const auto small = payload(10, 6);
    ASSERT_TRUE(queue.append(ZQ_MEDIA_VIDEO, head(25, true), big.data(), 300000, 320, 180));
    ASSERT_TRUE(queue.append(ZQ_MEDIA_VIDEO, head(30, false), small.data(), 10, 320, 180));
    ASSERT_TRUE(queue.swap());
    // A work buffer of 1000 bytes followed by a guard region that must stay untouched.
    std::vector<uint8_t> guarded(2000, 0xee);
    QueuedFrame frame;
    EXPECT_EQ(queue.take(frame, guarded.data(), 1000), FrameQueue::Take::Oversize);
    EXPECT_EQ(frame.length, 300000);
    EXPECT_TRUE(std::all_of(guarded.begin(), guarded.end(), [](uint8_t b) { return b == 0xee; }));
    ASSERT_EQ(queue.take(frame, guarded.data(), 1000), FrameQueue::Take::Frame);
    EXPECT_EQ(frame.frameRate, 30);
    EXPECT_TRUE(std::equal(small.begin(), small.end(), guarded.begin()));
}

// The callback appends while the record thread takes: every entry that was accepted comes out
// once, whole and in order.
TEST_F(FrameQueueTest, ConcurrentAppendAndTakeLoseOnlyWhatWasRefused) {
    constexpr int kFrames = 20000;
    std::atomic<bool> done{false};
    std::vector<int> accepted;
    std::thread producer([&] {
        std::vector<uint8_t> bytes(1000);
        for (int i = 0; i < kFrames; ++i) {
            std::fill(bytes.begin(), bytes.end(), static_cast<uint8_t>(i));
            if (queue.append(ZQ_MEDIA_VIDEO, head(i, false), bytes.data(),
                             static_cast<int>(bytes.size()), 0, 0)) {
                accepted.push_back(i);
            }
        }
        done = true;
    });
    std::vector<int> taken;
    for (;;) {
        QueuedFrame frame;
        const bool finished = done.load();
        const FrameQueue::Take take = next(frame);
        if (take == FrameQueue::Take::Frame) {
            ASSERT_EQ(frame.length, 1000);
            ASSERT_EQ(work[0], static_cast<uint8_t>(frame.frameRate));
            ASSERT_EQ(work[999], static_cast<uint8_t>(frame.frameRate));
            taken.push_back(frame.frameRate);
        } else if (finished) {
            break;
        }
    }
    producer.join();
    // Entries dropped with a discarded write buffer were accepted at first; what came out is
    // in order and every entry that came out was accepted.
    EXPECT_TRUE(std::is_sorted(taken.begin(), taken.end()));
    EXPECT_TRUE(std::adjacent_find(taken.begin(), taken.end()) == taken.end());
    EXPECT_TRUE(std::includes(accepted.begin(), accepted.end(), taken.begin(), taken.end()));
    EXPECT_EQ(taken.size() + queue.droppedFrames(), static_cast<size_t>(kFrames));
}

} // namespace
