#include "TestSupport.h"

#include "Runtime.h"

#include <poll.h>
#include <sys/socket.h>

#include <thread>

namespace iotc::test {

unsigned msSince(Clock::time_point start) {
    using namespace std::chrono;
    return static_cast<unsigned>(duration_cast<milliseconds>(Clock::now() - start).count());
}

uint8_t streamByte(uint32_t stream, uint64_t index) {
    uint64_t x = index * 0x9E3779B97F4A7C15ull + (static_cast<uint64_t>(stream) << 32);
    x ^= x >> 29;
    x *= 0xBF58476D1CE4E5B9ull;
    return static_cast<uint8_t>(x >> 56);
}

void fillStream(uint32_t stream, uint64_t from, char* out, size_t size) {
    for (size_t i = 0; i < size; ++i)
        out[i] = static_cast<char>(streamByte(stream, from + i));
}

size_t firstMismatch(uint32_t stream, uint64_t from, const char* bytes, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        if (static_cast<uint8_t>(bytes[i]) != streamByte(stream, from + i))
            return i;
    }
    return size;
}

void RelayTest::SetUp() {
    restartRelay({});
    ASSERT_EQ(RDT_Initialize(), 0);
}

void RelayTest::TearDown() {
    IOTC_DeInitialize();
    RDT_DeInitialize();
    Runtime::instance().setTiming({});
    m_relay.reset();
}

void RelayTest::restartRelay(const RelayLimits& limits) {
    m_relay = std::make_unique<Relay>(limits);
    const auto port = m_relay->start("127.0.0.1", 0);
    ASSERT_TRUE(port.has_value());
    m_port = *port;
    const std::string address = "127.0.0.1:" + std::to_string(m_port);
    ASSERT_EQ(IOTC_Initialize(0, address.c_str(), nullptr, nullptr, nullptr), 0);
}

SessionPair RelayTest::connectPair(const std::string& uid, int device) {
    SessionPair pair;
    pair.device = device >= 0 ? device : IOTC_Device_Login(uid.c_str());
    EXPECT_GE(pair.device, 0) << uid;
    std::thread listener([&] { pair.camera = IOTC_Listen(pair.device, 5000); });
    pair.client = IOTC_Connect_ByUID(uid.c_str());
    listener.join();
    EXPECT_GE(pair.client, 0) << uid;
    EXPECT_GE(pair.camera, 0) << uid;
    return pair;
}

ChannelPair RelayTest::openChannel(const SessionPair& pair, unsigned char channel) {
    ChannelPair channels;
    std::thread camera([&] { channels.camera = RDT_Create(pair.camera, 3000, channel); });
    channels.client = RDT_Create(pair.client, 3000, channel);
    camera.join();
    EXPECT_GE(channels.client, 0);
    EXPECT_GE(channels.camera, 0);
    return channels;
}

RawPeer::RawPeer(uint16_t port) {
    net::connectTcp({"127.0.0.1", port}, 1000, nullptr, m_fd);
}

bool RawPeer::sendBytes(const void* bytes, size_t size) {
    return net::sendAll(m_fd.get(), static_cast<const uint8_t*>(bytes), size, 1000, nullptr) ==
           net::IoStatus::Ok;
}

std::optional<wire::Frame> RawPeer::readFrame(unsigned timeoutMs) {
    wire::Frame frame;
    if (net::readFrame(m_fd.get(), m_parser, frame, timeoutMs, nullptr) != net::IoStatus::Ok)
        return std::nullopt;
    return frame;
}

bool RawPeer::closedWithin(unsigned timeoutMs) {
    const auto start = Clock::now();
    char sink[4096];
    while (msSince(start) < timeoutMs) {
        pollfd entry{m_fd.get(), POLLIN, 0};
        if (::poll(&entry, 1, 10) <= 0)
            continue;
        const ssize_t n = ::recv(m_fd.get(), sink, sizeof sink, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
            return true;
    }
    return false;
}

MuteCamera::MuteCamera(uint16_t port, const std::string& uid) : m_port(port), m_registration(port) {
    m_registration.send(wire::encodeUidFrame(wire::FrameType::Register, uid));
    const auto answer = m_registration.readFrame(2000);
    m_registered = answer && answer->type == wire::FrameType::Registered;
}

bool MuteCamera::acceptNext(unsigned timeoutMs) {
    const auto incoming = m_registration.readFrame(timeoutMs);
    if (!incoming || incoming->type != wire::FrameType::Incoming)
        return false;
    m_paired = std::make_unique<RawPeer>(m_port);
    m_paired->send(wire::encodeTokenFrame(wire::FrameType::Accept, wire::tokenOf(*incoming)));
    const auto answer = m_paired->readFrame(2000);
    return answer && answer->type == wire::FrameType::Connected;
}

bool MuteCamera::seesIncoming(unsigned timeoutMs) {
    const auto incoming = m_registration.readFrame(timeoutMs);
    return incoming && incoming->type == wire::FrameType::Incoming;
}

} // namespace iotc::test
