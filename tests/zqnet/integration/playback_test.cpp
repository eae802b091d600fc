// Playing a record kept on the camera: record information, pacing, seek, pause.

#include "SessionRecorder.h"
#include "camsim/H264Camera.h"

#include <gtest/gtest.h>

#include <thread>

using namespace std::chrono_literals;

namespace {

constexpr int kQueue = 200;
constexpr int kPrebuffer = 50;

class Playback : public ::testing::Test {
protected:
    void SetUp() override {
        camsim::CameraConfig config;
        config.listenAddress = "127.0.0.1";
        config.recordDurationMs = 600000;
        const auto bound = camera.start(config);
        ASSERT_TRUE(bound);
        param = makeParam(bound->port, bound->webPort);
        handle = zq_net_open(ZQ_TYPE_H264_TCP, "0|/records/cam01/rec0001.avi", &param,
                             kQueue | (kPrebuffer << 16), 0, 258, SessionRecorder::onEvent,
                             SessionRecorder::onFrame, &recorder);
        ASSERT_NE(handle, nullptr);
    }
    void TearDown() override {
        zq_net_close(handle);
        camera.stop();
    }

    // Latest playback position (status 5 value 31), or -1.
    int position() {
        int last = -1;
        for (const auto& e : recorder.eventsOf(ZQ_EVENT_MEDIA_STATUS, 5))
            if (e.value == 31)
                last = e.extra;
        return last;
    }
    bool sawPlaybackValue(int value) {
        for (const auto& e : recorder.eventsOf(ZQ_EVENT_MEDIA_STATUS, 5))
            if (e.value == value)
                return true;
        return false;
    }

    camsim::H264Camera camera;
    DEVICE_PARAM param{};
    SessionRecorder recorder;
    NetHandle* handle = nullptr;
};

TEST_F(Playback, DeliversFramesAtTheRecordRate) {
    ASSERT_TRUE(recorder.waitFor(5s, [&] { return sawPlaybackValue(28); }))
        << "record information (available) not reported";
    ASSERT_TRUE(recorder.waitFrames(10s, 10));
    const size_t start = recorder.videoFrames();
    std::this_thread::sleep_for(2s);
    const size_t played = recorder.videoFrames() - start;
    // 25 frames per second, paced by the library, not by the camera's sending rate.
    EXPECT_GE(played, 35u);
    EXPECT_LE(played, 65u);
    EXPECT_GE(camera.stats().playbackLogins, 1u);
}

TEST_F(Playback, SeekToHalfSendsHalfTheDurationAndMovesThePosition) {
    ASSERT_TRUE(recorder.waitFrames(10s, 10));
    EXPECT_EQ(zq_seek_record(handle, 50.0), 0);
    ASSERT_TRUE(recorder.waitFor(5s, [&] { return !camera.seekTargets().empty(); }));
    EXPECT_EQ(camera.seekTargets().front(), 300000);
    ASSERT_TRUE(recorder.waitFor(5s, [&] { return position() >= 5000; }));
    EXPECT_LT(position(), 5200);
    const size_t before = recorder.videoFrames();
    ASSERT_TRUE(recorder.waitFrames(5s, before + 10)) << "playback did not go on after the seek";
}

TEST_F(Playback, PauseHoldsFramesAndResumeGoesOn) {
    ASSERT_TRUE(recorder.waitFrames(10s, 10));
    EXPECT_EQ(zq_pause_media(handle), 0);
    ASSERT_TRUE(recorder.waitFor(2s, [&] { return sawPlaybackValue(32); }));
    std::this_thread::sleep_for(200ms);
    const size_t held = recorder.videoFrames();
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(recorder.videoFrames(), held);
    EXPECT_EQ(zq_resume_media(handle), 0);
    ASSERT_TRUE(recorder.waitFrames(5s, held + 10));
}

TEST_F(Playback, SeekArgumentsOutOfRangeAreClamped) {
    ASSERT_TRUE(recorder.waitFrames(10s, 5));
    zq_seek_record(handle, 250.0);
    ASSERT_TRUE(recorder.waitFor(5s, [&] { return !camera.seekTargets().empty(); }));
    EXPECT_EQ(camera.seekTargets().front(), 600000);
}

} // namespace
