#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace moltrex {

// The four channels of the camera family, each with its own tag in every message header.
enum class Channel { Search, Management, Operation, Video };

// "MO_I", "MO_M", "MO_O" or "MO_V".
const char* channelTag(Channel channel);

// Header: tag (4), opcode (2), scrambled flag (1), key (8), payload length (4), the length again
// (4); all little-endian.
inline constexpr size_t kHeaderBytes = 23;
// A received message, header included, must fit the receive buffer.
inline constexpr size_t kReceiveBufferBytes = 102400;
inline constexpr size_t kMaxReceivedPayload = kReceiveBufferBytes - kHeaderBytes;

struct Message {
    uint16_t opcode = 0;
    std::vector<uint8_t> payload; // already unscrambled
};

struct Header {
    uint16_t opcode = 0;
    bool scrambled = false;
    std::array<uint8_t, 8> key{};
    uint32_t payloadBytes = 0;
};

// The library only ever sends unscrambled messages.
std::vector<uint8_t> encodeMessage(Channel channel, uint16_t opcode,
                                   const std::vector<uint8_t>& payload = {});

// Checks the tag, that both length fields agree and that the payload fits the receive buffer.
// Nullopt when any check fails.
std::optional<Header> parseHeader(const uint8_t* header, Channel channel);

// XORs payload byte i with key byte (i mod 8): scrambling and restoring are the same operation.
void scramble(uint8_t* payload, size_t size, const std::array<uint8_t, 8>& key);

// A whole datagram: accepted only when its header passes parseHeader() and payload length + 23
// equals the datagram's size.
std::optional<Message> parseDatagram(const uint8_t* data, size_t size, Channel channel);

// Cuts messages out of a TCP byte stream. Bytes go straight into the reader's own receive buffer
// (space(), then commit()); next() hands out complete messages. A header that fails the checks
// breaks the stream for good: nothing after it can be trusted to start a message.
class StreamReader {
public:
    enum class Result { Message, NeedMore, Broken };

    explicit StreamReader(Channel channel);

    uint8_t* space() { return m_buffer.data() + m_filled; }
    size_t spaceBytes() const { return m_buffer.size() - m_filled; }
    void commit(size_t bytes);
    // Convenience for tests and the fuzzer: copies `size` bytes in as space allows; the count
    // taken.
    size_t feed(const uint8_t* data, size_t size);

    Result next(Message& out);
    bool broken() const { return m_broken; }
    // Bytes of an incomplete message waiting for the rest.
    size_t pending() const { return m_filled; }

private:
    Channel m_channel;
    std::vector<uint8_t> m_buffer;
    size_t m_filled = 0;
    bool m_broken = false;
};

} // namespace moltrex
