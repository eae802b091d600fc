#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace camsim {

struct Packet {
    int32_t command = 0;
    std::vector<uint8_t> payload;
};

// Cuts packets out of the bytes a client sends. Bounded: a payload longer than `maxPayload`
// (the largest request the camera accepts) or negative marks the stream as broken, and buffered
// bytes never exceed one maximal packet plus one read. Bytes before a header that lacks the magic
// are skipped one at a time, so the reader resynchronises after garbage, as the protocol's own
// receivers do.
class PacketReader {
public:
    explicit PacketReader(size_t maxPayload) : m_maxPayload(maxPayload) {}

    // Appends received bytes. False when that would exceed the bound (the stream is then broken).
    bool feed(const uint8_t* data, size_t length);
    // The next complete packet, if any. Sets broken() on an impossible length.
    std::optional<Packet> next();

    bool broken() const { return m_broken; }
    size_t skippedBytes() const { return m_skipped; }
    size_t buffered() const { return m_buffer.size() - m_start; }

private:
    void compact();

    const size_t m_maxPayload;
    std::vector<uint8_t> m_buffer;
    size_t m_start = 0; // first unparsed byte in m_buffer
    size_t m_skipped = 0;
    bool m_broken = false;
};

} // namespace camsim
