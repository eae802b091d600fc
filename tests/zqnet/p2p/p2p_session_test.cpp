// Cameras reached by UID: whole sessions through a relay against the simulated peer-to-peer
// camera, the session object itself for what needs shorter clocks, and the transport's
// back-pressure against a peer that stops reading.

#include "SessionRecorder.h"
#include "camsim/P2pCamera.h"
#include "device/tutk/H264Tutk.h"
#include "iotc/Relay.h"
#include "iotc/iotc.h"
#include "transport/MutilTutk.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

using namespace std::chrono_literals;

namespace {

constexpr const char* kUid = "VSTRSIMP2P0000000001";
constexpr int kIndex = 6;
constexpr int kEventControl = ZQ_EVENT_CONTROL;

DEVICE_PARAM uidParam(const char* uid, const char* password = "admin") {
    DEVICE_PARAM param{};
    param.id = 9;
    std::snprintf(param.host, sizeof param.host, "%s", uid);
    std::snprintf(param.user, sizeof param.user, "admin");
    std::snprintf(param.password, sizeof param.password, "%s", password);
    return param;
}

std::string payloadText(const SessionRecorder::Event& event) {
    return std::string(event.payload.begin(), event.payload.end());
}

class PeerToPeer : public ::testing::Test {
protected:
    void SetUp() override {
        const auto port = relay.start("127.0.0.1", 0);
        ASSERT_TRUE(port);
        relayAddress = "127.0.0.1:" + std::to_string(*port);
        IOTC_Initialize(0, relayAddress.c_str(), nullptr, nullptr, nullptr);
        RDT_Initialize();
        ASSERT_TRUE(camera.start({}, kUid)) << camera.lastError();
        param = uidParam(kUid);
    }
    void TearDown() override {
        if (session)
            session->close();
        camera.stop();
        relay.stop();
    }

    void open(int buffering = 0) {
        session = std::make_shared<zq::tutk::CH264Tutk>(&param, buffering, kIndex | (1 << 16),
                                                        SessionRecorder::onEvent,
                                                        SessionRecorder::onFrame, &recorder);
        ASSERT_TRUE(session->start());
    }

    void openAndStream() {
        open();
        ASSERT_TRUE(recorder.waitEvent(10s, 0, 0)) << "media channel never logged in";
        session->setCommand(1, 0, 0);
        ASSERT_TRUE(recorder.waitFrames(10s, 10)) << "no video over the media channel";
    }

    // The answers (256, code) seen so far, as text.
    std::vector<std::string> answers(int code) {
        std::vector<std::string> texts;
        for (const auto& event : recorder.eventsOf(kEventControl, code))
            texts.push_back(payloadText(event));
        return texts;
    }

