#include "CameraFixture.h"

#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace camtest {
namespace {

class CgiHttpTest : public CameraTest {
protected:
    // Runs a CGI command with the right credentials; returns the XML body.
    std::string cgi(const std::string& commandAndParams, const std::string& password = "secret") {
        const HttpReply reply =
            httpGet(ports.webPort, "/cgi-bin/CGIProxy.fcgi?usr=admin&pwd=" + password +
                                       "&cmd=" + commandAndParams);
        EXPECT_EQ(reply.status, 200);
        EXPECT_NE(reply.headers.find("Content-Length: " + std::to_string(reply.body.size())),
                  std::string::npos);
        return reply.body;
    }
    int result(const std::string& commandAndParams) {
        const auto value = xmlValue(cgi(commandAndParams), "result");
        return value ? std::stoi(*value) : 99;
    }
};

TEST_F(CgiHttpTest, WrongPasswordGetsMinusEightForEveryCommand) {
    for (const char* command :
         {"getIPInfo", "setBrightness&brightness=10", "", "snapPicture", "noSuchCommand"}) {
        const std::string xml = cgi(command, "nope");
        EXPECT_EQ(xmlValue(xml, "result"), "-8") << command;
        EXPECT_FALSE(xmlValue(xml, "ip")) << command;
    }
    camera.setRefuseLogins(true);
    EXPECT_EQ(xmlValue(cgi("getIPInfo"), "result"), "-8");
    EXPECT_EQ(camera.cgiState().image.brightness, 50);
}

TEST_F(CgiHttpTest, PictureSettingsFollowTheirParameters) {
    const std::string info = cgi("getIPInfo");
    EXPECT_EQ(xmlValue(info, "result"), "0");
    EXPECT_EQ(xmlValue(info, "ip"), "127.0.0.1");
    EXPECT_TRUE(xmlValue(info, "mask"));

    EXPECT_EQ(result("setBrightness&brightness=70"), 0);
    EXPECT_EQ(result("setContrast&constrast=20"), 0);
    EXPECT_EQ(result("setContrast&contrast=30"), -2) << "the parameter is spelled constrast";
    EXPECT_EQ(result("setHue&hue=101"), -2);
    EXPECT_EQ(result("setSaturation&saturation=x1"), -2);
    EXPECT_EQ(result("setSharpness&sharpness=5"), 0);
    const std::string image = cgi("getImageSetting");
    EXPECT_EQ(xmlValue(image, "brightness"), "70");
    EXPECT_EQ(xmlValue(image, "contrast"), "20");
    EXPECT_EQ(xmlValue(image, "hue"), "50");
    EXPECT_EQ(xmlValue(image, "sharpness"), "5");
    EXPECT_EQ(result("resetImageSetting"), 0);
    EXPECT_EQ(xmlValue(cgi("getImageSetting"), "brightness"), "50");

    EXPECT_EQ(result("mirrorVideo&isMirror=1"), 0);
    EXPECT_EQ(result("flipVideo&isFlip=2"), -2);
    const std::string mirror = cgi("getMirrorAndFlipSetting");
    EXPECT_EQ(xmlValue(mirror, "isMirror"), "1");
    EXPECT_EQ(xmlValue(mirror, "isFlip"), "0");
    EXPECT_EQ(result("setMainVideoStreamType&streamType=2"), 0);
    EXPECT_EQ(xmlValue(cgi("getMainVideoStreamType"), "streamType"), "2");
    EXPECT_EQ(result("setPwrFreq&freq=0"), 0);
    EXPECT_EQ(camera.cgiState().powerFrequency, 0);
}

TEST_F(CgiHttpTest, PtzPresetsAndCruisesKeepTheirRules) {
    EXPECT_EQ(result("ptzMoveTopLeft"), 0);
    EXPECT_EQ(camera.cgiState().lastPtzMove, "ptzMoveTopLeft");
    EXPECT_EQ(result("ptzStopRun"), 0);
    EXPECT_EQ(camera.cgiState().lastPtzMove, "ptzStopRun");
    EXPECT_EQ(result("zoomIn"), 0);
    EXPECT_EQ(camera.cgiState().zoom, "zoomIn");
    EXPECT_EQ(result("openInfraLed"), 0);
    EXPECT_EQ(result("setInfraLedConfig&mode=1"), 0);
    EXPECT_TRUE(camera.cgiState().infraLedOn);
    EXPECT_EQ(camera.cgiState().infraLedMode, 1);

    EXPECT_EQ(result("ptzAddPresetPoint&name=front%20door"), 0);
    EXPECT_EQ(result("ptzAddPresetPoint&name=front%20door"), -3) << "duplicate";
    EXPECT_EQ(result("ptzAddPresetPoint&name="), -2);
    EXPECT_EQ(result("ptzGotoPresetPoint&name=nowhere"), -3);
    EXPECT_EQ(result("ptzGotoPresetPoint&name=front%20door"), 0);
    EXPECT_EQ(camera.cgiState().lastPreset, "front door");
    std::string list = cgi("getPTZPresetPointList");
    EXPECT_EQ(xmlValue(list, "cnt"), "3");
    EXPECT_EQ(xmlValue(list, "point2"), "front door");
    EXPECT_EQ(xmlValue(list, "point15"), "");
    for (int i = 3; i < 16; ++i) {
        EXPECT_EQ(result("ptzAddPresetPoint&name=p" + std::to_string(i)), 0);
    }
    EXPECT_EQ(result("ptzAddPresetPoint&name=one-too-many"), -3);
    EXPECT_EQ(result("ptzDeletePresetPoint&name=home"), 0);
    EXPECT_EQ(result("ptzDeletePresetPoint&name=home"), -3);
    list = cgi("getPTZPresetPointList");
    EXPECT_EQ(xmlValue(list, "cnt"), "15");
    EXPECT_EQ(xmlValue(list, "point0"), "gate");

    const std::string maps = cgi("ptzGetCruiseMapList");
    EXPECT_EQ(xmlValue(maps, "cnt"), "2");
    EXPECT_EQ(xmlValue(maps, "map1"), "sweep");
    EXPECT_EQ(xmlValue(maps, "map7"), "");
    EXPECT_EQ(result("ptzStartCruise&mapName=unknown"), -3);
    EXPECT_EQ(result("ptzStartCruise&mapName=sweep"), 0);
    EXPECT_EQ(camera.cgiState().activeCruise, "sweep");
    EXPECT_EQ(result("ptzStopCruise"), 0);
    EXPECT_EQ(camera.cgiState().activeCruise, "");

    EXPECT_EQ(result(""), 0);
    EXPECT_EQ(result("makeCoffee"), -1);
    const auto log = camera.cgiLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().command, "makeCoffee");
    EXPECT_EQ(log.back().result, -1);
    EXPECT_EQ(log.front().command, "ptzMoveTopLeft");
    EXPECT_EQ(log.front().params.at("usr"), "admin");
}

