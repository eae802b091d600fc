#include "search/SearchWire.h"

#include <cstring>

namespace zq::search {

namespace {

constexpr uint8_t kMoiMagic[4] = {'M', 'O', '_', 'I'};
// kRecordMagic as the little-endian int32 the cameras send.
constexpr uint8_t kRecordMagicBytes[4] = {0xB4, 0x9A, 0x70, 0x4D};
// Magic, one byte the client has no use for, then the first length byte.
constexpr size_t kRecordStringsStart = 5;

int32_t readInt32(const uint8_t* at) {
    return static_cast<int32_t>(static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
                                static_cast<uint32_t>(at[2]) << 16 |
                                static_cast<uint32_t>(at[3]) << 24);
}

void writeInt32(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
    at[2] = static_cast<uint8_t>(value >> 16);
    at[3] = static_cast<uint8_t>(value >> 24);
}

// True when the first `available` bytes (fewer than 4) could still become `magic`.
bool startsLike(const uint8_t* at, size_t available, const uint8_t (&magic)[4]) {
    return std::memcmp(at, magic, available < 4 ? available : 4) == 0;
}

} // namespace

std::array<uint8_t, kRequestBytes> searchRequest() {
    std::array<uint8_t, kRequestBytes> request{};
    std::memcpy(request.data(), kMoiMagic, 4);
    // Opcode 0 and nine zero bytes are already there.
    writeInt32(request.data() + kMoiLengthOffset, 4);
    writeInt32(request.data() + kMoiLengthOffset + 4, 4);
    request[26] = 1; // content: 0, 0, 0, 1
    return request;
}

bool ReplyAssembler::append(const uint8_t* data, size_t size) {
    if (size > kMaxFill - m_fill)
        return false;
    if (size > 0)
        std::memcpy(m_buffer.data() + m_fill, data, size);
    m_fill += size;
    return true;
}

ReplyAssembler::Scan ReplyAssembler::scanMoi(const uint8_t* at, size_t available,
                                             size_t& total) const {
    if (available < kMoiHeaderBytes)
        return Scan::Incomplete;
    const int32_t length = readInt32(at + kMoiLengthOffset);
    if (length < 0 || static_cast<size_t>(length) > kMaxFill - kMoiHeaderBytes)
        return Scan::Noise;
    total = kMoiHeaderBytes + static_cast<size_t>(length);
    return available < total ? Scan::Incomplete : Scan::Complete;
}

ReplyAssembler::Scan ReplyAssembler::scanRecord(const uint8_t* at, size_t available,
                                                size_t& total) const {
    size_t offset = kRecordStringsStart;
    for (size_t string = 0; string < 4; ++string) {
        if (available <= offset)
            return Scan::Incomplete;
        offset += 1 + at[offset];
    }
    total = offset + kRecordNumbers * 4;
    if (total > kMaxFill)
        return Scan::Noise;
    return available < total ? Scan::Incomplete : Scan::Complete;
}

void ReplyAssembler::buildRecord(const uint8_t* packet) {
    std::memset(m_record.data(), 0, m_record.size());
    writeInt32(m_record.data(), kRecordMagic);
    size_t offset = kRecordStringsStart;
    for (size_t string = 0; string < 4; ++string) {
        const size_t length = packet[offset];
        // A length byte is at most 255, so every string keeps a terminating zero.
        std::memcpy(m_record.data() + kRecordStringOffsets[string], packet + offset + 1, length);
        offset += 1 + length;
    }
    std::memcpy(m_record.data() + kRecordNumbersOffset, packet + offset, kRecordNumbers * 4);
}

bool ReplyAssembler::drain(const Deliver& deliver) {
    size_t position = 0;
    bool keepGoing = true;
    while (keepGoing && position < m_fill) {
        const uint8_t* at = m_buffer.data() + position;
        const size_t available = m_fill - position;
        const bool moi = startsLike(at, available, kMoiMagic);
        const bool record = startsLike(at, available, kRecordMagicBytes);
        if (!moi && !record) {
            ++position;
            continue;
        }
        if (available < 4)
            break; // the start of a reply; the rest is still on its way
        size_t total = 0;
        const Scan scan = moi ? scanMoi(at, available, total) : scanRecord(at, available, total);
        if (scan == Scan::Incomplete)
            break;
        if (scan == Scan::Noise) {
            ++position;
            continue;
        }
        if (moi) {
            const uint16_t opcode = static_cast<uint16_t>(at[4] | at[5] << 8);
            // Other opcodes (our own request heard back, for one) are consumed unseen.
            if (opcode == kMoiReplyOpcode)
                keepGoing = deliver(kReplyContent, at + kMoiHeaderBytes, total - kMoiHeaderBytes);
        } else {
            buildRecord(at);
            keepGoing = deliver(kReplyRecord, m_record.data(), m_record.size());
        }
        position += total;
    }
    std::memmove(m_buffer.data(), m_buffer.data() + position, m_fill - position);
    m_fill -= position;
    return keepGoing;
}

} // namespace zq::search
