#include "CameraFixture.h"

#include <udt.h>

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>

namespace camtest {
namespace {

// A packet as bytes, with a declared payload length that may lie.
std::vector<uint8_t> rawPacket(int32_t command, const std::vector<uint8_t>& payload,
                               int32_t declared) {
    std::vector<uint8_t> bytes(12 + payload.size());
    std::memcpy(bytes.data(), &command, 4); // the test host is little-endian, as x86 and ARM are
    std::memcpy(bytes.data() + 4, "ZQNT", 4);
    std::memcpy(bytes.data() + 8, &declared, 4);
    std::copy(payload.begin(), payload.end(), bytes.begin() + 12);
    return bytes;
}

std::string nameAt(const RxPacket& packet, size_t slot) {
    const char* text = reinterpret_cast<const char*>(packet.payload.data() + slot * 32);
    return std::string(text, strnlen(text, 32));
}

using ControlChannelTest = CameraTest;

TEST_F(ControlChannelTest, AcceptedLoginGetsReplyNoticesAndKeepAlivesAreCounted) {
    RawClient client;
    ASSERT_TRUE(client.connect(ports.port));
    ASSERT_TRUE(client.sendPacket(12, controlLoginPayload("admin", "secret", 42)));

    const auto reply = client.readPacket(2000);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->command, 100);
    ASSERT_EQ(reply->payload.size(), 2219u);
    EXPECT_EQ(reply->word(0), 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(reply->payload.data() + 4), "test-cam");

    const auto presets = client.readPacket(2000);
    ASSERT_TRUE(presets);
    EXPECT_EQ(presets->command, 106);
    ASSERT_EQ(presets->payload.size(), 516u);
    EXPECT_EQ(presets->word(128), 2); // count after 16 names of 32 bytes
    EXPECT_EQ(nameAt(*presets, 0), "home");
    EXPECT_EQ(nameAt(*presets, 1), "gate");
    EXPECT_EQ(nameAt(*presets, 2), "");

    const auto cruises = client.readPacket(2000);
    ASSERT_TRUE(cruises);
    EXPECT_EQ(cruises->command, 107);
    ASSERT_EQ(cruises->payload.size(), 260u);
    EXPECT_EQ(cruises->word(64), 2);
    EXPECT_EQ(nameAt(*cruises, 0), "patrol");

    const auto image = client.readPacket(2000);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->command, 110);
    EXPECT_EQ(image->payload, std::vector<uint8_t>(5, 50));

    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(client.sendPacket(15, wordsPayload({42})));
    }
    ASSERT_TRUE(client.sendPacket(14, {}));
    EXPECT_TRUE(eventually([&] { return camera.stats().keepAlives == 3; }));
    EXPECT_EQ(camera.stats().controlLogins, 1u);
}

TEST_F(ControlChannelTest, AlarmAndMotionNoticesReachLoggedInClients) {
    RawClient client;
    loginControl(client);
    ASSERT_TRUE(eventually([&] {
        return camera.sendAlarm({1, 0, 1, 30}) == 1; // the session registers after its notices
    }));
    const auto alarm = client.readUntil(111, 2000);
    ASSERT_TRUE(alarm);
    EXPECT_EQ(alarm->payload, (std::vector<uint8_t>{1, 0, 1, 30}));

    EXPECT_EQ(camera.sendMotion(1), 1u);
    const auto motion = client.readUntil(102, 2000);
    ASSERT_TRUE(motion);
    ASSERT_EQ(motion->payload.size(), 4u);
    EXPECT_EQ(motion->word(0), 1);
}

TEST_F(ControlChannelTest, WrongCredentialsAndRefusedLoginsGetMinusTwoAndClose) {
    RawClient client;
    ASSERT_TRUE(client.connect(ports.port));
    ASSERT_TRUE(client.sendPacket(12, controlLoginPayload("admin", "wrong", 1)));
    auto reply = client.readPacket(2000);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->command, 100);
    EXPECT_EQ(reply->word(0), -2);
    EXPECT_TRUE(client.waitClosed(2000));

    camera.setRefuseLogins(true);
    ASSERT_TRUE(client.connect(ports.port));
    ASSERT_TRUE(client.sendPacket(12, controlLoginPayload("admin", "secret", 1)));
    reply = client.readPacket(2000);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->word(0), -2);
    EXPECT_TRUE(client.waitClosed(2000));

    // Media logins are refused the same way: no stream, closed connection.
    loginLive(client, 0);
    EXPECT_FALSE(client.readPacket(300));
    EXPECT_TRUE(client.waitClosed(2000));
    EXPECT_EQ(camera.stats().rejectedLogins, 3u);
    EXPECT_EQ(camera.stats().controlLogins, 0u);
}

