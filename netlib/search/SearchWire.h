#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace zq::search {

inline constexpr uint16_t kSearchPort = 10000;
inline constexpr size_t kRequestBytes = 27;
inline constexpr size_t kMoiHeaderBytes = 23;
inline constexpr size_t kMoiLengthOffset = 15;
inline constexpr uint16_t kMoiReplyOpcode = 1;
inline constexpr uint32_t kRecordMagic = 0x4D709AB4;
inline constexpr size_t kRecordBytes = 1060;
inline constexpr size_t kRecordStringBytes = 256;
inline constexpr size_t kRecordStringOffsets[4] = {4, 260, 516, 772};
inline constexpr size_t kRecordNumbersOffset = 1028;
inline constexpr size_t kRecordNumbers = 8;
// A datagram is read into this many bytes; anything longer arrives cut off.
inline constexpr size_t kMaxDatagram = 200;

enum ReplyKind : int { kReplyContent = 1, kReplyRecord = 3 };

// The 27-byte request broadcast to port 10000.
std::array<uint8_t, kRequestBytes> searchRequest();

// Joins the datagrams of one socket into replies.
//
// A reply may span datagrams and a datagram may carry several replies, so bytes are kept in a
// fixed buffer until a whole reply is there. Every length read from the wire is checked against
// what is buffered and against the buffer itself: a length that could never fit marks the bytes
// as noise, which are then skipped one at a time until a reply start lines up again.
class ReplyAssembler {
public:
    static constexpr size_t kCapacity = 1000;
    // The fill never passes this; a datagram that would is an error of the socket's stream.
    static constexpr size_t kMaxFill = 999;

    // Return false to stop: the reply just delivered is consumed, the rest stays buffered.
    using Deliver = std::function<bool(ReplyKind kind, const uint8_t* data, size_t size)>;

    // False (and nothing appended) when the datagram would take the fill past kMaxFill.
    bool append(const uint8_t* data, size_t size);
    // Delivers every complete reply in arrival order; false when `deliver` asked to stop.
    bool drain(const Deliver& deliver);
    void reset() { m_fill = 0; }
    size_t buffered() const { return m_fill; }

private:
    enum class Scan { Incomplete, Noise, Complete };
    Scan scanMoi(const uint8_t* at, size_t available, size_t& total) const;
    Scan scanRecord(const uint8_t* at, size_t available, size_t& total) const;
    void buildRecord(const uint8_t* packet);

    std::array<uint8_t, kCapacity> m_buffer{};
    size_t m_fill = 0;
    std::vector<uint8_t> m_record = std::vector<uint8_t>(kRecordBytes);
};

} // namespace zq::search