TEST_F(CgiHttpTest, SnapshotPathServesAJpegOfTheMainPicture) {
    const std::string xml = cgi("snapPicture");
    const std::string marker = "<img src=\"";
    const size_t at = xml.find(marker);
    ASSERT_NE(at, std::string::npos) << xml;
    // The client skips 13 characters from the tag's start and reads up to "\"/>".
    const size_t end = xml.find("\"/>", at);
    ASSERT_NE(end, std::string::npos);
    const std::string path = xml.substr(at + 13, end - at - 13);
    EXPECT_EQ(path.rfind("snapPic/Snap_", 0), 0u) << path;

    const HttpReply reply = httpGet(ports.webPort, "/" + path);
    ASSERT_EQ(reply.status, 200);
    EXPECT_NE(reply.headers.find("Content-Type: image/jpeg"), std::string::npos);
    ASSERT_GT(reply.body.size(), 1000u);

    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    ASSERT_EQ(avcodec_open2(context, codec, nullptr), 0);
    AVPacket* packet = av_packet_alloc();
    av_new_packet(packet, static_cast<int>(reply.body.size()));
    std::memcpy(packet->data, reply.body.data(), reply.body.size());
    AVFrame* frame = av_frame_alloc();
    EXPECT_EQ(avcodec_send_packet(context, packet), 0);
    EXPECT_EQ(avcodec_receive_frame(context, frame), 0);
    EXPECT_EQ(frame->width, 1280);
    EXPECT_EQ(frame->height, 720);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);

    EXPECT_EQ(httpGet(ports.webPort, "/snapPic/Snap_0_999.jpg").status, 404);
}

