#pragma once

#include "Message.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace moltrex {

// A picture or audio block from the video channel, with its own copy of the data.
struct Frame {
    bool audio = false;
    uint32_t stamp = 0; // 10 ms units
    uint32_t frameTime = 0;
    uint32_t gatherTime = 0;
    uint8_t format = 0;
    std::vector<uint8_t> data;
};

// A picture (video opcode 1) or audio block (opcode 2) as the video channel carries it: time
// stamp, two numbers (frame time, or serial and gather time), a byte (reserved, or the audio
// format), the data's length and the data. Nullopt for other opcodes and when the length claims
// more than the message holds.
std::optional<Frame> parseVideoFrame(const Message& message);

// A frame leaving the buffer: in time order (`atOnce` false), or because the buffer was emptied
// at once (true).
struct Released {
    Frame frame;
    bool atOnce = false;
};

// The monitor session's time-ordered buffer for pictures and audio blocks together.
//
// Frames are kept sorted by time stamp and leave oldest first whenever the buffered span
// (newest - oldest) reaches `span`. Stamps are 32-bit and may wrap, so they are placed on a
// 64-bit timeline by their signed distance to the previous frame. A distance beyond `jump`
// either way means the camera's clock restarted: the buffer is emptied at once and a new
// timeline begins. A frame older than one already released leaves at once in time order
// (late, but not lost). More than `maxFrames` frames or `maxBytes` bytes push the oldest out
// early, so equal stamps forever cannot grow the buffer without bound.
class FrameOrder {
public:
    FrameOrder(uint32_t span, uint32_t jump, size_t maxFrames, size_t maxBytes);

    // Adds `frame`; appends what leaves, in delivery order, to `out`.
    void push(Frame frame, std::vector<Released>& out);
    // Empties the buffer at once, oldest first.
    void flush(std::vector<Released>& out);

    size_t size() const { return m_frames.size(); }
    size_t bytes() const { return m_bytes; }

private:
    struct Entry {
        int64_t time;
        uint64_t arrival; // keeps equal stamps in arrival order
        Frame frame;
    };
    void releaseOldest(std::vector<Released>& out);

    const uint32_t m_span;
    const uint32_t m_jump;
    const size_t m_maxFrames;
    const size_t m_maxBytes;

    std::deque<Entry> m_frames; // sorted by (time, arrival)
    size_t m_bytes = 0;
    bool m_started = false;
    uint32_t m_lastStamp = 0; // stamp of the frame pushed last
    int64_t m_lastTime = 0;   // its place on the timeline
    bool m_released = false;
    int64_t m_releasedTime = 0; // the newest time released in order
    uint64_t m_arrivals = 0;
};

} // namespace moltrex
