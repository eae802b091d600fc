#pragma once

// The hand-off between a session's frame callback (network thread) and its record thread. The
// callback only copies into memory, so schedule and alarm recording never make it wait for the
// disk.
//
// Two buffers of 2 MiB: the callback appends to the write buffer under the write lock; the record
// thread takes from the read buffer under the read lock and, when that is empty, swaps the two
// (read lock, then write lock). A frame that does not fit discards the whole write buffer and is
// dropped itself: the producer never waits, and what is lost is one contiguous stretch.
//
// Each entry is a 40-byte header of ten 32-bit words followed by the payload: media type,
// payload length, frame rate, flags, picture width, picture height, camera words 0, 1 and 8, and
// the marker. Flags bit 0 is the key-frame flag; bit 1 says that frames were discarded just
// before this one, so the record thread can make the recording wait for the next key frame
// instead of writing pictures whose references are gone.

#include "zqnet/zqtypes.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

namespace Device {

struct QueuedFrame {
    int32_t mediaType = 0; // ZQ_MEDIA_VIDEO or ZQ_MEDIA_AUDIO
    int32_t length = 0;    // payload bytes
    int32_t frameRate = 0;
    bool keyFrame = false;
    bool afterGap = false; // entries were discarded right before this one
    int32_t width = 0;
    int32_t height = 0;
    int32_t cameraWord0 = 0;
    int32_t cameraWord1 = 0;
    int32_t cameraWord8 = 0;
};

class FrameQueue {
public:
    static constexpr size_t kBufferBytes = 0x200000;
    static constexpr size_t kHeaderBytes = 40;
    static constexpr uint32_t kMarker = 0x4B435546;

    enum class Take {
        Frame,     // `frame` and the work buffer hold the next entry
        Empty,     // the read buffer is used up (swap next)
        Oversize,  // `frame` holds the header of an entry larger than the work buffer; its
                   // payload was skipped
        Malformed, // the rest of the read buffer did not hold a whole entry and was dropped
    };

    FrameQueue() = default;
    FrameQueue(const FrameQueue&) = delete;
    FrameQueue& operator=(const FrameQueue&) = delete;

    // Allocates both buffers when they are not there yet, and empties them.
    void allocate();
    // Frees both buffers; appends are refused from then on.
    void release();
    void clear();

    // The record thread's run flag: appends are refused while it is clear.
    void setAccepting(bool accepting) { m_accepting.store(accepting, std::memory_order_release); }
    bool accepting() const { return m_accepting.load(std::memory_order_acquire); }

    // Frame callback. False when the frame was not queued (not accepting, no buffers, a negative
    // length, or no room: then the write buffer was discarded as well).
    bool append(int mediaType, const FRAME_HEAD& head, const void* data, int length, int width,
                int height);

    // Record thread. Copies the next entry's payload into `work` (of `capacity` bytes).
    Take take(QueuedFrame& frame, uint8_t* work, size_t capacity);
    // Record thread, once take() said Empty: the filled write buffer becomes the read buffer.
    // True when it holds anything.
    bool swap();

    // Bytes waiting in both buffers, headers included.
    size_t queuedBytes() const;

    // Entries discarded for lack of room since allocate() (the frame that did not fit counts,
    // plus every entry of the write buffer it discarded).
    uint64_t droppedFrames() const { return m_dropped.load(std::memory_order_relaxed); }

private:
    struct Buffer {
        std::unique_ptr<uint8_t[]> bytes;
        size_t fill = 0;
        size_t entries = 0;
    };

    std::atomic<bool> m_accepting{false};
    std::atomic<uint64_t> m_dropped{0};

    mutable std::mutex m_writeLock; // guards m_write and m_gapPending
    Buffer m_write;
    bool m_gapPending = false;

    mutable std::mutex m_readLock; // guards m_read and m_readPos; taken before m_writeLock
    Buffer m_read;
    size_t m_readPos = 0;
};

} // namespace Device
