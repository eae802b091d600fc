#include "iotc/Wire.h"

#include "iotc/iotc.h"

#include <cstring>

namespace iotc::wire {

namespace {

enum class PayloadKind { None, Uid, Token, Data };

struct TypeRule {
    bool known;
    bool hasChannel;
    PayloadKind payload;
};

TypeRule ruleFor(uint8_t type) {
    switch (static_cast<FrameType>(type)) {
    case FrameType::Register:
    case FrameType::Connect:
        return {true, false, PayloadKind::Uid};
    case FrameType::Accept:
    case FrameType::Incoming:
        return {true, false, PayloadKind::Token};
    case FrameType::Registered:
    case FrameType::UidInUse:
    case FrameType::Connected:
    case FrameType::DeviceOffline:
    case FrameType::Refused:
    case FrameType::Busy:
    case FrameType::Ping:
    case FrameType::Bye:
        return {true, false, PayloadKind::None};
    case FrameType::ChannelWant:
    case FrameType::ChannelOpen:
    case FrameType::ChannelClose:
        return {true, true, PayloadKind::None};
    case FrameType::Data:
        return {true, true, PayloadKind::Data};
    }
    return {false, false, PayloadKind::None};
}

bool lengthFits(PayloadKind kind, uint32_t length) {
    switch (kind) {
    case PayloadKind::None:
        return length == 0;
    case PayloadKind::Uid:
        return length >= 1 && length <= kIotcMaxUidLength;
    case PayloadKind::Token:
        return length == kTokenSize;
    case PayloadKind::Data:
        return length >= 1 && length <= kMaxPayload;
    }
    return false;
}

uint32_t readLe32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

} // namespace

bool isValidUid(std::string_view uid) {
    if (uid.empty() || uid.size() > kIotcMaxUidLength)
        return false;
    for (const char c : uid) {
        if (c <= ' ' || c > '~')
            return false;
    }
    return true;
}

bool isWellFormedHeader(uint8_t type, uint8_t channel, uint32_t length) {
    const TypeRule rule = ruleFor(type);
    if (!rule.known)
        return false;
    if (rule.hasChannel ? channel >= kIotcMaxChannels : channel != 0)
        return false;
    return lengthFits(rule.payload, length);
}

std::vector<uint8_t> encodeFrame(FrameType type, uint8_t channel, const void* payload,
                                 size_t length) {
    std::vector<uint8_t> bytes(kHeaderSize + length);
    bytes[0] = kMagic0;
    bytes[1] = kMagic1;
    bytes[2] = static_cast<uint8_t>(type);
    bytes[3] = channel;
    for (int i = 0; i < 4; ++i)
        bytes[4 + i] = static_cast<uint8_t>(length >> (8 * i));
    if (length > 0)
        std::memcpy(bytes.data() + kHeaderSize, payload, length);
    return bytes;
}

std::vector<uint8_t> encodeUidFrame(FrameType type, std::string_view uid) {
    return encodeFrame(type, 0, uid.data(), uid.size());
}

std::vector<uint8_t> encodeTokenFrame(FrameType type, uint64_t token) {
    uint8_t payload[kTokenSize];
    for (size_t i = 0; i < kTokenSize; ++i)
        payload[i] = static_cast<uint8_t>(token >> (8 * i));
    return encodeFrame(type, 0, payload, sizeof payload);
}

uint64_t tokenOf(const Frame& frame) {
    uint64_t token = 0;
    for (size_t i = 0; i < kTokenSize && i < frame.payload.size(); ++i)
        token |= static_cast<uint64_t>(frame.payload[i]) << (8 * i);
    return token;
}

std::string_view uidOf(const Frame& frame) {
    return {reinterpret_cast<const char*>(frame.payload.data()), frame.payload.size()};
}

bool FrameParser::append(const void* data, size_t size) {
    if (size > room())
        return false;
    compact();
    const auto* bytes = static_cast<const uint8_t*>(data);
    m_buffer.insert(m_buffer.end(), bytes, bytes + size);
    return true;
}

FrameParser::Status FrameParser::next(Frame& frame) {
    if (m_malformed)
        return Status::Malformed;
    const size_t available = buffered();
    if (available < kHeaderSize) {
        // Reject a wrong magic as soon as it arrives instead of waiting for a full header.
        const uint8_t* head = m_buffer.data() + m_start;
        m_malformed =
            (available >= 1 && head[0] != kMagic0) || (available >= 2 && head[1] != kMagic1);
        return m_malformed ? Status::Malformed : Status::NeedMore;
    }
    const uint8_t* head = m_buffer.data() + m_start;
    const uint32_t length = readLe32(head + 4);
    if (head[0] != kMagic0 || head[1] != kMagic1 || !isWellFormedHeader(head[2], head[3], length)) {
        m_malformed = true;
        return Status::Malformed;
    }
    if (available < kHeaderSize + length)
        return Status::NeedMore;

    frame.type = static_cast<FrameType>(head[2]);
    frame.channel = head[3];
    frame.payload.assign(head + kHeaderSize, head + kHeaderSize + length);
    const bool uidFrame = frame.type == FrameType::Register || frame.type == FrameType::Connect;
    if (uidFrame && !isValidUid(uidOf(frame))) {
        m_malformed = true;
        return Status::Malformed;
    }
    m_start += kHeaderSize + length;
    m_consumed += kHeaderSize + length;
    return Status::Frame;
}

std::vector<uint8_t> FrameParser::takeBuffered() {
    std::vector<uint8_t> rest(m_buffer.begin() + static_cast<ptrdiff_t>(m_start), m_buffer.end());
    m_buffer.clear();
    m_start = 0;
    return rest;
}

void FrameParser::compact() {
    if (m_start == 0)
        return;
    m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<ptrdiff_t>(m_start));
    m_start = 0;
}

} // namespace iotc::wire
