// The session's link to its camera beyond pictures: talk for the two families whose codecs the
// H.264 LAN camera does not use (ADPCM on MJPEG cameras, the voice codec on cameras reached by
// UID), and the operator's request to leave a reconnecting camera alone for a while.

#include "ControlTestSupport.h"
#include "HeardAudio.h"
#include "SessionTestSupport.h"
#include "camsim/MjpegCamera.h"
#include "camsim/P2pCamera.h"
#include "iotc/Relay.h"
#include "iotc/iotc.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace std::chrono_literals;

namespace {

using controltest::dominantFrequency;
using controltest::toneOf;
using sessiontest::openSession;
using sessiontest::waitUntil;

class SessionLink : public controltest::WavMicrophone {
protected:
    void TearDown() override {
        session.reset();
        h264.stop();
        mjpeg.stop();
        p2p.stop();
        relay.stop();
    }

    // Talk as the operator starts it: ask, and the camera's grant starts the microphone.
    void talk() {
        ASSERT_TRUE(waitUntil(10s, [&] { return session->online(); })) << "no login";
        ASSERT_TRUE(session->OpenTalk());
        ASSERT_TRUE(waitUntil(10s, [&] { return session->IsTalkOpen(); })) << "talk not granted";
    }

    Device::DeviceEnvironment environment;
    camsim::H264Camera h264;
    camsim::MjpegCamera mjpeg;
    camsim::P2pCamera p2p;
    iotc::Relay relay;
    std::unique_ptr<Device::CSigleDevice> session;
};

TEST_F(SessionLink, AnMjpegCameraHearsTheToneInAdpcmUntilTalkCloses) {
    camsim::MjpegCameraConfig config;
    config.listenAddress = "127.0.0.1";
    const auto ports = mjpeg.start(config);
    ASSERT_TRUE(ports) << mjpeg.lastError();
    session = openSession(environment, Device::kClassMjpeg, "127.0.0.1", ports->port,
                          ports->webPort);
    ASSERT_NO_FATAL_FAILURE(talk());
    const auto heard = [&] { return controltest::decodeAdpcm(mjpeg.talkAudio()); };
    ASSERT_TRUE(waitUntil(10s, [&] { return heard().size() >= 6320; })) << "nothing heard";
    EXPECT_NEAR(dominantFrequency(toneOf(heard(), 320)), 1000, 30);

    session->CloseTalk();
    EXPECT_FALSE(session->IsTalkOpen());
    std::this_thread::sleep_for(300ms); // a block already on its way may still land
    const size_t packets = mjpeg.talkAudio().size();
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(mjpeg.talkAudio().size(), packets) << "talk went on after it was closed";
}

TEST_F(SessionLink, ACameraOfTheVoiceCodecKindHearsTheToneByUid) {
    const auto port = relay.start("127.0.0.1", 0);
    ASSERT_TRUE(port);
    IOTC_Initialize(0, ("127.0.0.1:" + std::to_string(*port)).c_str(), nullptr, nullptr, nullptr);
    RDT_Initialize();
    const std::string uid = "VSTRSESSIONVOICE0001";
    ASSERT_TRUE(p2p.start({}, uid)) << p2p.lastError();
    session = openSession(environment, Device::kClassHx, uid, 0, 0, true);
    ASSERT_NO_FATAL_FAILURE(talk());
    ASSERT_TRUE(waitUntil(10s, [&] { return p2p.talkBytes().size() >= 14 * 124; }))
        << "nothing heard";
    session->CloseTalk();
    const auto pcm = controltest::decodeVoice(p2p.talkBytes());
    EXPECT_NEAR(dominantFrequency(toneOf(pcm, 480)), 1000, 30);
}

// The hold is taken by the thread that reports the reconnect, the media thread: its login waits
// out the hold once, and the next loss reconnects at once.
TEST_F(SessionLink, ReconnectHoldDelaysOneReconnectOnly) {
    const auto ports = sessiontest::startLoopbackH264(h264);
    ASSERT_TRUE(ports);
    constexpr unsigned kHoldMs = 3000;
    environment.reconnectHoldMs = kHoldMs;
    session = openSession(environment, Device::kClassH264, "127.0.0.1", ports->port,
                          ports->webPort);
    ASSERT_TRUE(waitUntil(10s, [&] { return h264.stats().liveLogins >= 1; }));

    const auto reconnectMs = [&] {
        const uint32_t before = h264.stats().liveLogins;
        const auto dropped = std::chrono::steady_clock::now();
        h264.dropConnections();
        if (!waitUntil(20s, [&] { return h264.stats().liveLogins > before; }))
            return int64_t{-1};
        return int64_t{std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - dropped)
                           .count()};
    };
    environment.reconnectHold = true;
    const int64_t held = reconnectMs();
    EXPECT_GE(held, kHoldMs) << "the media thread did not wait";
    EXPECT_FALSE(environment.reconnectHold.load()) << "the hold was not used up";
    const int64_t after = reconnectMs();
    EXPECT_GE(after, 0) << "no reconnect after the hold";
    EXPECT_LT(after, int64_t{kHoldMs} - 500) << "the hold applied twice";
}

} // namespace
