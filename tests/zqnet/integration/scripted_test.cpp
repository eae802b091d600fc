// Protocol details checked against a camera played by the test on a raw socket.

#include "ScriptedCamera.h"
#include "SessionRecorder.h"

#include <gtest/gtest.h>

#include <thread>

using namespace std::chrono_literals;

namespace {

constexpr int kReconnect = 1 << 16;

NetHandle* openOn(DEVICE_PARAM& param, SessionRecorder& recorder, int flags, int type = 4) {
    return zq_net_open(type, nullptr, &param, 0, flags, 258, SessionRecorder::onEvent,
                       SessionRecorder::onFrame, &recorder);
}

TEST(ScriptedCamera, OnePortModeSendsTheServerPushPrefaceOnBothChannels) {
    ScriptedCamera camera;
    DEVICE_PARAM param = makeParam(camera.port(), camera.port());
    SessionRecorder recorder;
    NetHandle* handle = openOn(param, recorder, 0);
    ASSERT_NE(handle, nullptr);
    ASSERT_TRUE(recorder.waitFor(5s, [&] { return camera.mediaLogins() >= 1; }));
    zq_net_close(handle);

    const std::string expected =
        "SERVERPUSH / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(camera.port()) +
        "\r\nAccept:*/*\r\nConnection: Close\r\n\r\n";
    int control = 0, media = 0;
    for (const auto& c : camera.connections()) {
        if (c.http)
            continue;
        EXPECT_EQ(c.preface, expected) << "channel " << c.firstCommand;
        control += c.firstCommand == 12;
        media += c.firstCommand == 0;
    }
    EXPECT_EQ(control, 1);
    EXPECT_EQ(media, 1);
}

TEST(ScriptedCamera, SeparatePortsSendNoPreface) {
    ScriptedCamera camera;
    ScriptedCamera web;
    DEVICE_PARAM param = makeParam(camera.port(), web.port());
    SessionRecorder recorder;
    NetHandle* handle = openOn(param, recorder, 0);
    ASSERT_TRUE(recorder.waitFor(5s, [&] { return camera.mediaLogins() >= 1; }));
    zq_net_close(handle);
    for (const auto& c : camera.connections())
        EXPECT_TRUE(c.preface.empty());
}

// A camera that stops sending entirely: after 15 s without a packet the media channel gives
// up on the connection.
TEST(ScriptedCamera, SilentStreamReconnectsAfterFifteenSeconds) {
    ScriptedCamera camera;
    DEVICE_PARAM param = makeParam(camera.port(), camera.port());
    SessionRecorder recorder;
    NetHandle* handle = openOn(param, recorder, 3 | kReconnect);
    ASSERT_TRUE(recorder.waitFor(5s, [&] { return camera.mediaLogins() >= 1; }));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(recorder.waitEvent(20s, ZQ_EVENT_MEDIA_STATUS, 1)) << "no reconnect";
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 14s);
    ASSERT_TRUE(recorder.waitFor(5s, [&] { return camera.mediaLogins() >= 2; }));
    zq_net_close(handle);
}

TEST(ScriptedCamera, SilentStreamStopsWithoutTheReconnectFlag) {
    ScriptedCamera camera;
    DEVICE_PARAM param = makeParam(camera.port(), camera.port());
    SessionRecorder recorder;
    NetHandle* handle = openOn(param, recorder, 3);
    ASSERT_TRUE(recorder.waitFor(5s, [&] { return camera.mediaLogins() >= 1; }));
    ASSERT_TRUE(recorder.waitFor(20s, [&] {
        for (const auto& e : recorder.events())
            if (e.kind == ZQ_EVENT_MEDIA_STATUS && e.code == 5 && e.value == 25)
                return true;
        return false;
    }));
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(camera.mediaLogins(), 1);
    EXPECT_EQ(recorder.indexOf(ZQ_EVENT_MEDIA_STATUS, 1), -1);
    zq_net_close(handle);
}

TEST(ScriptedCamera, CloseIsBoundedWhileAnHttpAnswerNeverComes) {
    ScriptedCamera camera(/*answerHttp=*/false);
    DEVICE_PARAM param = makeParam(camera.port(), camera.port());
    SessionRecorder recorder;
    NetHandle* handle = openOn(param, recorder, 0);
    ASSERT_TRUE(recorder.waitFor(3s, [&] { return !camera.connections().empty(); }));
    std::this_thread::sleep_for(200ms); // the control thread now waits for its answer
    EXPECT_LT(timedMs([&] { zq_net_close(handle); }), 1500);
}

TEST(ScriptedCamera, CloseIsBoundedWhileAUdtConnectWaits) {
    ScriptedCamera web; // answers the credential check, so the control thread goes on to UDT
    DEVICE_PARAM param = makeParam(web.port(), web.port());
    SessionRecorder recorder;
    // Nothing speaks UDT on that port: the connect waits for its handshake.
    NetHandle* handle = openOn(param, recorder, 0, ZQ_TYPE_H264_UDT);
    ASSERT_NE(handle, nullptr);
    std::this_thread::sleep_for(500ms);
    EXPECT_LT(timedMs([&] { zq_net_close(handle); }), 1500);
}

} // namespace
