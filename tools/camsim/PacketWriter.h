#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace camsim {

// Builds packets of the camera protocol: int32 command, the magic "ZQNT", int32 payload length,
// then the payload. The result is one contiguous buffer ready to send.
class PacketWriter {
public:
    static constexpr size_t kHeaderSize = 12;

    // A packet with `payloadLength` zeroed payload bytes; fill them through payload().
    PacketWriter(int32_t command, size_t payloadLength);

    uint8_t* payload() { return m_bytes.data() + kHeaderSize; }
    void putWord(size_t offset, int32_t value);
    // Takes the finished packet; the writer is empty afterwards.
    std::vector<uint8_t> take() { return std::move(m_bytes); }

    // A packet whose payload is the given int32 words in order.
    static std::vector<uint8_t> words(int32_t command, std::initializer_list<int32_t> values);

private:
    std::vector<uint8_t> m_bytes;
};

// A media frame packet (26 video, 27 audio): the 36-byte header of nine int32 words, then `data`.
std::vector<uint8_t> makeMediaPacket(int32_t command, const int32_t (&header)[9],
                                     const uint8_t* data, size_t length);

} // namespace camsim
