#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace Device {

// Collects bytes and hands them on in pieces of one fixed size, in order; a remainder waits for
// the next push. The talk path needs it twice: the encoders take PCM only in whole blocks of
// their own size, and MJPEG cameras take talk audio only in packets of exactly 160 bytes.
//
// Not thread-safe: the owner guards it.
class FixedBlocks {
public:
    explicit FixedBlocks(size_t blockBytes) : m_blockBytes(blockBytes) {
        m_buffer.reserve(blockBytes);
    }

    size_t blockBytes() const { return m_blockBytes; }
    // Bytes waiting for a block to fill; always less than blockBytes().
    size_t pending() const { return m_buffer.size(); }
    void clear() { m_buffer.clear(); }

    // Calls onBlock(const char* block, size_t blockBytes) for each block completed by `data`.
    // The block is valid during the call only. Whole blocks of `data` are handed on in place,
    // without a copy, when nothing is pending.
    template <typename OnBlock> void push(const void* data, size_t length, OnBlock&& onBlock) {
        const auto* bytes = static_cast<const char*>(data);
        if (m_blockBytes == 0 || !bytes)
            return;
        if (!m_buffer.empty()) {
            const size_t take = std::min(length, m_blockBytes - m_buffer.size());
            m_buffer.insert(m_buffer.end(), bytes, bytes + take);
            bytes += take;
            length -= take;
            if (m_buffer.size() < m_blockBytes)
                return;
            onBlock(static_cast<const char*>(m_buffer.data()), m_blockBytes);
            m_buffer.clear();
        }
        while (length >= m_blockBytes) {
            onBlock(bytes, m_blockBytes);
            bytes += m_blockBytes;
            length -= m_blockBytes;
        }
        m_buffer.insert(m_buffer.end(), bytes, bytes + length);
    }

private:
    size_t m_blockBytes;
    std::vector<char> m_buffer;
};

} // namespace Device
