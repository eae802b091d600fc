#include "RelayForward.h"
#include "TestSupport.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace iotc::test {
namespace {

using RelayServerTest = RelayTest;

std::vector<uint8_t> bytesOf(const std::string& text) {
    return {text.begin(), text.end()};
}

std::vector<uint8_t> rawHeader(uint8_t type, uint8_t channel, uint32_t length) {
    return {wire::kMagic0,
            wire::kMagic1,
            type,
            channel,
            static_cast<uint8_t>(length),
            static_cast<uint8_t>(length >> 8),
            static_cast<uint8_t>(length >> 16),
            static_cast<uint8_t>(length >> 24)};
}

std::optional<wire::FrameType> typeOf(const std::optional<wire::Frame>& frame) {
    return frame ? std::optional(frame->type) : std::nullopt;
}

// Checks that a paired session still carries bytes both ways.
void expectEcho(ChannelPair channel) {
    char byte = 0;
    ASSERT_EQ(RDT_Write(channel.client, "q", 1), 1);
    ASSERT_EQ(RDT_Read(channel.camera, &byte, 1, 2000), 1);
    EXPECT_EQ(byte, 'q');
    ASSERT_EQ(RDT_Write(channel.camera, "a", 1), 1);
    ASSERT_EQ(RDT_Read(channel.client, &byte, 1, 2000), 1);
    EXPECT_EQ(byte, 'a');
}

TEST_F(RelayServerTest, HostileOpeningsAreDroppedAndOthersStillServed) {
    const std::vector<std::vector<uint8_t>> openings = {
        bytesOf("GET / HTTP/1.0\r\n\r\n"),
        rawHeader(0x23, 0, 0xFFFFFFFFu),                            // 4 GiB announced
        wire::encodeUidFrame(wire::FrameType::Register, "bad uid"), // space in the UID
        wire::encodeUidFrame(wire::FrameType::Connect, std::string(65, 'x')),
        rawHeader(0x7F, 0, 0),                               // unknown type
        wire::encodeFrame(wire::FrameType::Data, 0, "x", 1), // valid, but not an opening
        wire::encodeFrame(wire::FrameType::Registered),      // the relay's own word
    };
    const auto pair = connectPair("cam-steady");
    const auto channel = openChannel(pair, 0);
    const uint32_t refusedBefore = m_relay->stats().refused;
    for (const auto& opening : openings) {
        RawPeer hostile(m_port);
        ASSERT_TRUE(hostile.connected());
        hostile.sendBytes(opening.data(), opening.size());
        EXPECT_TRUE(hostile.closedWithin(1000)) << "opening of " << opening.size() << " bytes";
    }
    EXPECT_EQ(m_relay->stats().refused, refusedBefore + openings.size());
    // The session made before is untouched and new ones still come.
    expectEcho(channel);
    const auto next = connectPair("cam-steady-2");
    expectEcho(openChannel(next, 1));
}

TEST_F(RelayServerTest, AConnectionThatSaysNothingIsClosedAfterTheHandshakeTime) {
    RelayLimits limits;
    limits.handshakeMs = 300;
    restartRelay(limits);
    RawPeer silent(m_port);
    ASSERT_TRUE(silent.connected());
    const auto start = Clock::now();
    EXPECT_TRUE(silent.closedWithin(2000));
    EXPECT_GE(msSince(start), 250u);
    // Half a header is no better than nothing.
    RawPeer partial(m_port);
    const auto header = rawHeader(0x01, 0, 10);
    partial.sendBytes(header.data(), 5);
    EXPECT_TRUE(partial.closedWithin(2000));
}

TEST_F(RelayServerTest, OverTheConnectionLimitNewcomersAreTurnedAwayAsBusy) {
    RelayLimits limits;
    limits.maxConnections = 3;
    restartRelay(limits);
    std::vector<std::unique_ptr<RawPeer>> holders;
    for (int i = 0; i < 3; ++i) {
        holders.push_back(std::make_unique<RawPeer>(m_port));
        ASSERT_TRUE(holders.back()->connected());
    }
    // Let the relay accept all three before the fourth arrives.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    RawPeer extra(m_port);
    EXPECT_EQ(typeOf(extra.readFrame(1000)), wire::FrameType::Busy);
    EXPECT_EQ(IOTC_Connect_ByUID("cam-any"), IOTC_ER_TOO_MANY);

    holders.pop_back();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    RawPeer camera(m_port);
    camera.send(wire::encodeUidFrame(wire::FrameType::Register, "cam-late"));
    EXPECT_EQ(typeOf(camera.readFrame(1000)), wire::FrameType::Registered);
}

TEST_F(RelayServerTest, TokensAreSingleUseAndExpire) {
    RelayLimits limits;
    limits.pendingMs = 300;
    restartRelay(limits);
    RawPeer registration(m_port);
    registration.send(wire::encodeUidFrame(wire::FrameType::Register, "cam-token"));
    ASSERT_EQ(typeOf(registration.readFrame(1000)), wire::FrameType::Registered);

    RawPeer client(m_port);
    client.send(wire::encodeUidFrame(wire::FrameType::Connect, "cam-token"));
    const auto incoming = registration.readFrame(1000);
    ASSERT_EQ(typeOf(incoming), wire::FrameType::Incoming);
    // The camera never answers: the client is told the camera is not there.
    EXPECT_EQ(typeOf(client.readFrame(2000)), wire::FrameType::DeviceOffline);

    RawPeer late(m_port);
    late.send(wire::encodeTokenFrame(wire::FrameType::Accept, wire::tokenOf(*incoming)));
    EXPECT_EQ(typeOf(late.readFrame(1000)), wire::FrameType::Refused);
    EXPECT_TRUE(late.closedWithin(1000));
}

TEST_F(RelayServerTest, StopEndsEveryConnectionWithinASecond) {
    const auto pair = connectPair("cam-stop");
    openChannel(pair, 0);
    RawPeer idle(m_port);
    std::atomic<int> listened{0};
    std::thread listener([&] { listened = IOTC_Listen(pair.device, 5000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));

    const auto start = Clock::now();
    m_relay->stop();
    EXPECT_LT(msSince(start), 1000u);
    EXPECT_TRUE(idle.closedWithin(500));
    // The camera waiting for clients learns its registration is gone.
    listener.join();
    EXPECT_EQ(listened.load(), IOTC_ER_SESSION_CLOSED);
    EXPECT_LT(msSince(start), 1500u);
    EXPECT_EQ(IOTC_Listen(pair.device, 1000), IOTC_ER_SESSION_CLOSED);
    // A stopped relay starts afresh, remembering nobody.
    ASSERT_TRUE(m_relay->start("127.0.0.1", 0));
    EXPECT_EQ(m_relay->stats().devices, 0u);
}

// Two socket pairs with the forwarder between them: tests write to `source` and read from `sink`.
struct ForwardRig {
    int source = -1, relayIn = -1, relayOut = -1, sink = -1;
    ForwardRig() {
        int in[2], out[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, in), 0);
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, out), 0);
        source = in[0];
        relayIn = in[1];
        relayOut = out[0];
        sink = out[1];
        // A tiny outgoing buffer keeps bytes waiting inside the forwarder, not in the kernel.
        const int small = 1;
        ::setsockopt(relayOut, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
        // Bytes that never come fail the test instead of hanging it.
        const timeval patience{2, 0};
        ::setsockopt(sink, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    }
    ~ForwardRig() {
        for (const int fd : {source, relayIn, relayOut, sink}) {
            if (fd >= 0)
                ::close(fd);
        }
    }
};

TEST(ForwardPair, DeliversAllThatAClosingSourceSentBeforeEnding) {
    ForwardRig rig;
    std::atomic<uint64_t> forwarded{0};
    std::thread relay([&] {
        forwardPair(rig.relayIn, {'h', 'i'}, rig.relayOut, {}, 16 * 1024, 5000, forwarded,
                    [] { return false; });
    });
    constexpr size_t kBytes = 150 * 1024;
    std::vector<char> data(kBytes);
    fillStream(11, 2, data.data(), data.size());
    std::thread writer([&] {
        EXPECT_EQ(::write(rig.source, data.data(), data.size()), static_cast<ssize_t>(kBytes));
        ::close(rig.source);
        rig.source = -1;
    });
    // The sink reads slowly, so the source's end is seen while bytes still wait in the relay.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::vector<char> received;
    char chunk[4096];
    while (received.size() < kBytes + 2) {
        const ssize_t n = ::read(rig.sink, chunk, sizeof chunk);
        ASSERT_GT(n, 0);
        received.insert(received.end(), chunk, chunk + n);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    writer.join();
    relay.join(); // ends by itself once the source's bytes are all out
    ::close(rig.relayOut);
    rig.relayOut = -1;
    EXPECT_EQ(::read(rig.sink, chunk, sizeof chunk), 0);
    ASSERT_EQ(received.size(), kBytes + 2);
    EXPECT_EQ(std::string(received.data(), 2), "hi"); // what came with the handshake goes first
    EXPECT_EQ(firstMismatch(11, 2, received.data() + 2, kBytes), kBytes);
    EXPECT_EQ(forwarded.load(), kBytes + 2);
}

} // namespace
} // namespace iotc::test
