#include "device/record/FrameQueue.h"

#include <cstring>
#include <new>

namespace Device {

namespace {

constexpr uint32_t kFlagKey = 1;
constexpr uint32_t kFlagAfterGap = 2;

void storeWord(uint8_t* at, uint32_t value) {
    std::memcpy(at, &value, sizeof value);
}

uint32_t loadWord(const uint8_t* at) {
    uint32_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

} // namespace

void FrameQueue::allocate() {
    std::scoped_lock guard(m_readLock, m_writeLock);
    for (Buffer* buffer : {&m_read, &m_write}) {
        if (!buffer->bytes)
            buffer->bytes.reset(new uint8_t[kBufferBytes]);
        buffer->fill = 0;
        buffer->entries = 0;
    }
    m_readPos = 0;
    m_gapPending = false;
    m_dropped.store(0, std::memory_order_relaxed);
}

void FrameQueue::release() {
    setAccepting(false);
    std::scoped_lock guard(m_readLock, m_writeLock);
    for (Buffer* buffer : {&m_read, &m_write}) {
        buffer->bytes.reset();
        buffer->fill = 0;
        buffer->entries = 0;
    }
    m_readPos = 0;
}

void FrameQueue::clear() {
    std::scoped_lock guard(m_readLock, m_writeLock);
    m_read.fill = m_read.entries = 0;
    m_write.fill = m_write.entries = 0;
    m_readPos = 0;
    m_gapPending = false;
}

bool FrameQueue::append(int mediaType, const FRAME_HEAD& head, const void* data, int length,
                        int width, int height) {
    if (!accepting() || length < 0 || (length > 0 && data == nullptr))
        return false;
    const auto payload = static_cast<size_t>(length);
    std::lock_guard guard(m_writeLock);
    if (!m_write.bytes)
        return false;
    if (m_write.fill + payload + kHeaderBytes > kBufferBytes) {
        m_dropped.fetch_add(m_write.entries + 1, std::memory_order_relaxed);
        m_write.fill = 0;
        m_write.entries = 0;
        m_gapPending = true;
        return false;
    }
    uint8_t* at = m_write.bytes.get() + m_write.fill;
    const uint32_t flags = (head.keyFrame != 0 ? kFlagKey : 0) | (m_gapPending ? kFlagAfterGap : 0);
    const uint32_t words[10] = {static_cast<uint32_t>(mediaType),
                                static_cast<uint32_t>(length),
                                static_cast<uint32_t>(head.frameRate),
                                flags,
                                static_cast<uint32_t>(width),
                                static_cast<uint32_t>(height),
                                static_cast<uint32_t>(head.cameraWord0),
                                static_cast<uint32_t>(head.cameraWord1),
                                static_cast<uint32_t>(head.cameraWord8),
                                kMarker};
    for (size_t i = 0; i < 10; ++i)
        storeWord(at + 4 * i, words[i]);
    if (payload > 0)
        std::memcpy(at + kHeaderBytes, data, payload);
    m_write.fill += kHeaderBytes + payload;
    m_write.entries += 1;
    m_gapPending = false;
    return true;
}

FrameQueue::Take FrameQueue::take(QueuedFrame& frame, uint8_t* work, size_t capacity) {
    std::lock_guard guard(m_readLock);
    if (!m_read.bytes || m_readPos + kHeaderBytes > m_read.fill)
        return Take::Empty;
    const uint8_t* at = m_read.bytes.get() + m_readPos;
    m_readPos += kHeaderBytes;
    const auto length = static_cast<size_t>(loadWord(at + 4));
    // Only append() writes these buffers, so a bad marker or a payload running past the fill
    // means the bookkeeping is broken: nothing after this point can be trusted.
    if (loadWord(at + 36) != kMarker || length > m_read.fill - m_readPos) {
        m_readPos = m_read.fill;
        return Take::Malformed;
    }
    const uint32_t flags = loadWord(at + 12);
    frame.mediaType = static_cast<int32_t>(loadWord(at));
    frame.length = static_cast<int32_t>(length);
    frame.frameRate = static_cast<int32_t>(loadWord(at + 8));
    frame.keyFrame = (flags & kFlagKey) != 0;
    frame.afterGap = (flags & kFlagAfterGap) != 0;
    frame.width = static_cast<int32_t>(loadWord(at + 16));
    frame.height = static_cast<int32_t>(loadWord(at + 20));
    frame.cameraWord0 = static_cast<int32_t>(loadWord(at + 24));
    frame.cameraWord1 = static_cast<int32_t>(loadWord(at + 28));
    frame.cameraWord8 = static_cast<int32_t>(loadWord(at + 32));
    const uint8_t* payload = m_read.bytes.get() + m_readPos;
    m_readPos += length;
    if (length > capacity || work == nullptr)
        return Take::Oversize;
    if (length > 0)
        std::memcpy(work, payload, length);
    return Take::Frame;
}

size_t FrameQueue::queuedBytes() const {
    std::scoped_lock guard(m_readLock, m_writeLock);
    return m_read.fill - m_readPos + m_write.fill;
}

bool FrameQueue::swap() {
    std::lock_guard readGuard(m_readLock);
    // Unread entries would be lost by a swap; take() must say Empty first.
    if (m_readPos < m_read.fill)
        return true;
    std::lock_guard writeGuard(m_writeLock);
    std::swap(m_read, m_write);
    m_readPos = 0;
    m_write.fill = 0;
    m_write.entries = 0;
    return m_read.fill > 0;
}

} // namespace Device