TEST_F(ControlChannelTest, MalformedClientsAreClosedAndTheCameraKeepsServing) {
    const std::vector<std::vector<uint8_t>> openings = {
        // A header claiming a 2 GB payload.
        {12, 0, 0, 0, 'Z', 'Q', 'N', 'T', 0xFF, 0xFF, 0xFF, 0x7F},
        // A negative payload length.
        {12, 0, 0, 0, 'Z', 'Q', 'N', 'T', 0xFF, 0xFF, 0xFF, 0xFF},
        // A control login one byte short.
        [] {
            auto payload = controlLoginPayload("admin", "secret", 1);
            payload.pop_back();
            return rawPacket(12, payload, 163);
        }(),
        // An unknown first command.
        {99, 0, 0, 0, 'Z', 'Q', 'N', 'T', 0, 0, 0, 0},
        // Text that is neither HTTP (without one-port mode) nor a preface.
        {'G', 'E', 'T', ' ', '/', ' ', 'H', 'T', 'T', 'P', '\r', '\n', '\r', '\n'},
        // A preface that never ends within its bound.
        [] {
            std::vector<uint8_t> text(2000, 'x');
            std::memcpy(text.data(), "SERVERPUSH", 10);
            return text;
        }(),
    };
    for (const auto& opening : openings) {
        RawClient client;
        ASSERT_TRUE(client.connect(ports.port));
        client.sendBytes(opening.data(), opening.size());
        EXPECT_TRUE(client.waitClosed(6000)) << "opening of " << opening.size() << " bytes";
    }
    EXPECT_GE(camera.stats().protocolErrors, openings.size());

    RawClient good;
    loginControl(good);
    EXPECT_EQ(camera.stats().controlLogins, 1u);
}

TEST_F(ControlChannelTest, UdtClientOnTheSamePortLogsIn) {
    UDT::startup();
    const UDTSOCKET socket = UDT::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(ports.port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_NE(UDT::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address),
              UDT::ERROR)
        << UDT::getlasterror().getErrorMessage();

    const auto packet = rawPacket(12, controlLoginPayload("admin", "secret", 3), 164);
    ASSERT_EQ(UDT::send(socket, reinterpret_cast<const char*>(packet.data()),
                        static_cast<int>(packet.size()), 0),
              static_cast<int>(packet.size()));

    std::vector<uint8_t> received;
    const int timeoutMs = 2000;
    UDT::setsockopt(socket, 0, UDT_RCVTIMEO, &timeoutMs, sizeof timeoutMs);
    while (received.size() < 12 + 2219) {
        char chunk[4096];
        const int got = UDT::recv(socket, chunk, sizeof chunk, 0);
        if (got <= 0) {
            break;
        }
        received.insert(received.end(), chunk, chunk + got);
    }
    UDT::close(socket);
    ASSERT_GE(received.size(), 16u);
    EXPECT_EQ(received[0], 100);
    EXPECT_EQ(std::memcmp(received.data() + 4, "ZQNT", 4), 0);
    EXPECT_EQ(received[12], 0); // result word: accepted
    EXPECT_TRUE(eventually([&] { return camera.stats().controlLogins == 1; }));
}

TEST_F(ControlChannelTest, StopEndsBusyAndIdleConnectionsWithinASecond) {
    RawClient control;
    loginControl(control);
    RawClient live;
    loginLive(live, 0);
    ASSERT_TRUE(live.readUntil(26, 2000));
    RawClient silent; // connected, never says anything
    ASSERT_TRUE(silent.connect(ports.port));
    RawClient web;
    ASSERT_TRUE(web.connect(ports.webPort));
    ASSERT_TRUE(eventually([&] { return camera.stats().activeConnections == 4; }));

    const auto start = std::chrono::steady_clock::now();
    camera.stop();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::milliseconds(1200));
    EXPECT_EQ(camera.stats().activeConnections, 0u);
    EXPECT_TRUE(control.waitClosed(500));
    EXPECT_TRUE(live.waitClosed(500));
}

} // namespace
} // namespace camtest
