#include "CameraFixture.h"

namespace camtest {
namespace {

class PlaybackTest : public CameraTest {
protected:
    void SetUp() override {
        restart([](camsim::CameraConfig& config) { config.recordDurationMs = 4000; });
    }

    RxPacket login(RawClient& client, const std::string& file) {
        EXPECT_TRUE(client.connect(ports.port));
        EXPECT_TRUE(client.sendPacket(7, playbackLoginPayload(1, file, "admin", "secret", 9)));
        const auto info = client.readPacket(2000);
        EXPECT_TRUE(info);
        return info.value_or(RxPacket{});
    }
};

TEST_F(PlaybackTest, RecordInformationThenFramesInTimeOrderUntilTheEnd) {
    RawClient client;
    const RxPacket info = login(client, "rec_20240101_120000.264");
    EXPECT_EQ(info.command, 22);
    ASSERT_EQ(info.payload.size(), 52u);
    EXPECT_EQ(info.word(0), 1);
    EXPECT_EQ(info.word(3), 100); // total frames: 4000 ms at 25 fps
    EXPECT_EQ(info.word(4), 4000);
    for (size_t word : {1u, 2u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 12u}) {
        EXPECT_EQ(info.word(word), 0) << "word " << word;
    }

    int32_t nextVideo = 0;
    int32_t lastTimeMs = -1;
    int audioBlocks = 0;
    for (;;) {
        const auto packet = client.readPacket(3000);
        ASSERT_TRUE(packet) << "stream ended without packet 25";
        if (packet->command == 25) {
            EXPECT_TRUE(packet->payload.empty());
            break;
        }
        ASSERT_TRUE(packet->command == 26 || packet->command == 27) << packet->command;
        EXPECT_GE(packet->word(1), lastTimeMs) << "media out of time order";
        lastTimeMs = packet->word(1);
        if (packet->command == 26) {
            EXPECT_EQ(packet->word(0), nextVideo++);
            EXPECT_EQ(static_cast<size_t>(packet->word(2)) + 36, packet->payload.size());
        } else {
            EXPECT_EQ(static_cast<size_t>(packet->word(3)) + 36, packet->payload.size());
            ++audioBlocks;
        }
    }
    EXPECT_EQ(nextVideo, 100);
    EXPECT_EQ(audioBlocks, 4000 / 60 + 1);
}

TEST_F(PlaybackTest, SeekJumpsToTheKeyFrameAtOrBeforeTheTarget) {
    RawClient client;
    login(client, "clip.avi");
    ASSERT_TRUE(client.readUntil(25, 3000)); // the short record is sent in one go
    ASSERT_TRUE(client.sendPacket(9, wordsPayload({2100})));
    const auto reached = client.readUntil(24, 2000);
    ASSERT_TRUE(reached);
    EXPECT_EQ(reached->word(0), 0);
    EXPECT_EQ(reached->word(1), 2000); // frame 52 → key frame 50 → 2000 ms
    const auto frame = client.readUntil(26, 2000);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->word(0), 50);
    EXPECT_EQ(frame->word(4), 1);
    EXPECT_TRUE(client.readUntil(25, 3000)) << "the end is announced again";

    ASSERT_TRUE(client.sendPacket(9, wordsPayload({-5})));
    ASSERT_TRUE(client.sendPacket(9, wordsPayload({999999})));
    EXPECT_EQ(client.readUntil(24, 2000)->word(1), 0);
    EXPECT_EQ(client.readUntil(24, 2000)->word(1), 3000); // last key frame of the record
    EXPECT_EQ(camera.seekTargets(), (std::vector<int32_t>{2100, -5, 999999}));
}

TEST_F(PlaybackTest, PauseHoldsFramesAndResumeContinues) {
    restart([](camsim::CameraConfig& config) { config.recordDurationMs = 600000; });
    RawClient client;
    const RxPacket info = login(client, "long.264");
    EXPECT_EQ(info.word(3), 15000);
    ASSERT_TRUE(client.readUntil(26, 2000));
    ASSERT_TRUE(client.sendPacket(10, {}));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    while (client.readPacket(100)) {
    }
    EXPECT_FALSE(client.readPacket(300)) << "paused playback still sends";
    ASSERT_TRUE(client.sendPacket(11, {}));
    EXPECT_TRUE(client.readUntil(26, 2000));
    ASSERT_TRUE(client.sendPacket(8, std::vector<uint8_t>(160, 0)));
    EXPECT_TRUE(client.waitClosed(2000));
}

TEST_F(PlaybackTest, PacingStaysWithinTwiceRealTimePlusTheLead) {
    restart([](camsim::CameraConfig& config) { config.recordDurationMs = 600000; });
    RawClient client;
    login(client, "long.264");
    const auto start = std::chrono::steady_clock::now();
    int32_t lastVideo = -1;
    while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(500)) {
        if (const auto packet = client.readPacket(50); packet && packet->command == 26) {
            lastVideo = packet->word(0);
        }
    }
    const double elapsedMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const double allowedFrames = (8000 + 2 * elapsedMs) * 25 / 1000 + 1;
    EXPECT_GT(lastVideo, 150) << "the lead should be sent at once";
    EXPECT_LE(lastVideo, allowedFrames);
}

TEST_F(PlaybackTest, UnknownRecordIsReportedUnavailable) {
    RawClient client;
    const RxPacket info = login(client, "no-such-record");
    EXPECT_EQ(info.command, 22);
    EXPECT_EQ(info.word(0), 0);
    EXPECT_FALSE(client.readUntil(26, 300));
}

} // namespace
} // namespace camtest
