#pragma once

#include "Socket.h"
#include "iotc/Relay.h"
#include "iotc/Wire.h"
#include "iotc/iotc.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace iotc::test {

using Clock = std::chrono::steady_clock;

unsigned msSince(Clock::time_point start);

// Byte `index` of a reproducible stream: a receiver can check every byte it gets, so a lost,
// doubled, reordered or misrouted chunk shows at its first byte.
uint8_t streamByte(uint32_t stream, uint64_t index);
void fillStream(uint32_t stream, uint64_t from, char* out, size_t size);
// Index of the first byte that differs from the stream, or `size` when all match.
size_t firstMismatch(uint32_t stream, uint64_t from, const char* bytes, size_t size);

struct SessionPair {
    int device = -1;
    int client = -1;
    int camera = -1;
};
struct ChannelPair {
    int client = -1;
    int camera = -1;
};

// A relay on a free loopback port, and the library pointed at it.
class RelayTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Replaces the running relay with one under other limits.
    void restartRelay(const RelayLimits& limits);

    // Logs a camera in under `uid` (unless `device` is given) and connects a client to it.
    SessionPair connectPair(const std::string& uid, int device = -1);
    // Creates `channel` on both ends at once.
    ChannelPair openChannel(const SessionPair& pair, unsigned char channel);

    std::unique_ptr<Relay> m_relay;
    uint16_t m_port = 0;
};

// A bare TCP connection to the relay, for saying what the library never would.
class RawPeer {
public:
    explicit RawPeer(uint16_t port);

    bool connected() const { return m_fd.valid(); }
    bool sendBytes(const void* bytes, size_t size);
    bool send(const std::vector<uint8_t>& frame) { return sendBytes(frame.data(), frame.size()); }
    // The next frame; nothing on timeout, close or garbage.
    std::optional<wire::Frame> readFrame(unsigned timeoutMs);
    // True when the other end closes the connection within `timeoutMs`; what it sends is
    // skipped.
    bool closedWithin(unsigned timeoutMs);

private:
    net::UniqueFd m_fd;
    wire::FrameParser m_parser;
};

// A camera that registers by hand and, when asked, pairs a connection it then leaves silent.
class MuteCamera {
public:
    MuteCamera(uint16_t port, const std::string& uid);
    bool registered() const { return m_registered; }
    // Answers the next INCOMING within `timeoutMs`; true once paired.
    bool acceptNext(unsigned timeoutMs);
    // Waits for an INCOMING without answering it.
    bool seesIncoming(unsigned timeoutMs);

private:
    uint16_t m_port;
    RawPeer m_registration;
    std::unique_ptr<RawPeer> m_paired;
    bool m_registered = false;
};

} // namespace iotc::test