    iotc::Relay relay;
    std::string relayAddress;
    camsim::P2pCamera camera;
    DEVICE_PARAM param{};
    SessionRecorder recorder;
    std::shared_ptr<zq::tutk::CH264Tutk> session;
};

TEST_F(PeerToPeer, LogsInOnControlThenMediaAndDeliversFramesWithTheCallersIndex) {
    openAndStream();
    // The media thread starts on the accepted login and may report before the login reply is
    // relayed; that it waits for the acceptance at all is the refused-login case below.
    ASSERT_GE(recorder.indexOf(kEventControl, 100), 0);
    EXPECT_EQ(recorder.eventsOf(kEventControl, 100).front().value, 0);
    EXPECT_EQ(recorder.eventsOf(0, 0).front().extra, kIndex);
    EXPECT_EQ(recorder.lastIndex(), kIndex);

    int previous = -1;
    for (const auto& frame : recorder.frames()) {
        if (frame.type != ZQ_MEDIA_VIDEO)
            continue;
        EXPECT_EQ(frame.head.type, ZQ_MEDIA_VIDEO);
        EXPECT_EQ(frame.head.frameRate, 25);
        if (previous >= 0) {
            EXPECT_EQ(frame.head.cameraWord0, previous + 1) << "frame lost or repeated";
        }
        previous = frame.head.cameraWord0;
    }
    EXPECT_EQ(camera.stats().controlLogins, 1u);
    EXPECT_EQ(camera.stats().liveLogins, 1u);
}

TEST_F(PeerToPeer, RefusedLoginGivesEventTwoAndNeverStartsMedia) {
    camera.setRefuseLogins(true);
    open();
    ASSERT_TRUE(recorder.waitEvent(10s, 0, 2));
    std::this_thread::sleep_for(1s);
    EXPECT_FALSE(session->mediaRunning());
    EXPECT_LT(recorder.indexOf(0, 0), 0);
    EXPECT_LT(recorder.indexOf(kEventControl, 100), 0) << "a refusal is not relayed as a login";
    EXPECT_EQ(camera.stats().liveLogins, 0u);
}

TEST_F(PeerToPeer, SettingsTravelAsTextCommandsAndTheirAnswersComeBack) {
    openAndStream();
    session->setCommand(34, 70, 0); // brightness
    session->setCommand(12, 0, 0);  // move up
    session->setCommand(61, 2, 5);  // infra-red mode: only 1 means 1
    {
        // The caller's text is taken at once: the buffer may be reused right after the call.
        char text[64] = "setHue&hue=33";
        session->setCommand(12, 300, reinterpret_cast<intptr_t>(text));
        std::snprintf(text, sizeof text, "setHue&hue=99");
    }
    ASSERT_TRUE(recorder.waitFor(10s, [&] { return answers(11).size() >= 4; }));

    const auto state = camera.cgiState();
    EXPECT_EQ(state.image.brightness, 70);
    EXPECT_EQ(state.image.hue, 33);
    EXPECT_EQ(state.lastPtzMove, "ptzMoveUp");
    EXPECT_EQ(state.infraLedMode, 0);
    for (const auto& answer : answers(11)) {
        EXPECT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u) << answer;
        EXPECT_NE(answer.find("\r\n\r\n"), std::string::npos);
        EXPECT_NE(answer.find("<result>0</result>"), std::string::npos) << answer;
    }
    // The credentials travel with every command.
    for (const auto& entry : camera.cgiLog()) {
        EXPECT_EQ(entry.params.at("usr"), "admin");
        EXPECT_EQ(entry.params.at("pwd"), "admin");
    }
}

TEST_F(PeerToPeer, SnapshotComesBackAsPictureBytes) {
    openAndStream();
    session->setCommand(12, 25, 0);
    ASSERT_TRUE(recorder.waitEvent(10s, kEventControl, 25));
    const auto picture = recorder.eventsOf(kEventControl, 25).front().payload;
    ASSERT_GT(picture.size(), 1000u);
    EXPECT_EQ(picture[0], 0xFF);
    EXPECT_EQ(picture[1], 0xD8);
    EXPECT_EQ(picture[picture.size() - 2], 0xFF);
    EXPECT_EQ(picture[picture.size() - 1], 0xD9);
}

TEST_F(PeerToPeer, QueriesWithoutActionOverPeerToPeerSendNothing) {
    openAndStream();
    for (int code : {27, 28, 29, 40, 42, 44, 47, 105})
        session->setCommand(12, code, 0);
    session->setCommand(12, 36, 0); // reset image: the one query here that is a command
    ASSERT_TRUE(recorder.waitFor(10s, [&] { return !answers(11).empty(); }));
    std::this_thread::sleep_for(300ms);
    const auto log = camera.cgiLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log.front().command, "resetImageSetting");
}

TEST_F(PeerToPeer, TalkTravelsInFixedPacketsAndLongDataIsRefused) {
    openAndStream();
    std::vector<char> audio(960);
    for (size_t i = 0; i < audio.size(); ++i)
        audio[i] = static_cast<char>(i * 7);
    session->setCommand(4, reinterpret_cast<intptr_t>(audio.data()), 960);
    session->setCommand(4, reinterpret_cast<intptr_t>(audio.data()), 961);
    session->setCommand(4, reinterpret_cast<intptr_t>(audio.data()), 100);
    ASSERT_TRUE(recorder.waitFor(5s, [&] { return camera.talkBytes().size() >= 1060; }));
    std::this_thread::sleep_for(200ms);
    const auto heard = camera.talkBytes();
    ASSERT_EQ(heard.size(), 1060u) << "only the announced length of each packet is audio";
    EXPECT_TRUE(std::equal(audio.begin(), audio.end(), heard.begin(),
                           [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; }));
}

