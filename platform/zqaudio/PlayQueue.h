#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

namespace zqaudio {

// Audio waiting to be played: a ring of bytes of fixed capacity between the writer (the client's
// decoder thread) and the device, which takes it at its own pace.
//
// Live sound must stay live, so a writer never waits for room: when the ring is full the oldest
// queued bytes are dropped to make room for the new ones. A single write larger than the whole
// ring keeps only its newest `capacity` bytes. The lock is held only for the copies, so neither
// side waits long for the other (the device side may be a real-time audio callback).
//
// All counts are whole samples (even) when the caller passes whole samples, which the device
// layer enforces.
class PlayQueue {
public:
    // Empties the ring, sets its capacity and starts accepting writes.
    void open(size_t capacity);
    // Empties the ring and refuses writes until the next open().
    void close();

    // Queues `bytes` of `data`; false when the queue is closed.
    bool push(const char* data, size_t bytes);
    // Moves up to `bytes` of the oldest queued audio to `out`; the count moved.
    size_t pop(char* out, size_t bytes);

private:
    void copyIn(const char* data, size_t bytes);

    mutable std::mutex m_lock;
    std::vector<char> m_ring; // guarded by m_lock, as are the counters below
    size_t m_head = 0;        // index of the oldest byte
    size_t m_size = 0;
    bool m_open = false;
};

} // namespace zqaudio
