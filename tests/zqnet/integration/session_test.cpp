// A whole camera session through libzqnet's public calls, against the simulated camera.

#include "SessionRecorder.h"
#include "camsim/H264Camera.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

using namespace std::chrono_literals;

namespace {

constexpr int kReconnect = 1 << 16;

class CameraSession : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(startCamera({})); }
    void TearDown() override {
        if (handle)
            zq_net_close(handle);
        camera.stop();
    }

    bool startCamera(camsim::CameraConfig config) {
        config.listenAddress = "127.0.0.1";
        const auto bound = camera.start(config);
        if (!bound)
            return false;
        ports = *bound;
        return true;
    }

    void open(int type = ZQ_TYPE_H264_TCP, const char* password = "admin", int flags = 5) {
        param = makeParam(ports.port, ports.webPort, "admin", password);
        handle = zq_net_open(type, nullptr, &param, 0, flags, 258, SessionRecorder::onEvent,
                             SessionRecorder::onFrame, &recorder);
        ASSERT_NE(handle, nullptr);
    }

    camsim::H264Camera camera;
    camsim::BoundPorts ports;
    DEVICE_PARAM param{};
    SessionRecorder recorder;
    NetHandle* handle = nullptr;
};

TEST_F(CameraSession, LogsInThenStreamsFramesWithTheCameraHeaderWords) {
    open();
    ASSERT_TRUE(recorder.waitEvent(5s, 0, 0)) << "media channel never logged in";
    ASSERT_TRUE(recorder.waitFrames(10s, 60));

    // The media channel logs in only once the control login was accepted.
    const int controlLogin = recorder.indexOf(ZQ_EVENT_CONTROL, 100);
    const int mediaLogin = recorder.indexOf(0, 0);
    ASSERT_GE(controlLogin, 0);
    EXPECT_LT(controlLogin, mediaLogin);
    EXPECT_EQ(recorder.eventsOf(ZQ_EVENT_CONTROL, 100).front().value, 0);
    EXPECT_EQ(recorder.eventsOf(ZQ_EVENT_CONTROL, 100).front().payload.size(), 2219u);

    const auto frames = recorder.frames();
    bool sawKey = false;
    int previous = -1;
    for (const auto& frame : frames) {
        ASSERT_EQ(frame.type, ZQ_MEDIA_VIDEO);
        EXPECT_EQ(frame.head.type, ZQ_MEDIA_VIDEO);
        EXPECT_EQ(frame.head.frameRate, 25);
        EXPECT_GT(frame.head.cameraWord8, 100000);
        EXPECT_EQ(frame.head.keyFrame, frame.head.keyFrame2);
        EXPECT_EQ(frame.head.zero, 0);
        if (previous >= 0) {
            EXPECT_EQ(frame.head.cameraWord0, previous + 1) << "frame lost or repeated";
        }
        previous = frame.head.cameraWord0;
        if (frame.head.keyFrame) {
            sawKey = true;
            // A key frame opens with the sequence parameter set.
            ASSERT_GE(frame.prefix.size(), 5u);
            const bool longCode = frame.prefix[0] == 0 && frame.prefix[1] == 0 &&
                                  frame.prefix[2] == 0 && frame.prefix[3] == 1 &&
                                  (frame.prefix[4] & 0x1F) == 7;
            EXPECT_TRUE(longCode);
        }
    }
    EXPECT_TRUE(sawKey);
    EXPECT_EQ(recorder.lastIndex(), 5);
    EXPECT_GE(camera.stats().keepAlives, 1u);
}

TEST_F(CameraSession, CloseIsBoundedAndSilencesCallbacks) {
    open();
    ASSERT_TRUE(recorder.waitFrames(10s, 10));
    const auto took = timedMs([&] { zq_net_close(handle); });
    handle = nullptr;
    EXPECT_LT(took, 1500);
    const size_t after = recorder.videoFrames();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(recorder.videoFrames(), after);
}

