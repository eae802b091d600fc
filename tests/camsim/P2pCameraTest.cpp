#include "CameraFixture.h"
#include "P2pClient.h"

#include "camsim/P2pCamera.h"
#include "camsim/Protocol.h"
#include "camsim/RdtLink.h"

#include "iotc/Relay.h"
#include "iotc/iotc.h"

#include <cstring>
#include <thread>

namespace camtest {
namespace {

constexpr const char* kUid = "VSTRSIMP2P0000000001";

// The text after the blank line of an HTTP-style answer, and its head.
struct TextAnswer {
    std::string head;
    std::string body;
};

TextAnswer splitAnswer(const RxPacket& packet) {
    const std::string text(packet.payload.begin(), packet.payload.end());
    const size_t end = text.find("\r\n\r\n");
    if (end == std::string::npos) {
        return {text, {}};
    }
    return {text.substr(0, end + 2), text.substr(end + 4)};
}

std::vector<uint8_t> textPayload(const std::string& text) {
    std::vector<uint8_t> payload(text.begin(), text.end());
    payload.push_back(0);
    return payload;
}

// Each test has a relay of its own on a free port.
class RelayTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto port = relay.start("127.0.0.1", 0);
        ASSERT_TRUE(port);
        relayPort = *port;
        const std::string address = "127.0.0.1:" + std::to_string(relayPort);
        IOTC_Initialize(0, address.c_str(), nullptr, nullptr, nullptr);
        RDT_Initialize();
    }
    void TearDown() override { relay.stop(); }

    iotc::Relay relay;
    uint16_t relayPort = 0;
};

// ... and one camera registered there.
class P2pCameraTest : public RelayTest {
protected:
    void SetUp() override {
        RelayTest::SetUp();
        ASSERT_TRUE(camera.start(config(), kUid)) << camera.lastError();
    }

    void TearDown() override {
        camera.stop();
        RelayTest::TearDown();
    }

    static camsim::CameraConfig config() {
        camsim::CameraConfig config;
        config.name = "test-p2p";
        config.user = "admin";
        config.password = "secret";
        return config;
    }

    // Connected, with the control login answered and its notices read.
    void connectAndLogin(P2pClient& client) {
        ASSERT_TRUE(client.connect(kUid)) << client.error();
        ASSERT_TRUE(client.control.sendPacket(12, controlLoginPayload("admin", "secret", 7)));
        const auto reply = client.control.readPacket(3000);
        ASSERT_TRUE(reply);
        ASSERT_EQ(reply->command, 100);
        ASSERT_EQ(reply->word(0), 0);
        for (const int32_t notice : {106, 107, 110}) {
            const auto packet = client.control.readPacket(2000);
            ASSERT_TRUE(packet);
            ASSERT_EQ(packet->command, notice);
        }
    }

    // Sends a text command and returns the next answer (115 or 116).
    std::optional<RxPacket> command(P2pClient& client, const std::string& text) {
        EXPECT_TRUE(client.control.sendPacket(114, textPayload(text)));
        auto answer = client.control.readPacket(3000);
        EXPECT_TRUE(answer) << text;
        return answer;
    }

    camsim::P2pCamera camera{testStreams()};
};

TEST_F(P2pCameraTest, ControlLoginKeepAlivesAndNoticesTravelOverChannelZero) {
    P2pClient client;
    connectAndLogin(client);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(client.control.sendPacket(15, wordsPayload({7})));
    }
    EXPECT_TRUE(eventually([&] { return camera.stats().keepAlives == 3; }));
    EXPECT_EQ(camera.stats().controlLogins, 1u);
    EXPECT_EQ(camera.sessionCount(), 1u);

    ASSERT_TRUE(eventually([&] { return camera.sendAlarm({1, 0, 0, 20}) == 1; }));
    const auto alarm = client.control.readUntil(111, 2000);
    ASSERT_TRUE(alarm);
    EXPECT_EQ(alarm->payload, (std::vector<uint8_t>{1, 0, 0, 20}));

    // A client that hangs up leaves nothing behind on the camera.
    client.close();
    EXPECT_TRUE(eventually([&] { return camera.sessionCount() == 0; }));
    EXPECT_TRUE(eventually([&] { return camera.stats().activeConnections == 0; }));
}

