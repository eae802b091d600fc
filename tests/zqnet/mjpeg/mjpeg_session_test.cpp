// Whole MJPEG sessions through libzqnet's exports against the simulated camera on loopback.

#include "SessionRecorder.h"
#include "camsim/MjpegCamera.h"
#include "vidora/vidora.h"
#include "zqnet/zqnet.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace std::chrono_literals;

namespace {

constexpr int kReconnect = 1 << 16;

// The recorder keeps the first bytes of a frame; decoding needs the whole last picture.
struct Capture {
    SessionRecorder recorder;
    std::mutex lock;
    std::vector<char> lastPicture;
    std::atomic<int> shortAlarmState{-1};

    static void onFrame(int type, FRAME_HEAD* frame, void* user, int index) {
        auto* self = static_cast<Capture*>(user);
        if (type == ZQ_MEDIA_VIDEO) {
            std::lock_guard guard(self->lock);
            self->lastPicture.assign(frame->data, frame->data + frame->length);
        }
        SessionRecorder::onFrame(type, frame, &self->recorder, index);
    }
    // Value notices carry a result or connection id in `extra`, not a length: the recorder
    // must read their value word, not `extra` bytes.
    static int onEvent(int kind, int code, int* data, void* user, int extra) {
        const bool valueNotice = kind == ZQ_EVENT_CONTROL &&
                                 (code == 2 || code == 3 || code == 4 || code == 6 || code == 7);
        // The short alarm notice (opcode 17) comes as code 8 with extra 21 and 8 bytes of
        // content: `extra` names the notice here, it is not a length.
        if (kind == ZQ_EVENT_CONTROL && code == 8 && extra == 21 && data) {
            static_cast<Capture*>(user)->shortAlarmState = *reinterpret_cast<uint8_t*>(data);
            return 0;
        }
        return SessionRecorder::onEvent(kind, code, data, &static_cast<Capture*>(user)->recorder,
                                        valueNotice ? 0 : extra);
    }
};

class MjpegSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        camsim::MjpegCameraConfig config;
        config.listenAddress = "127.0.0.1";
        auto ports = camera.start(config);
        ASSERT_TRUE(ports) << camera.lastError();
        this->ports = *ports;
    }
    void TearDown() override {
        close();
        camera.stop();
    }
    void open(const char* password = "admin", int flags = 3) {
        param = makeParam(ports.port, ports.webPort, "admin", password);
        handle = zq_net_open(ZQ_TYPE_MJPEG, nullptr, &param, 0, flags, 0, &Capture::onEvent,
                             &Capture::onFrame, &capture);
        ASSERT_NE(handle, nullptr);
    }
    void close() {
        if (handle)
            zq_net_close(handle);
        handle = nullptr;
    }
    SessionRecorder& rec() { return capture.recorder; }
    bool waitControl(int code, int value, std::chrono::milliseconds timeout = 5s) {
        return rec().waitFor(timeout, [&] {
            for (const auto& e : rec().eventsOf(ZQ_EVENT_CONTROL, code))
                if (e.value == value)
                    return true;
            return false;
        });
    }
    std::vector<SessionRecorder::Event> controlEvents(int code) {
        return rec().eventsOf(ZQ_EVENT_CONTROL, code);
    }
    size_t cgiCount(const std::string& script) {
        size_t n = 0;
        for (const auto& entry : camera.cgiLog())
            n += entry.script == script;
        return n;
    }

    camsim::MjpegCamera camera;
    camsim::MjpegPorts ports;
    DEVICE_PARAM param{};
    NetHandle* handle = nullptr;
    Capture capture;
};

} // namespace

TEST_F(MjpegSessionTest, LogsInAndDeliversDecodableJpegPicturesMarkedAsKeyFrames) {
    open();
    ASSERT_TRUE(rec().waitEvent(5s, 0, 0));
    EXPECT_TRUE(waitControl(2, 5));
    EXPECT_TRUE(waitControl(3, 8));
    ASSERT_TRUE(rec().waitFrames(5s, 3));
    EXPECT_EQ(rec().lastIndex(), 3);
    for (const auto& frame : rec().frames()) {
        ASSERT_EQ(frame.type, ZQ_MEDIA_VIDEO);
        EXPECT_EQ(frame.head.type, 1);
        EXPECT_NE(frame.head.keyFrame, 0);
        EXPECT_EQ(frame.head.cameraWord8, frame.head.length * 8);
        EXPECT_EQ(frame.head.frameRate, 23);
        ASSERT_GE(frame.prefix.size(), 2u);
        EXPECT_EQ(frame.prefix[0], 0xFF);
        EXPECT_EQ(frame.prefix[1], 0xD8);
    }
    std::vector<char> jpeg;
    {
        std::lock_guard guard(capture.lock);
        jpeg = capture.lastPicture;
    }
    ZQ_DECODER decoder = ZQ_Create_Decoder();
    ASSERT_NE(decoder, nullptr);
    struct Size {
        int width = 0, height = 0;
    } size;
    ASSERT_TRUE(ZQ_Register_Decoder(
        decoder, 259,
        [](int, const PictureInfo* info, void* user) {
            static_cast<Size*>(user)->width = info->width;
            static_cast<Size*>(user)->height = info->height;
        },
        &size));
    EXPECT_NE(ZQ_GetYUV420Data(decoder, jpeg.data(), static_cast<int>(jpeg.size())), nullptr);
    EXPECT_EQ(size.width, 640);
    EXPECT_EQ(size.height, 480);
    ZQ_Release_Decoder(decoder);
}

