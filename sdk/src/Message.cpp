#include "Message.h"

#include "Fields.h"

#include <cstring>

namespace moltrex {

const char* channelTag(Channel channel) {
    switch (channel) {
    case Channel::Search:
        return "MO_I";
    case Channel::Management:
        return "MO_M";
    case Channel::Operation:
        return "MO_O";
    case Channel::Video:
        return "MO_V";
    }
    return "MO_?";
}

std::vector<uint8_t> encodeMessage(Channel channel, uint16_t opcode,
                                   const std::vector<uint8_t>& payload) {
    FieldWriter out;
    out.bytes(channelTag(channel), 4);
    out.u16(opcode);
    out.zeros(1 + 8); // not scrambled, no key
    out.u32(static_cast<uint32_t>(payload.size()));
    out.u32(static_cast<uint32_t>(payload.size()));
    out.bytes(payload.data(), payload.size());
    return out.take();
}

std::optional<Header> parseHeader(const uint8_t* header, Channel channel) {
    if (std::memcmp(header, channelTag(channel), 4) != 0)
        return std::nullopt;
    FieldReader in(header + 4, kHeaderBytes - 4);
    Header result;
    result.opcode = in.u16();
    result.scrambled = in.u8() == 1;
    in.bytes(result.key.data(), result.key.size());
    const uint32_t length = in.u32();
    const uint32_t again = in.u32();
    if (length != again || length > kMaxReceivedPayload)
        return std::nullopt;
    result.payloadBytes = length;
    return result;
}

void scramble(uint8_t* payload, size_t size, const std::array<uint8_t, 8>& key) {
    for (size_t i = 0; i < size; ++i)
        payload[i] ^= key[i % 8];
}

std::optional<Message> parseDatagram(const uint8_t* data, size_t size, Channel channel) {
    if (size < kHeaderBytes)
        return std::nullopt;
    const auto header = parseHeader(data, channel);
    if (!header || header->payloadBytes + kHeaderBytes != size)
        return std::nullopt;
    Message message;
    message.opcode = header->opcode;
    message.payload.assign(data + kHeaderBytes, data + size);
    if (header->scrambled)
        scramble(message.payload.data(), message.payload.size(), header->key);
    return message;
}

StreamReader::StreamReader(Channel channel) : m_channel(channel), m_buffer(kReceiveBufferBytes) {}

void StreamReader::commit(size_t bytes) {
    m_filled += bytes < spaceBytes() ? bytes : spaceBytes();
}

size_t StreamReader::feed(const uint8_t* data, size_t size) {
    const size_t taken = size < spaceBytes() ? size : spaceBytes();
    if (taken > 0)
        std::memcpy(space(), data, taken);
    commit(taken);
    return taken;
}

StreamReader::Result StreamReader::next(Message& out) {
    if (m_broken)
        return Result::Broken;
    if (m_filled < kHeaderBytes)
        return Result::NeedMore;
    const auto header = parseHeader(m_buffer.data(), m_channel);
    if (!header) {
        m_broken = true;
        return Result::Broken;
    }
    // parseHeader() bounds the payload, so a whole message always fits the buffer.
    const size_t total = kHeaderBytes + header->payloadBytes;
    if (m_filled < total)
        return Result::NeedMore;
    out.opcode = header->opcode;
    out.payload.assign(m_buffer.begin() + kHeaderBytes,
                       m_buffer.begin() + static_cast<ptrdiff_t>(total));
    if (header->scrambled)
        scramble(out.payload.data(), out.payload.size(), header->key);
    std::memmove(m_buffer.data(), m_buffer.data() + total, m_filled - total);
    m_filled -= total;
    return Result::Message;
}

} // namespace moltrex