TEST_F(PeerToPeer, PlaybackBufferingOpensASessionThatDeliversNoFrames) {
    open(25);
    ASSERT_TRUE(recorder.waitEvent(10s, 0, 0));
    session->setCommand(1, 0, 0);
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(recorder.videoFrames(), 0u);
    // Frames did arrive and count as video for the watchdog: no reconnect happened.
    EXPECT_EQ(camera.stats().liveLogins, 1u);
}

TEST_F(PeerToPeer, SilentVideoReconnectsControlFirstThenMedia) {
    open();
    session->setVideoWatchdogMs(1500);
    ASSERT_TRUE(recorder.waitEvent(10s, 0, 0));
    session->setCommand(1, 0, 0);
    ASSERT_TRUE(recorder.waitFrames(10s, 5));
    camera.setStalled(true);
    ASSERT_TRUE(recorder.waitEvent(10s, ZQ_EVENT_MEDIA_STATUS, 1)) << "watchdog never fired";
    camera.setStalled(false);
    ASSERT_TRUE(recorder.waitFor(15s, [&] { return recorder.eventsOf(0, 0).size() >= 2; }));

    const auto reconnect = recorder.eventsOf(ZQ_EVENT_MEDIA_STATUS, 1).front();
    EXPECT_EQ(reconnect.value, 0);
    EXPECT_EQ(reconnect.extra, 4);
    // After the media loss: a new control login, then (and only then) a new media login.
    const auto events = recorder.events();
    int lost = -1, controlAgain = -1, mediaAgain = -1;
    for (int i = 0; i < static_cast<int>(events.size()); ++i) {
        const auto& e = events[static_cast<size_t>(i)];
        if (lost < 0 && e.kind == ZQ_EVENT_MEDIA_STATUS && e.code == 1)
            lost = i;
        else if (lost >= 0 && controlAgain < 0 && e.kind == kEventControl && e.code == 100)
            controlAgain = i;
        else if (lost >= 0 && mediaAgain < 0 && e.kind == 0 && e.code == 0)
            mediaAgain = i;
    }
    ASSERT_GE(controlAgain, 0);
    EXPECT_LT(controlAgain, mediaAgain);
    EXPECT_EQ(session->linkGeneration(), 2) << "one loss must cause exactly one reconnect";
    EXPECT_EQ(camera.stats().controlLogins, 2u);
    session->setCommand(1, 0, 0);
    const size_t before = recorder.videoFrames();
    EXPECT_TRUE(recorder.waitFrames(10s, before + 10));
}

TEST_F(PeerToPeer, DroppedSessionIsMadeAgain) {
    openAndStream();
    camera.dropConnections();
    ASSERT_TRUE(recorder.waitFor(15s, [&] { return recorder.eventsOf(0, 0).size() >= 2; }));
    EXPECT_GE(session->linkGeneration(), 2);
    session->setCommand(1, 0, 0);
    const size_t before = recorder.videoFrames();
    EXPECT_TRUE(recorder.waitFrames(10s, before + 10));
}

TEST_F(PeerToPeer, UnknownUidReportsConnectFailuresAndClosesPromptly) {
    param = uidParam("VSTRSIMP2P0000000404");
    open();
    ASSERT_TRUE(recorder.waitFor(5s, [&] { return recorder.eventsOf(0, 1).size() >= 2; }))
        << "each failed attempt is reported and retried";
    const long long ms = timedMs([&] { session->close(); });
    session.reset();
    EXPECT_LT(ms, 1200);
}

TEST_F(PeerToPeer, CloseWhileStreamingIsBoundedAndSilencesCallbacks) {
    openAndStream();
    const long long ms = timedMs([&] { session->close(); });
    EXPECT_LT(ms, 1200);
    const size_t frames = recorder.videoFrames();
    const size_t events = recorder.events().size();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(recorder.videoFrames(), frames);
    EXPECT_EQ(recorder.events().size(), events);
    session.reset();
    // The camera sees the session end.
    EXPECT_TRUE(recorder.waitFor(5s, [&] { return camera.sessionCount() == 0; }));
}