TEST_F(MjpegSessionTest, AudioAndTalk) {
    open();
    ASSERT_TRUE(rec().waitEvent(5s, 0, 0));
    zq_net_setcommand(handle, 1, 0, 0);
    ASSERT_TRUE(waitControl(6, 14));
    ASSERT_TRUE(rec().waitFrames(5s, 1, 5));
    for (const auto& frame : rec().frames()) {
        if (frame.type == ZQ_MEDIA_AUDIO) {
            EXPECT_EQ(frame.head.length, 160);
        }
    }

    zq_net_setcommand(handle, 2, 0, 0);
    ASSERT_TRUE(waitControl(7, 19));
    std::vector<char> audio(160, 0x11);
    EXPECT_EQ(zq_send_talk_data(handle, 0, 5, 1, 160, audio.data()), 0);
    EXPECT_NE(zq_send_talk_data(handle, 0, 5, 1, 159, audio.data()), 0);
    EXPECT_NE(zq_send_talk_data(handle, 0, 5, 1, 320, audio.data()), 0);
    zq_net_setcommand(handle, 4, reinterpret_cast<intptr_t>(audio.data()), 160);
    zq_net_setcommand(handle, 4, reinterpret_cast<intptr_t>(audio.data()), 100);
    ASSERT_TRUE(rec().waitFor(3s, [&] { return camera.stats().talkPackets >= 2; }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(camera.stats().talkPackets, 2u);
    EXPECT_EQ(camera.stats().talkRejects, 0u);
    for (const auto& packet : camera.talkAudio())
        EXPECT_EQ(packet, std::vector<uint8_t>(160, 0x11));
}

TEST_F(MjpegSessionTest, ParametersReadWithTheCameraForm) {
    open();
    ASSERT_TRUE(rec().waitEvent(5s, ZQ_EVENT_CONTROL, 27));
    const auto params = controlEvents(27).front();
    EXPECT_EQ(params.extra, 22);
    // The recorder copies `extra` bytes: the record is the first 8 of them.
    ASSERT_GE(params.payload.size(), 8u);
    EXPECT_EQ(params.payload[0], 8);
    EXPECT_EQ(params.payload[1], 96);
    EXPECT_EQ(params.payload[2], 4);
    EXPECT_EQ(params.payload[3], 1);
    EXPECT_EQ(cgiCount("get_params.cgi"), 0u);
}

TEST_F(MjpegSessionTest, FileNotFoundFallsBackToTheGenericForm) {
    camera.setFirstParamFormMissing(true);
    open();
    ASSERT_TRUE(rec().waitEvent(5s, ZQ_EVENT_CONTROL, 27));
    const auto params = controlEvents(27).front();
    ASSERT_GE(params.payload.size(), 8u);
    EXPECT_EQ(params.payload[1], 96); // 96 / 16 on the wire, × 16 again in the record
    EXPECT_EQ(params.payload[3], 1);  // power frequency
    EXPECT_EQ(cgiCount("get_camera_params.cgi"), 1u);
    EXPECT_EQ(cgiCount("get_params.cgi"), 1u);
}

TEST_F(MjpegSessionTest, CommandsReachTheCamera) {
    open();
    ASSERT_TRUE(rec().waitEvent(5s, 0, 0));
    zq_net_setcommand(handle, 12, 2, 0);  // binary move: camera code 6
    zq_net_setcommand(handle, 12, 3, 18); // decoder form: ptz_control.cgi command 5
    zq_net_setcommand(handle, 24, 5, 3);
    zq_net_setcommand(handle, 60, 2, 8);
    zq_net_setcommand(handle, 58, 0, 1);
    zq_net_setcommand(handle, 12, 25, 0);
    ASSERT_TRUE(rec().waitEvent(5s, ZQ_EVENT_CONTROL, 25));
    ASSERT_TRUE(rec().waitFor(3s, [&] { return !camera.decoderCodes().empty(); }));
    EXPECT_EQ(camera.decoderCodes(), std::vector<uint8_t>{6});
    bool ptz = false;
    for (const auto& entry : camera.cgiLog())
        if (entry.script == "ptz_control.cgi")
            ptz = entry.params.at("command") == "5" && entry.params.at("param") == "0";
    EXPECT_TRUE(ptz);
    const auto settings = camera.settings();
    EXPECT_EQ(settings.contrast, 4);
    EXPECT_EQ(settings.flip, 1); // 58 came after 24's flip of 3
    const auto snapshot = controlEvents(25).front();
    ASSERT_GE(snapshot.payload.size(), 2u);
    EXPECT_EQ(snapshot.payload[0], 0xFF);
    EXPECT_EQ(snapshot.payload[1], 0xD8);
}

TEST_F(MjpegSessionTest, CameraNoticesAreRelayed) {
    open();
    ASSERT_TRUE(rec().waitEvent(5s, 0, 0));
    ASSERT_TRUE(rec().waitFor(3s, [&] { return camera.sendAlarm(2, true) == 1; }));
    ASSERT_TRUE(rec().waitFor(3s, [&] {
        for (const auto& e : controlEvents(8))
            if (e.extra == 23 && !e.payload.empty() && e.payload[0] == 2)
                return true;
        return false;
    }));
}

TEST_F(MjpegSessionTest, ShortAlarmNoticeIsRelayedUnderItsOwnExtra) {
    open();
    ASSERT_TRUE(rec().waitEvent(5s, 0, 0));
    ASSERT_TRUE(rec().waitFor(3s, [&] { return camera.sendAlarm(1, false) == 1; }));
    EXPECT_TRUE(rec().waitFor(3s, [&] { return capture.shortAlarmState == 1; }));
}

// A refused connection comes back at once: without the pause between attempts one camera that
// is switched off would keep a core busy.
TEST_F(MjpegSessionTest, RefusedConnectionsAreRetriedAtAMeasuredPace) {
    camera.stop(); // nothing listens on the port any more
    open();
    std::this_thread::sleep_for(1s);
    const size_t attempts = rec().eventsOf(ZQ_EVENT_CONTROL, 8).size();
    EXPECT_GE(attempts, 5u) << "every refused attempt is reported and retried";
    EXPECT_LE(attempts, 25u) << "retries without a pause";
}

// Pictures that stop coming while the connection stays up end the media round after 10 s.
TEST_F(MjpegSessionTest, SilentMediaConnectionIsMadeAgainAfterItsWatchdog) {
    open("admin", 3 | kReconnect);
    ASSERT_TRUE(rec().waitFrames(5s, 2));
    const auto stalledAt = std::chrono::steady_clock::now();
    camera.faults().setStalled(true);
    ASSERT_TRUE(rec().waitEvent(15s, ZQ_EVENT_MEDIA_STATUS, 1)) << "watchdog never fired";
    const auto waited = std::chrono::steady_clock::now() - stalledAt;
    EXPECT_GE(waited, 9s);
    camera.faults().setStalled(false);
    const size_t before = rec().videoFrames();
    EXPECT_TRUE(rec().waitFrames(15s, before + 3));
}

TEST_F(MjpegSessionTest, WrongPasswordIsReportedAndNoVideoStarts) {
    open("wrong");
    ASSERT_TRUE(waitControl(3, 9));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(rec().indexOf(0, 0), -1);
    EXPECT_EQ(rec().videoFrames(), 0u);
    EXPECT_GE(camera.stats().rejectedLogins, 1u);
}

TEST_F(MjpegSessionTest, ReconnectsAfterTheCameraIsKilled) {
    open("admin", 3 | kReconnect);
    ASSERT_TRUE(rec().waitFrames(5s, 2));
    camera.stop();
    ASSERT_TRUE(rec().waitEvent(12s, ZQ_EVENT_MEDIA_STATUS, 1));
    camsim::MjpegCameraConfig config;
    config.listenAddress = "127.0.0.1";
    config.port = ports.port;
    config.webPort = ports.webPort;
    ASSERT_TRUE(camera.start(config)) << camera.lastError();
    const size_t before = rec().videoFrames();
    EXPECT_TRUE(rec().waitFrames(15s, before + 3));
    EXPECT_GE(camera.stats().mediaLogins, 1u);
}

TEST_F(MjpegSessionTest, CloseIsBoundedDuringASlowCgiAnswer) {
    camera.faults().httpDelayMs = 20000;
    open();
    ASSERT_TRUE(rec().waitFor(5s, [&] { return cgiCount("get_camera_params.cgi") > 0; }));
    const long long took = timedMs([&] { close(); });
    EXPECT_LT(took, 1500);
}