TEST_F(P2pCameraTest, TextCommandRunsTheCgiModelAndAnswersWithHttpHead) {
    P2pClient client;
    connectAndLogin(client);

    const auto set = command(client, "cmd=setBrightness&brightness=60&usr=admin&pwd=secret");
    ASSERT_TRUE(set);
    EXPECT_EQ(set->command, 115);
    const TextAnswer answer = splitAnswer(*set);
    EXPECT_EQ(answer.head.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << answer.head;
    EXPECT_NE(answer.head.find("Content-Type: text/xml\r\n"), std::string::npos);
    EXPECT_NE(answer.head.find("Content-Length: " + std::to_string(answer.body.size()) + "\r\n"),
              std::string::npos)
        << answer.head;
    EXPECT_EQ(answer.body.rfind("<CGI_Result>", 0), 0u) << answer.body;
    EXPECT_EQ(xmlValue(answer.body, "result"), "0");
    EXPECT_EQ(camera.cgiState().image.brightness, 60);

    // Reading back through the same path shows the change, with the command's own fields.
    const auto get = command(client, "cmd=getImageSetting&usr=admin&pwd=secret");
    ASSERT_TRUE(get);
    EXPECT_EQ(xmlValue(splitAnswer(*get).body, "brightness"), "60");

    const auto log = camera.cgiLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].command, "setBrightness");
    EXPECT_EQ(log[0].params.at("brightness"), "60");
    EXPECT_EQ(camera.stats().textCommands, 2u);
}

TEST_F(P2pCameraTest, WrongPasswordOrRefusedLoginGetsTheLoginErrorBody) {
    P2pClient client;
    connectAndLogin(client);
    const auto wrong = command(client, "cmd=setBrightness&brightness=10&usr=admin&pwd=nope");
    ASSERT_TRUE(wrong);
    EXPECT_EQ(wrong->command, 115);
    EXPECT_EQ(xmlValue(splitAnswer(*wrong).body, "result"), "-8");

    camera.setRefuseLogins(true);
    const auto refused = command(client, "cmd=setBrightness&brightness=10&usr=admin&pwd=secret");
    ASSERT_TRUE(refused);
    EXPECT_EQ(xmlValue(splitAnswer(*refused).body, "result"), "-8");
    EXPECT_EQ(camera.cgiState().image.brightness, 50);
}

TEST_F(P2pCameraTest, SnapPictureAnswersWithTheJpegItselfAndFailsAsText) {
    P2pClient client;
    connectAndLogin(client);
    const auto snap = command(client, "cmd=snapPicture&usr=admin&pwd=secret");
    ASSERT_TRUE(snap);
    ASSERT_EQ(snap->command, 116);
    const std::vector<uint8_t>& jpeg = snap->payload;
    ASSERT_GT(jpeg.size(), 4u);
    EXPECT_EQ(jpeg[0], 0xFF);
    EXPECT_EQ(jpeg[1], 0xD8);
    EXPECT_EQ(jpeg[jpeg.size() - 2], 0xFF);
    EXPECT_EQ(jpeg[jpeg.size() - 1], 0xD9);
    EXPECT_EQ(camera.cgiState().snapshots, 1);

    // Without a picture there is no JPEG to send; the client gets the model's error document.
    const auto refused = command(client, "cmd=snapPicture&usr=admin&pwd=wrong");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->command, 115);
    EXPECT_EQ(xmlValue(splitAnswer(*refused).body, "result"), "-8");
}

TEST_F(P2pCameraTest, MediaLoginOnChannelOneDeliversFramesUntilStalled) {
    P2pClient client;
    ASSERT_TRUE(client.connect(kUid)) << client.error();
    ASSERT_TRUE(client.media.sendPacket(0, liveLoginPayload(0, "admin", "secret", 7)));
    for (int32_t expected = 0; expected < 10; ++expected) {
        const auto frame = client.media.readUntil(26, 2000);
        ASSERT_TRUE(frame) << "frame " << expected;
        EXPECT_EQ(frame->word(0), expected);
        EXPECT_EQ(static_cast<size_t>(frame->word(2)) + 36, frame->payload.size());
    }
    EXPECT_EQ(camera.stats().liveLogins, 1u);

    // A stalled camera keeps the session but sends nothing, which is what a client's no-video
    // watchdog must notice.
    camera.setStalled(true);
    for (int inFlight = 0; inFlight < 25 && client.media.readUntil(26, 200); ++inFlight) {
    }
    EXPECT_FALSE(client.media.readUntil(26, 500));
    camera.setStalled(false);
    EXPECT_TRUE(client.media.readUntil(26, 2000));

    // Logging out of the media channel ends the whole session, control channel included.
    ASSERT_TRUE(client.media.sendPacket(1, {}));
    EXPECT_TRUE(client.waitSessionClosed(2000));
    EXPECT_TRUE(client.control.waitClosed(1000));
}