// Whole sessions through the exports, as the client opens them.
TEST_F(PeerToPeer, ExportsOpenSessionsAndSingleChannelsByUid) {
    NetHandle* handle = zq_net_open(ZQ_TYPE_H264_P2P, nullptr, &param, 0, kIndex, 0,
                                    SessionRecorder::onEvent, SessionRecorder::onFrame, &recorder);
    ASSERT_NE(handle, nullptr);
    ASSERT_TRUE(recorder.waitEvent(10s, 0, 0));
    zq_net_setcommand(handle, 1, 0, 0);
    EXPECT_TRUE(recorder.waitFrames(10s, 10));
    zq_net_close(handle);

    // A control channel alone: what the first read brings is relayed (the login reply and the
    // notices behind it), then the channel stops reading, so a later alarm never arrives.
    struct Road {
        std::mutex lock;
        std::vector<int> codes;
    } road;
    auto onControl = [](int code, const void*, void* user, int) {
        auto* r = static_cast<Road*>(user);
        std::lock_guard lock(r->lock);
        r->codes.push_back(code);
    };
    auto codes = [&] {
        std::lock_guard lock(road.lock);
        return road.codes;
    };
    NetHandle* control = zq_open_ctrl_road(261, &param, onControl, &road);
    ASSERT_NE(control, nullptr);
    ASSERT_TRUE(recorder.waitFor(10s, [&] { return !codes().empty(); }));
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(codes().front(), 100);
    const size_t relayed = codes().size();
    EXPECT_EQ(camera.sendAlarm({}), 1u);
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(codes().size(), relayed);
    EXPECT_EQ(zq_close_ctrl_road(control), 0);
}

TEST(PeerToPeerCommandRange, UnusedTypesAndMissingParametersOpenNothing) {
    EXPECT_EQ(zq_net_open(ZQ_TYPE_H264_P2P, nullptr, nullptr, 0, 0, 0, nullptr, nullptr, nullptr),
              nullptr);
    DEVICE_PARAM param = uidParam(kUid);
    // MJPEG cameras are served whole only.
    EXPECT_EQ(zq_open_device(1, nullptr, &param, 0, 0, 0, nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(zq_open_ctrl_road(257, &param, nullptr, nullptr), nullptr);
}

// The transport drops writes while the channel's queue is over its bound, instead of letting
// a peer that stopped reading grow it without end.
TEST(PeerToPeerTransport, WritesAreDroppedWhileTheSendQueueIsLong) {
    iotc::Relay relay;
    const auto port = relay.start("127.0.0.1", 0);
    ASSERT_TRUE(port);
    const std::string address = "127.0.0.1:" + std::to_string(*port);
    IOTC_Initialize(0, address.c_str(), nullptr, nullptr, nullptr);
    RDT_Initialize();
    const int device = IOTC_Device_Login("VSTRSIMP2P0000000777");
    ASSERT_GE(device, 0);
    std::thread listener([&] {
        const int sid = IOTC_Listen(device, 5000);
        if (sid >= 0)
            RDT_Create(sid, 5000, 0); // opens its side and never reads
    });

    zq::CMutilTutk link;
    ASSERT_EQ(link.connect("VSTRSIMP2P0000000777", 0), 0);
    const int channel = link.createChannel(0, 0);
    ASSERT_GE(channel, 0);
    listener.join();

    std::vector<char> block(64 * 1024, 'x');
    int dropped = 0;
    for (int i = 0; i < 2000 && dropped == 0; ++i) {
        const int written = link.write(channel, block.data(), static_cast<int>(block.size()));
        if (written == -2)
            dropped = 1;
        else
            ASSERT_EQ(written, static_cast<int>(block.size()));
    }
    ASSERT_EQ(dropped, 1) << "the queue never reached its bound";
    RdtStatus status{};
    ASSERT_EQ(RDT_Status_Check(channel, &status), 0);
    EXPECT_GT(status.sendQueued, zq::CMutilTutk::kMaxPendingSend);
    EXPECT_LT(status.sendQueued, zq::CMutilTutk::kMaxPendingSend + 2 * block.size());
    link.close();
    IOTC_Device_Logout(device);
    relay.stop();
}

} // namespace
