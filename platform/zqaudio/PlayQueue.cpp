#include "PlayQueue.h"

#include <algorithm>
#include <cstring>

namespace zqaudio {

void PlayQueue::open(size_t capacity) {
    std::lock_guard lock(m_lock);
    m_ring.assign(capacity, 0);
    m_head = 0;
    m_size = 0;
    m_open = capacity > 0;
}

void PlayQueue::close() {
    std::lock_guard lock(m_lock);
    m_open = false;
    m_size = 0;
    m_head = 0;
}

bool PlayQueue::push(const char* data, size_t bytes) {
    std::lock_guard lock(m_lock);
    if (!m_open)
        return false;
    if (bytes == 0)
        return true;
    const size_t capacity = m_ring.size();
    if (bytes > capacity) {
        // Everything queued and the start of this write give way to its newest part.
        data += bytes - capacity;
        bytes = capacity;
        m_head = 0;
        m_size = 0;
    }
    const size_t overflow = m_size + bytes > capacity ? m_size + bytes - capacity : 0;
    m_head = (m_head + overflow) % capacity;
    m_size -= overflow;
    copyIn(data, bytes);
    return true;
}

// Appends after the newest byte; the caller has made room.
void PlayQueue::copyIn(const char* data, size_t bytes) {
    const size_t capacity = m_ring.size();
    const size_t tail = (m_head + m_size) % capacity;
    const size_t first = std::min(bytes, capacity - tail);
    std::memcpy(m_ring.data() + tail, data, first);
    std::memcpy(m_ring.data(), data + first, bytes - first);
    m_size += bytes;
}

size_t PlayQueue::pop(char* out, size_t bytes) {
    std::lock_guard lock(m_lock);
    const size_t count = std::min(bytes, m_size);
    if (count == 0)
        return 0;
    const size_t capacity = m_ring.size();
    const size_t first = std::min(count, capacity - m_head);
    std::memcpy(out, m_ring.data() + m_head, first);
    std::memcpy(out + first, m_ring.data(), count - first);
    m_head = (m_head + count) % capacity;
    m_size -= count;
    return count;
}

} // namespace zqaudio
