#include "FrameOrder.h"

#include "Fields.h"

#include <algorithm>

namespace moltrex {

std::optional<Frame> parseVideoFrame(const Message& message) {
    if (message.opcode != 1 && message.opcode != 2)
        return std::nullopt;
    FieldReader in(message.payload);
    Frame frame;
    frame.audio = message.opcode == 2;
    frame.stamp = in.u32();
    frame.frameTime = in.u32();
    if (frame.audio) {
        frame.gatherTime = in.u32();
        frame.format = in.u8();
    } else {
        in.skip(1); // reserved
    }
    const uint32_t length = in.u32();
    if (!in.ok() || length > in.remaining())
        return std::nullopt;
    const auto start = message.payload.begin() + static_cast<ptrdiff_t>(in.offset());
    frame.data.assign(start, start + length);
    return frame;
}

FrameOrder::FrameOrder(uint32_t span, uint32_t jump, size_t maxFrames, size_t maxBytes)
    : m_span(span), m_jump(jump), m_maxFrames(maxFrames < 1 ? 1 : maxFrames), m_maxBytes(maxBytes) {
}

void FrameOrder::push(Frame frame, std::vector<Released>& out) {
    int64_t time = 0;
    if (m_started) {
        const auto distance = static_cast<int32_t>(frame.stamp - m_lastStamp);
        const int64_t magnitude = distance < 0 ? -static_cast<int64_t>(distance) : distance;
        if (magnitude > m_jump) {
            flush(out);
            m_released = false;
        } else {
            time = m_lastTime + distance;
        }
    }
    m_started = true;
    m_lastStamp = frame.stamp;
    m_lastTime = time;

    if (m_released && time < m_releasedTime) {
        out.push_back(Released{std::move(frame), false});
        return;
    }
    Entry entry{time, m_arrivals++, std::move(frame)};
    m_bytes += entry.frame.data.size();
    const auto place = std::upper_bound(
        m_frames.begin(), m_frames.end(), entry, [](const Entry& a, const Entry& b) {
            return a.time < b.time || (a.time == b.time && a.arrival < b.arrival);
        });
    m_frames.insert(place, std::move(entry));

    while (!m_frames.empty() && (m_frames.back().time - m_frames.front().time >= m_span ||
                                 m_frames.size() > m_maxFrames || m_bytes > m_maxBytes))
        releaseOldest(out);
}

void FrameOrder::releaseOldest(std::vector<Released>& out) {
    Entry& oldest = m_frames.front();
    m_released = true;
    m_releasedTime = oldest.time;
    m_bytes -= oldest.frame.data.size();
    out.push_back(Released{std::move(oldest.frame), false});
    m_frames.pop_front();
}

void FrameOrder::flush(std::vector<Released>& out) {
    for (Entry& entry : m_frames)
        out.push_back(Released{std::move(entry.frame), true});
    m_frames.clear();
    m_bytes = 0;
}

} // namespace moltrex
