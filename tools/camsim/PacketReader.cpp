#include "PacketReader.h"

#include "ByteOrder.h"
#include "PacketWriter.h"

#include <cstring>

namespace camsim {

bool PacketReader::feed(const uint8_t* data, size_t length) {
    compact();
    // One maximal packet may be waiting for its tail while the next read arrives.
    const size_t limit = 2 * (PacketWriter::kHeaderSize + m_maxPayload) + 4096;
    if (m_buffer.size() + length > limit) {
        m_broken = true;
        return false;
    }
    m_buffer.insert(m_buffer.end(), data, data + length);
    return true;
}

std::optional<Packet> PacketReader::next() {
    constexpr size_t kHeader = PacketWriter::kHeaderSize;
    while (!m_broken && m_buffer.size() - m_start >= kHeader) {
        const uint8_t* head = m_buffer.data() + m_start;
        if (std::memcmp(head + 4, "ZQNT", 4) != 0) {
            ++m_start;
            ++m_skipped;
            continue;
        }
        const int32_t length = getLe32(head + 8);
        if (length < 0 || static_cast<size_t>(length) > m_maxPayload) {
            m_broken = true;
            return std::nullopt;
        }
        if (m_buffer.size() - m_start < kHeader + static_cast<size_t>(length)) {
            return std::nullopt;
        }
        Packet packet;
        packet.command = getLe32(head);
        packet.payload.assign(head + kHeader, head + kHeader + length);
        m_start += kHeader + static_cast<size_t>(length);
        return packet;
    }
    return std::nullopt;
}

void PacketReader::compact() {
    if (m_start > 0) {
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<ptrdiff_t>(m_start));
        m_start = 0;
    }
}

} // namespace camsim
