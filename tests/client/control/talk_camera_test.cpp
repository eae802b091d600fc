// Talk end to end: a WAV tone as the operator's microphone, the talk path, a real zqnet session
// and a simulated camera. Each family takes its own codec: G.726 (H.264 over TCP), the voice
// codec (H.264 by UID) and IMA ADPCM (MJPEG); the tone must come out of each.

#include "ControlTestSupport.h"
#include "HeardAudio.h"
#include "SessionRecorder.h"

#include "camsim/H264Camera.h"
#include "camsim/MjpegCamera.h"
#include "camsim/P2pCamera.h"
#include "device/control/BroadcastTalk.h"
#include "device/control/TalkChannel.h"
#include "iotc/Relay.h"
#include "iotc/iotc.h"

namespace {

using namespace std::chrono_literals;
using controltest::decodeAdpcm;
using controltest::dominantFrequency;
using controltest::toneOf;
using Device::TalkChannel;

// The session's side: commands go to zq_net_setcommand while there is a handle.
struct Session final : Device::CommandSink {
    ~Session() override { close(); }
    bool sendCommand(int code, intptr_t param1, intptr_t param2) override {
        NetHandle* open = handle.load();
        if (!open)
            return false;
        zq_net_setcommand(open, code, param1, param2);
        return true;
    }
    void open(int type, const DEVICE_PARAM& address) {
        param = address;
        mjpeg = type == ZQ_TYPE_MJPEG;
        NetHandle* opened =
            zq_net_open(type, nullptr, &param, 0, 1 << 16, 258, &onEvent, &onFrame, this);
        ASSERT_NE(opened, nullptr);
        handle = opened;
        ASSERT_TRUE(recorder.waitEvent(10s, 0, 0)) << "no login";
    }
    // MJPEG notices carry a result or connection id in `extra`, not the payload length the
    // recorder would copy: only their value word is read.
    static int onEvent(int kind, int code, int* data, void* user, int extra) {
        auto* self = static_cast<Session*>(user);
        if (self->mjpeg && kind == ZQ_EVENT_CONTROL)
            extra = data ? 4 : 0;
        return SessionRecorder::onEvent(kind, code, data, &self->recorder, extra);
    }
    static void onFrame(int type, FRAME_HEAD* frame, void* user, int index) {
        SessionRecorder::onFrame(type, frame, &static_cast<Session*>(user)->recorder, index);
    }
    void close() {
        if (NetHandle* h = handle.exchange(nullptr))
            zq_net_close(h);
    }
    // What the session does: ask for talk, start capture on the camera's grant, which comes as
    // (9, 19) on a LAN, media status 9 by UID, control notice 7 with 19 from MJPEG cameras.
    void talk(TalkChannel& channel) {
        ASSERT_TRUE(channel.openTalk());
        ASSERT_TRUE(recorder.waitFor(5s, [&] {
            const auto mjpeg = recorder.eventsOf(ZQ_EVENT_CONTROL, 7);
            return recorder.indexOf(9, 19) >= 0 ||
                   recorder.indexOf(ZQ_EVENT_MEDIA_STATUS, 9) >= 0 ||
                   (!mjpeg.empty() && mjpeg.front().value == 19);
        })) << "talk not granted";
        ASSERT_TRUE(channel.startCapture());
    }

    DEVICE_PARAM param{};
    bool mjpeg = false;
    std::atomic<NetHandle*> handle{nullptr};
    SessionRecorder recorder;
};

class TalkToCamera : public controltest::WavMicrophone {
protected:
    void TearDown() override {
        h264.close();
        mjpeg.close();
    }
    void openH264() {
        camsim::CameraConfig config;
        config.listenAddress = "127.0.0.1";
        const auto ports = h264Camera.start(config);
        ASSERT_TRUE(ports) << h264Camera.lastError();
        h264.open(ZQ_TYPE_H264_TCP, makeParam(ports->port, ports->webPort));
    }
    void openMjpeg() {
        camsim::MjpegCameraConfig config;
        config.listenAddress = "127.0.0.1";
        const auto ports = mjpegCamera.start(config);
        ASSERT_TRUE(ports) << mjpegCamera.lastError();
        mjpeg.open(ZQ_TYPE_MJPEG, makeParam(ports->port, ports->webPort));
        // Talk travels on the media connection, logged in once pictures flow.
        ASSERT_TRUE(mjpeg.recorder.waitFrames(10s, 1));
    }
    std::vector<int16_t> mjpegHeard() { return decodeAdpcm(mjpegCamera.talkAudio()); }