TEST_F(CgiHttpTest, MalformedRequestsAreAnsweredWithoutHarm) {
    EXPECT_EQ(httpGet(ports.webPort, "/cgi-bin/CGIProxy.fcgi?usr=admin&pwd=%zz&cmd=x").status, 400);
    EXPECT_EQ(httpGet(ports.webPort, "/cgi-bin/CGIProxy.fcgi?usr=a%00b&cmd=x").status, 400);
    EXPECT_EQ(httpGet(ports.webPort, "/cgi-bin/CGIProxy.fcgi?usr=admin&pwd=secret%").status, 400);
    EXPECT_EQ(httpGet(ports.webPort, "/index.html").status, 404);
    // An endless request head is cut off: a 400, or a reset if the unread rest arrives first.
    const int oversized = httpGet(ports.webPort, "/" + std::string(9000, 'a')).status;
    EXPECT_TRUE(oversized == 400 || oversized == 0) << oversized;
    RawClient post;
    ASSERT_TRUE(post.connect(ports.webPort));
    const std::string request = "POST /cgi-bin/CGIProxy.fcgi HTTP/1.1\r\n\r\n";
    post.sendBytes(request.data(), request.size());
    EXPECT_TRUE(post.waitClosed(2000));
    EXPECT_EQ(result("getIPInfo"), 0) << "still serving";
}

TEST_F(CgiHttpTest, DelayedAnswersArriveLate) {
    camera.setHttpDelayMs(300);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(result("getIPInfo"), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
}

TEST_F(CgiHttpTest, OnePortModeServesHttpAndPrefacedChannelsOnTheMediaPort) {
    restart([](camsim::CameraConfig& config) { config.onePort = true; });
    ASSERT_EQ(ports.webPort, ports.port);
    const HttpReply reply =
        httpGet(ports.port, "/cgi-bin/CGIProxy.fcgi?usr=admin&pwd=secret&cmd=getIPInfo");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(xmlValue(reply.body, "result"), "0");

    const std::string preface =
        "SERVERPUSH / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(ports.port) +
        "\r\nAccept:*/*\r\nConnection: Close\r\n\r\n";
    RawClient control;
    ASSERT_TRUE(control.connect(ports.port));
    ASSERT_TRUE(control.sendBytes(preface.data(), preface.size()));
    ASSERT_TRUE(control.sendPacket(12, controlLoginPayload("admin", "secret", 1)));
    const auto login = control.readPacket(2000);
    ASSERT_TRUE(login);
    EXPECT_EQ(login->command, 100);
    EXPECT_EQ(login->word(0), 0);
    EXPECT_EQ(control.skipped(), 0u) << "the preface must not be echoed";

    RawClient live;
    ASSERT_TRUE(live.connect(ports.port));
    ASSERT_TRUE(live.sendBytes(preface.data(), preface.size()));
    ASSERT_TRUE(live.sendPacket(0, liveLoginPayload(0, "admin", "secret", 1)));
    const auto frame = live.readUntil(26, 2000);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->word(4), 1);
}

} // namespace
} // namespace camtest