TEST_F(CameraSession, WrongPasswordStopsBeforeAnyMediaLogin) {
    open(ZQ_TYPE_H264_TCP, "wrong");
    ASSERT_TRUE(recorder.waitEvent(5s, ZQ_EVENT_CONTROL, 41));
    EXPECT_EQ(recorder.eventsOf(ZQ_EVENT_CONTROL, 41).front().value, -8);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(camera.stats().liveLogins, 0u);
    EXPECT_EQ(camera.stats().controlLogins, 0u);
    EXPECT_EQ(recorder.indexOf(0, 0), -1);
}

TEST_F(CameraSession, StreamsOverUdt) {
    open(ZQ_TYPE_H264_UDT);
    ASSERT_TRUE(recorder.waitFrames(15s, 30)) << "no frames over UDT";
    EXPECT_GE(camera.stats().liveLogins, 1u);
}

TEST_F(CameraSession, TalkOfMoreThan960BytesSendsNothing) {
    open();
    ASSERT_TRUE(recorder.waitEvent(5s, 0, 0));
    zq_net_setcommand(handle, 2, 0, 0); // ask for talk
    ASSERT_TRUE(recorder.waitEvent(5s, 9, 19)) << "camera did not grant talk";

    std::vector<char> tooLong(961, 0x55);
    zq_net_setcommand(handle, 4, reinterpret_cast<intptr_t>(tooLong.data()), 961);
    std::vector<char> block(120, 0x11);
    zq_net_setcommand(handle, 4, reinterpret_cast<intptr_t>(block.data()), 120);
    ASSERT_TRUE(recorder.waitFor(3s, [&] { return camera.stats().talkPackets >= 1; }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(camera.stats().talkPackets, 1u);
    EXPECT_EQ(camera.stats().talkRejects, 0u);
    EXPECT_EQ(camera.talkBytes(), std::vector<uint8_t>(block.begin(), block.end()));
    EXPECT_EQ(camera.talkPcm().size(), 480u);

    zq_net_setcommand(handle, 7, 0, 0);
    EXPECT_TRUE(recorder.waitEvent(5s, 10, 19)) << "talk end not reported";
}

TEST_F(CameraSession, ListeningBringsAudioFrames) {
    open();
    ASSERT_TRUE(recorder.waitEvent(5s, 0, 0));
    zq_net_setcommand(handle, 1, 0, 0);
    ASSERT_TRUE(recorder.waitFrames(10s, 1, 10));
    for (const auto& frame : recorder.frames())
        if (frame.type == ZQ_MEDIA_AUDIO) {
            EXPECT_EQ(frame.head.length, 960); // raw PCM on the main stream
        }
}

TEST_F(CameraSession, SurvivesGarbageAndOneByteWrites) {
    camera.setGarbage(true);
    camera.setByteByByte(true);
    open();
    ASSERT_TRUE(recorder.waitFrames(20s, 5));
    for (const auto& frame : recorder.frames())
        EXPECT_EQ(frame.head.frameRate, 25);
}

TEST_F(CameraSession, SettingsAndPtzReachTheCamera) {
    open();
    ASSERT_TRUE(recorder.waitEvent(5s, ZQ_EVENT_CONTROL, 100));
    zq_net_setcommand(handle, 34, 77, 0); // brightness
    zq_net_setcommand(handle, 37, 0, 1);  // mirror takes the second parameter
    const char* preset = "gate&cmd=reboot";
    zq_net_setcommand(handle, 50, reinterpret_cast<intptr_t>(preset),
                      reinterpret_cast<intptr_t>(preset));
    zq_net_setcommand(handle, 12, 3, 0); // move right, through the PTZ thread
    // The name reaches the camera whole: its '&' and '=' start no parameters of their own.
    auto hasPreset = [](const camsim::CgiState& state) {
        return std::find(state.presets.begin(), state.presets.end(), "gate&cmd=reboot") !=
               state.presets.end();
    };
    ASSERT_TRUE(recorder.waitFor(5s, [&] {
        const auto state = camera.cgiState();
        return state.image.brightness == 77 && state.mirror && hasPreset(state) &&
               state.lastPtzMove == "ptzMoveRight";
    }));
}

TEST_F(CameraSession, QueriesDeliverTheirResults) {
    open();
    ASSERT_TRUE(recorder.waitEvent(5s, ZQ_EVENT_CONTROL, 100));
    zq_net_setcommand(handle, 34, 61, 0);
    zq_net_setcommand(handle, 12, 27, 0); // image settings → 110
    zq_net_setcommand(handle, 12, 25, 0); // snapshot → 25 with a JPEG
    zq_net_setcommand(handle, 12, 47, 0); // preset list → 47
    zq_net_setcommand(handle, 12, 105, 0);
    ASSERT_TRUE(recorder.waitFor(10s, [&] {
        return recorder.indexOf(ZQ_EVENT_CONTROL, 25) >= 0 &&
               recorder.indexOf(ZQ_EVENT_CONTROL, 47) >= 0 &&
               recorder.indexOf(ZQ_EVENT_CONTROL, 105) >= 0;
    }));
    // 110 also arrives as a notice at login; the last one answers the query.
    const auto image = recorder.eventsOf(ZQ_EVENT_CONTROL, 110).back();
    ASSERT_GE(image.payload.size(), 5u);
    EXPECT_EQ(image.payload[0], 61);

    const auto snapshot = recorder.eventsOf(ZQ_EVENT_CONTROL, 25).front();
    ASSERT_GT(snapshot.payload.size(), 100u);
    EXPECT_EQ(snapshot.payload[0], 0xFF);
    EXPECT_EQ(snapshot.payload[1], 0xD8);
    EXPECT_EQ(snapshot.payload[snapshot.payload.size() - 2], 0xFF);
    EXPECT_EQ(snapshot.payload.back(), 0xD9);

    const auto presets = recorder.eventsOf(ZQ_EVENT_CONTROL, 47).front();
    EXPECT_EQ(presets.payload.size(), 16u * 256u);
}

TEST_F(CameraSession, AlarmNoticesAreRelayed) {
    open();
    ASSERT_TRUE(recorder.waitEvent(5s, ZQ_EVENT_CONTROL, 100));
    ASSERT_TRUE(recorder.waitFor(2s, [&] { return camera.sendAlarm({1, 0, 1, 5}) > 0; }));
    ASSERT_TRUE(recorder.waitEvent(5s, ZQ_EVENT_CONTROL, 111));
    const auto alarm = recorder.eventsOf(ZQ_EVENT_CONTROL, 111).front();
    EXPECT_EQ(alarm.payload, (std::vector<uint8_t>{1, 0, 1, 5}));
}

TEST_F(CameraSession, DroppedConnectionsReconnectAndStreamAgain) {
    open(ZQ_TYPE_H264_TCP, "admin", 5 | kReconnect);
    ASSERT_TRUE(recorder.waitFrames(10s, 10));
    camera.dropConnections();
    ASSERT_TRUE(recorder.waitEvent(5s, ZQ_EVENT_MEDIA_STATUS, 1)) << "no reconnect reported";
    const size_t before = recorder.videoFrames();
    ASSERT_TRUE(recorder.waitFrames(10s, before + 10)) << "stream did not come back";
    EXPECT_GE(camera.stats().liveLogins, 2u);
}

TEST_F(CameraSession, StreamSwitchLogsOutAndBackInWithTheNewStream) {
    open(ZQ_TYPE_H264_TCP, "admin", 5 | kReconnect);
    ASSERT_TRUE(recorder.waitFrames(10s, 5));
    param.streamType = 1;
    zq_net_setcommand(handle, 5, 0, 0);
    ASSERT_TRUE(recorder.waitFor(10s, [&] { return camera.stats().liveLogins >= 2; }));
    const size_t before = recorder.videoFrames();
    ASSERT_TRUE(recorder.waitFrames(10s, before + 5));
}

TEST(NetOpen, TypeTwoAndUnknownTypes) {
    DEVICE_PARAM param = makeParam(1, 1);
    NetHandle* none =
        zq_net_open(ZQ_TYPE_NONE, nullptr, &param, 0, 0, 258, nullptr, nullptr, nullptr);
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(none->type, 2);
    EXPECT_EQ(none->session, nullptr);
    zq_net_setcommand(none, 1, 0, 0);
    zq_net_close(none);
    EXPECT_EQ(zq_net_open(99, nullptr, &param, 0, 0, 258, nullptr, nullptr, nullptr), nullptr);
    zq_net_close(nullptr);
    zq_net_setcommand(nullptr, 1, 0, 0);
}

} // namespace