    camsim::H264Camera h264Camera;
    camsim::MjpegCamera mjpegCamera;
    Session h264, mjpeg;
};

TEST_F(TalkToCamera, AnH264CameraHearsTheToneInG726) {
    ASSERT_NO_FATAL_FAILURE(openH264());
    TalkChannel talk(h264, *Device::talkProfileForClass(17));
    ASSERT_NO_FATAL_FAILURE(h264.talk(talk));
    ASSERT_TRUE(h264.recorder.waitFor(5s, [&] { return h264Camera.talkPcm().size() >= 6480; }));
    talk.stopCapture();
    EXPECT_EQ(h264Camera.stats().talkRejects, 0u);
    EXPECT_NEAR(dominantFrequency(toneOf(h264Camera.talkPcm(), 480)), 1000, 30);
}

TEST_F(TalkToCamera, AnMjpegCameraHearsTheToneInExactImaAdpcmPackets) {
    ASSERT_NO_FATAL_FAILURE(openMjpeg());
    TalkChannel talk(mjpeg, *Device::talkProfileForClass(16));
    ASSERT_NO_FATAL_FAILURE(mjpeg.talk(talk));
    ASSERT_TRUE(mjpeg.recorder.waitFor(5s, [&] { return mjpegHeard().size() >= 6320; }));
    talk.stopCapture();
    EXPECT_EQ(mjpegCamera.stats().talkRejects, 0u) << "packets other than 160 bytes";
    EXPECT_NEAR(dominantFrequency(toneOf(mjpegHeard(), 320)), 1000, 30);
}

TEST_F(TalkToCamera, ACameraReachedByUidHearsTheToneInVoiceFrames) {
    iotc::Relay relay;
    const auto port = relay.start("127.0.0.1", 0);
    ASSERT_TRUE(port);
    IOTC_Initialize(0, ("127.0.0.1:" + std::to_string(*port)).c_str(), nullptr, nullptr, nullptr);
    RDT_Initialize();
    camsim::P2pCamera camera;
    ASSERT_TRUE(camera.start({}, "VSTRCTRLTALK00000001")) << camera.lastError();
    Session session;
    DEVICE_PARAM param = makeParam(0, 0);
    std::snprintf(param.host, sizeof param.host, "VSTRCTRLTALK00000001");
    ASSERT_NO_FATAL_FAILURE(session.open(ZQ_TYPE_H264_P2P, param));
    TalkChannel talk(session, *Device::talkProfileForClass(19));
    ASSERT_NO_FATAL_FAILURE(session.talk(talk));
    ASSERT_TRUE(
        session.recorder.waitFor(5s, [&] { return camera.talkBytes().size() >= 14 * 124; }));
    talk.stopCapture();
    session.close();
    camera.stop();

    // The simulated camera decodes only G.726: its raw bytes are decoded here.
    const auto pcm = controltest::decodeVoice(camera.talkBytes());
    EXPECT_NEAR(dominantFrequency(toneOf(pcm, 480)), 1000, 30);
    relay.stop();
}

// One microphone for two families: its 640-byte blocks feed the G.726 encoder 960 bytes at a
// time and the ADPCM encoder 640, and the sessions' own (silent) devices stay quiet.
TEST_F(TalkToCamera, ABroadcastReachesAnH264AndAnMjpegCamera) {
    ASSERT_NO_FATAL_FAILURE(openH264());
    ASSERT_NO_FATAL_FAILURE(openMjpeg());
    TalkChannel h264Talk(h264, *Device::talkProfileForClass(17));
    TalkChannel mjpegTalk(mjpeg, *Device::talkProfileForClass(16));
    Device::BroadcastTalk broadcast;
    {
        controltest::ScopedEnv silent("ZQAUDIO_DEVICE", "null");
        ASSERT_TRUE(broadcast.add(h264Talk));
        ASSERT_TRUE(broadcast.add(mjpegTalk));
        ASSERT_NO_FATAL_FAILURE(h264.talk(h264Talk));
        ASSERT_NO_FATAL_FAILURE(mjpeg.talk(mjpegTalk));
    }
    ASSERT_TRUE(broadcast.start());
    ASSERT_TRUE(h264.recorder.waitFor(
        5s, [&] { return h264Camera.talkPcm().size() >= 6480 && mjpegHeard().size() >= 6320; }));
    broadcast.stop();

    const auto h264Pcm = h264Camera.talkPcm();
    for (size_t block = 0; block < 12; ++block)
        EXPECT_GT(controltest::rms(h264Pcm.data() + block * 480, 480), 500) << "block " << block;
    EXPECT_NEAR(dominantFrequency(toneOf(h264Pcm, 480)), 1000, 30);
    EXPECT_EQ(mjpegCamera.stats().talkRejects, 0u);
    EXPECT_NEAR(dominantFrequency(toneOf(mjpegHeard(), 320)), 1000, 30);
}

} // namespace
