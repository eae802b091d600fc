#include "ProbeStats.h"

#include <cstdio>

namespace zqprobe {

void ProbeStats::onVideo(int length, bool keyFrame, int frameRate, int bitRate, int counter) {
    std::lock_guard lock(m_lock);
    ++m_videoFrames;
    ++m_totalVideo;
    m_videoBytes += static_cast<uint64_t>(length);
    m_frameRate = frameRate;
    m_statedBitRate = bitRate;
    ++m_framesSinceKey;
    if (keyFrame) {
        ++m_keyFrames;
        ++m_totalKeys;
        m_keyInterval = m_framesSinceKey;
        m_framesSinceKey = 0;
    }
    // The camera numbers its frames; a jump means frames were lost on the way.
    if (m_lastCounter >= 0 && counter != m_lastCounter + 1)
        ++m_counterGaps;
    m_lastCounter = counter;
}

void ProbeStats::onAudio(int length) {
    std::lock_guard lock(m_lock);
    ++m_audioBlocks;
    m_audioBytes += static_cast<uint64_t>(length);
}

void ProbeStats::onPicture() {
    std::lock_guard lock(m_lock);
    ++m_pictures;
    ++m_totalPictures;
}

void ProbeStats::onPictureSize(int width, int height) {
    std::lock_guard lock(m_lock);
    m_pictureWidth = width;
    m_pictureHeight = height;
}

void ProbeStats::onPcm(int bytes) {
    std::lock_guard lock(m_lock);
    m_pcmBytes += static_cast<uint64_t>(bytes);
}

void ProbeStats::onEvent(const std::string& line) {
    std::lock_guard lock(m_lock);
    if (m_events.size() < 64)
        m_events.push_back(line);
}

std::string ProbeStats::takeSecond(int second) {
    std::lock_guard lock(m_lock);
    char line[512];
    std::snprintf(line, sizeof line,
                  "[%3ds] video %3u fps %7.1f kbit/s (stated %d fps, %d kbit/s) key %u "
                  "(every %u) | decoded %u pictures %dx%d | audio %u blocks %llu B, PCM %llu B "
                  "| gaps %d",
                  second, m_videoFrames, static_cast<double>(m_videoBytes) * 8 / 1000, m_frameRate,
                  m_statedBitRate / 1000, m_keyFrames, m_keyInterval, m_pictures, m_pictureWidth,
                  m_pictureHeight, m_audioBlocks, static_cast<unsigned long long>(m_audioBytes),
                  static_cast<unsigned long long>(m_pcmBytes), m_counterGaps);
    std::string out = line;
    for (const auto& event : m_events)
        out += "\n        event " + event;
    m_events.clear();
    m_videoFrames = 0;
    m_videoBytes = 0;
    m_keyFrames = 0;
    m_audioBlocks = 0;
    m_audioBytes = 0;
    m_pictures = 0;
    m_pcmBytes = 0;
    return out;
}

uint64_t ProbeStats::totalVideoFrames() const {
    std::lock_guard lock(m_lock);
    return m_totalVideo;
}

uint64_t ProbeStats::totalKeyFrames() const {
    std::lock_guard lock(m_lock);
    return m_totalKeys;
}

uint64_t ProbeStats::totalPictures() const {
    std::lock_guard lock(m_lock);
    return m_totalPictures;
}

int ProbeStats::lastCounterGap() const {
    std::lock_guard lock(m_lock);
    return m_counterGaps;
}

} // namespace zqprobe
