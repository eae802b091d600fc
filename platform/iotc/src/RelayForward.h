#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace iotc {

// Bytes on their way from one socket to the other, in a fixed buffer. A direction reads from
// its source only while the buffer has room, so a receiver that stops reading stops its
// sender's socket in turn: back-pressure passes through the relay instead of piling up in it.
class ForwardPipe {
public:
    ForwardPipe(int from, int to, size_t capacity, std::vector<uint8_t> initial);

    int from() const { return m_from; }
    int to() const { return m_to; }
    bool wantsRead() const {
        return !m_sourceEnded && !m_sinkGone && (m_end < m_buffer.size() || m_start > 0);
    }
    bool wantsWrite() const { return !m_sinkGone && m_start < m_end; }
    bool sourceEnded() const { return m_sourceEnded; }
    bool sinkGone() const { return m_sinkGone; }
    // Nothing more will pass: the source has ended and all it sent is out, or there is nowhere
    // to send it.
    bool done() const { return m_sinkGone || (m_sourceEnded && m_start == m_end); }

    // The source failed: treat it as closed, and deliver what it had sent.
    void endSource() { m_sourceEnded = true; }
    // The destination failed: drop what was meant for it and read no more for it.
    void abandon();
    // False on a socket error; the end of the source is noted, not an error.
    bool readSome();
    // False on a socket error; adds what was sent to `forwarded`.
    bool writeSome(std::atomic<uint64_t>& forwarded);

private:
    const int m_from;
    const int m_to;
    std::vector<uint8_t> m_buffer;
    size_t m_start = 0;
    size_t m_end = 0;
    bool m_sourceEnded = false;
    bool m_sinkGone = false;
};

// Forwards between two connected non-blocking sockets until one closes (what it sent is still
// delivered, for at most `flushMs`), a socket fails, or `stop` says so. `stop` is polled at
// least every 100 ms.
void forwardPair(int first, std::vector<uint8_t> firstPending, int second,
                 std::vector<uint8_t> secondPending, size_t capacity, unsigned flushMs,
                 std::atomic<uint64_t>& forwarded, const std::function<bool()>& stop);

} // namespace iotc