TEST_F(P2pCameraTest, UnusableTextCommandsAreIgnoredAndCounted) {
    P2pClient client;
    ASSERT_TRUE(client.connect(kUid)) << client.error();
    // Before the login a text command has no answer, and the login still goes through.
    ASSERT_TRUE(client.control.sendPacket(114, textPayload("cmd=getIPInfo&usr=admin&pwd=secret")));
    ASSERT_TRUE(client.control.sendPacket(12, controlLoginPayload("admin", "secret", 7)));
    const auto reply = client.control.readPacket(3000);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->command, 100);

    const std::string unterminated = "cmd=setBrightness&brightness=1&usr=admin&pwd=secret";
    ASSERT_TRUE(client.control.sendPacket(
        114, std::vector<uint8_t>(unterminated.begin(), unterminated.end())));
    const std::string oversized = "cmd=setBrightness&brightness=2&usr=admin&pwd=secret&pad=" +
                                  std::string(camsim::kMaxTextCommandBytes, 'x');
    ASSERT_TRUE(client.control.sendPacket(114, textPayload(oversized)));
    ASSERT_TRUE(client.control.sendPacket(114, textPayload("cmd=setHue&hue=%zz&usr=admin")));
    // The session survives them: the next good command is the first to be answered.
    ASSERT_TRUE(client.control.sendPacket(
        114, textPayload("cmd=getMirrorAndFlipSetting&usr=admin&pwd=secret")));
    const auto answer = client.control.readUntil(115, 3000);
    ASSERT_TRUE(answer);
    EXPECT_TRUE(xmlValue(splitAnswer(*answer).body, "isMirror")) << splitAnswer(*answer).body;

    const camsim::CameraStats stats = camera.stats();
    EXPECT_EQ(stats.protocolErrors, 3u);
    EXPECT_EQ(stats.textCommands, 1u);
    EXPECT_EQ(camera.cgiState().image.brightness, 50);
    EXPECT_EQ(camera.cgiLog().size(), 1u);
}

TEST_F(P2pCameraTest, DropConnectionsClosesTheSessionAndLaterOnesAreServed) {
    P2pClient client;
    connectAndLogin(client);
    ASSERT_TRUE(client.media.sendPacket(0, liveLoginPayload(1, "admin", "secret", 7)));
    ASSERT_TRUE(client.media.readUntil(26, 2000));

    camera.dropConnections();
    EXPECT_TRUE(client.waitSessionClosed(2000));
    EXPECT_TRUE(client.control.waitClosed(1000));
    EXPECT_TRUE(client.media.waitClosed(1000));
    EXPECT_TRUE(eventually([&] { return camera.sessionCount() == 0; }));

    P2pClient again;
    connectAndLogin(again);
    EXPECT_EQ(camera.stats().controlLogins, 2u);
}

TEST_F(P2pCameraTest, StopIsPromptWithAClientConnected) {
    P2pClient client;
    connectAndLogin(client);
    ASSERT_TRUE(client.media.sendPacket(0, liveLoginPayload(0, "admin", "secret", 7)));
    ASSERT_TRUE(client.media.readUntil(26, 2000));

    const auto start = std::chrono::steady_clock::now();
    camera.stop();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::milliseconds(1200));
    EXPECT_FALSE(camera.running());
    EXPECT_TRUE(client.waitSessionClosed(1000));

    // The UID is free again once the camera has logged out.
    camsim::P2pCamera successor(testStreams());
    EXPECT_TRUE(eventually([&] { return successor.start(config(), kUid); }))
        << successor.lastError();
}

TEST_F(P2pCameraTest, RegistersAgainWhenTheRelayComesBack) {
    relay.stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(relay.start("127.0.0.1", relayPort), relayPort);
    EXPECT_TRUE(eventually([&] { return relay.stats().devices == 1; }, 5000));
    P2pClient client;
    connectAndLogin(client);
}

