#pragma once

// The framed protocol spoken over TCP between cameras, clients and the relay.
//
// Every frame is an 8-byte header and a payload:
//
//     offset 0  magic    0xD5 0x3A   (not ASCII, so a stray HTTP or text client fails at byte 0)
//     offset 2  type     u8          (FrameType below; anything else is a protocol violation)
//     offset 3  channel  u8          (0..kIotcMaxChannels-1 for channel frames, 0 otherwise)
//     offset 4  length   u32 LE      (payload bytes, at most kMaxPayload)
//
// Handshake, each on a fresh connection to the relay:
//
//     camera -> relay   REGISTER(uid)       relay -> camera  REGISTERED or UID_IN_USE
//     client -> relay   CONNECT(uid)        relay -> client  DEVICE_OFFLINE, or (once paired)
//                                                            CONNECTED
//     relay  -> camera  INCOMING(token)     on the camera's registration connection
//     camera -> relay   ACCEPT(token)       on a new connection; relay -> camera CONNECTED or
//                                           REFUSED (token unknown or expired)
//     relay  -> anyone  BUSY                the relay is at its connection limit
//
// The registration connection stays open; both ends PING it while idle and drop it after a
// silence, so a camera notices a dead relay and the relay forgets a dead camera.
//
// After CONNECTED the relay forwards bytes both ways without looking at them, and the two peers
// speak the session frames: PING, CH_WANT(ch), CH_OPEN(ch), DATA(ch, bytes), CH_CLOSE(ch), BYE.
// CH_WANT says "RDT_Create is waiting for your side", CH_OPEN "my side is created", so one end
// can time out in RDT_Create while the other still gets its channel and writes into it.
//
// Payloads: uid = 1..kIotcMaxUidLength printable non-space ASCII bytes; token = u64 LE;
// DATA = 1..kMaxPayload bytes; every other frame carries none. A receiver that sees anything
// else drops the connection.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace iotc::wire {

constexpr uint8_t kMagic0 = 0xD5;
constexpr uint8_t kMagic1 = 0x3A;
constexpr size_t kHeaderSize = 8;
constexpr size_t kMaxPayload = 64 * 1024;
constexpr size_t kTokenSize = 8;

enum class FrameType : uint8_t {
    Register = 0x01,
    Connect = 0x02,
    Accept = 0x03,

    Registered = 0x10,
    UidInUse = 0x11,
    Connected = 0x12,
    DeviceOffline = 0x13,
    Incoming = 0x14,
    Refused = 0x15,
    Busy = 0x16,

    Ping = 0x20,
    ChannelWant = 0x21,
    ChannelOpen = 0x22,
    Data = 0x23,
    ChannelClose = 0x24,
    Bye = 0x25,
};

struct Frame {
    FrameType type = FrameType::Ping;
    uint8_t channel = 0;
    std::vector<uint8_t> payload;
};

bool isValidUid(std::string_view uid);
// True when a frame of this type may carry this channel and payload length. The payload's
// content (a UID) is checked separately, once it is there.
bool isWellFormedHeader(uint8_t type, uint8_t channel, uint32_t length);

std::vector<uint8_t> encodeFrame(FrameType type, uint8_t channel = 0, const void* payload = nullptr,
                                 size_t length = 0);
std::vector<uint8_t> encodeUidFrame(FrameType type, std::string_view uid);
std::vector<uint8_t> encodeTokenFrame(FrameType type, uint64_t token);
// Only meaningful for frames whose payload is a token (already checked to be kTokenSize long).
uint64_t tokenOf(const Frame& frame);
std::string_view uidOf(const Frame& frame);

// Cuts a byte stream into checked frames. Input arrives in any pieces; once the stream is found
// malformed the parser stays so, since nothing after a bad header can be trusted.
class FrameParser {
public:
    enum class Status { Frame, NeedMore, Malformed };

    // One complete frame and one read's worth of the next always fit.
    static constexpr size_t kMaxBuffered = 2 * (kHeaderSize + kMaxPayload);

    // How many bytes append() takes now; read no more than this from the socket.
    size_t room() const { return kMaxBuffered - buffered(); }
    // False (and nothing kept) when `size` exceeds room().
    bool append(const void* data, size_t size);
    Status next(Frame& frame);

    size_t buffered() const { return m_buffer.size() - m_start; }
    // Bytes consumed by frames returned so far.
    uint64_t consumed() const { return m_consumed; }
    // Hands over what was received beyond the last frame, for a connection that stops speaking
    // frames here (the relay forwards it as it is).
    std::vector<uint8_t> takeBuffered();

private:
    void compact();

    std::vector<uint8_t> m_buffer;
    size_t m_start = 0;
    uint64_t m_consumed = 0;
    bool m_malformed = false;
};

} // namespace iotc::wire
