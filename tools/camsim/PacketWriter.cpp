#include "PacketWriter.h"

#include "ByteOrder.h"

#include <cstring>

namespace camsim {

namespace {
constexpr uint8_t kMagic[4] = {'Z', 'Q', 'N', 'T'};
constexpr size_t kMediaHeaderSize = 36;
} // namespace

PacketWriter::PacketWriter(int32_t command, size_t payloadLength)
    : m_bytes(kHeaderSize + payloadLength, 0) {
    putLe32(m_bytes.data(), command);
    std::memcpy(m_bytes.data() + 4, kMagic, sizeof kMagic);
    putLe32(m_bytes.data() + 8, static_cast<int32_t>(payloadLength));
}

void PacketWriter::putWord(size_t offset, int32_t value) {
    putLe32(m_bytes.data() + kHeaderSize + offset, value);
}

std::vector<uint8_t> PacketWriter::words(int32_t command, std::initializer_list<int32_t> values) {
    PacketWriter writer(command, values.size() * 4);
    size_t offset = 0;
    for (const int32_t value : values) {
        writer.putWord(offset, value);
        offset += 4;
    }
    return writer.take();
}

std::vector<uint8_t> makeMediaPacket(int32_t command, const int32_t (&header)[9],
                                     const uint8_t* data, size_t length) {
    PacketWriter writer(command, kMediaHeaderSize + length);
    for (size_t i = 0; i < 9; ++i) {
        writer.putWord(i * 4, header[i]);
    }
    if (length > 0) {
        std::memcpy(writer.payload() + kMediaHeaderSize, data, length);
    }
    return writer.take();
}

} // namespace camsim