TEST_F(P2pCameraTest, DuplicateOrMalformedUidIsRefusedWithAClearError) {
    camsim::P2pCamera twin(testStreams());
    EXPECT_FALSE(twin.start(config(), kUid));
    EXPECT_FALSE(twin.running());
    EXPECT_NE(twin.lastError().find("in use"), std::string::npos) << twin.lastError();

    for (const std::string& uid : {std::string(), std::string(65, 'A'), std::string("VSTR SIM"),
                                   std::string("VSTR\x01SIM")}) {
        EXPECT_FALSE(twin.start(config(), uid)) << uid;
        EXPECT_NE(twin.lastError().find("UID"), std::string::npos) << twin.lastError();
    }
    EXPECT_TRUE(twin.start(config(), std::string(64, 'B'))) << twin.lastError();

    // The first camera is unharmed by the attempts.
    P2pClient client;
    connectAndLogin(client);
}

// Both ends of one channel of one session, made by hand so a link can be tested on its own.
class RdtLinkTest : public RelayTest {
protected:
    static constexpr unsigned char kChannel = 3;

    void SetUp() override {
        RelayTest::SetUp();
        const char* uid = "VSTRSIMP2PLINK000001";
        device = IOTC_Device_Login(uid);
        ASSERT_GE(device, 0);
        std::thread connector([&] { clientSession = IOTC_Connect_ByUID(uid); });
        for (int step = 0; step < 30 && cameraSession < 0; ++step) {
            cameraSession = IOTC_Listen(device, 100);
        }
        connector.join();
        ASSERT_GE(cameraSession, 0);
        ASSERT_GE(clientSession, 0);
        std::thread creator([&] { clientChannel = RDT_Create(clientSession, 3000, kChannel); });
        cameraChannel = RDT_Create(cameraSession, 3000, kChannel);
        creator.join();
        ASSERT_GE(cameraChannel, 0);
        ASSERT_GE(clientChannel, 0);
        link = std::make_unique<camsim::RdtLink>(cameraChannel, cameraSession, kChannel);
    }

    void TearDown() override {
        link.reset();
        IOTC_Session_Close(clientSession);
        IOTC_Session_Close(cameraSession);
        IOTC_Device_Logout(device);
        RelayTest::TearDown();
    }

    int device = -1;
    int cameraSession = -1;
    int clientSession = -1;
    int clientChannel = -1;
    int cameraChannel = -1;
    std::unique_ptr<camsim::RdtLink> link;
};

TEST_F(RdtLinkTest, ReceiveWaitsForBytesAndEndsWhenTheClientLeaves) {
    uint8_t buffer[64];
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(link->receive(buffer, sizeof buffer, 150), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));

    ASSERT_EQ(RDT_Write(clientChannel, "hello", 5), 5);
    int got = 0;
    ASSERT_TRUE(eventually([&] { return (got = link->receive(buffer, sizeof buffer, 50)) != 0; }));
    ASSERT_EQ(got, 5);
    EXPECT_EQ(std::memcmp(buffer, "hello", 5), 0);
    EXPECT_EQ(link->send(reinterpret_cast<const uint8_t*>("olleh"), 5, 50), 5);

    RDT_Destroy(clientChannel);
    EXPECT_TRUE(eventually([&] { return link->receive(buffer, sizeof buffer, 50) < 0; }));
    link->close();
    EXPECT_EQ(link->send(buffer, 1, 50), -1);
}

// A client that stops reading must hold the camera back once about a megabyte waits in the
// library, long before the library's own limit: media for a stalled viewer is not worth memory.
TEST_F(RdtLinkTest, SlowReaderHoldsWritesBackAtTheQueueBound) {
    const std::vector<uint8_t> chunk(64 * 1024, 0x55);
    bool heldBack = false;
    for (int i = 0; i < 400 && !heldBack; ++i) { // 25 MB: well past every buffer on the way
        const int accepted = link->send(chunk.data(), chunk.size(), 20);
        ASSERT_GE(accepted, 0);
        heldBack = accepted == 0;
    }
    ASSERT_TRUE(heldBack);
    RdtStatus status{};
    ASSERT_EQ(RDT_Status_Check(cameraChannel, &status), 0);
    EXPECT_LE(status.sendQueued, camsim::RdtLink::kMaxQueuedBytes + chunk.size());

    // Once the client reads again, writes are taken again.
    std::vector<char> sink(256 * 1024);
    EXPECT_TRUE(eventually(
        [&] {
            RDT_Read(clientChannel, sink.data(), static_cast<int>(sink.size()), 10);
            return link->send(chunk.data(), chunk.size(), 0) > 0;
        },
        5000));
}

} // namespace
} // namespace camtest
