#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace zqprobe {

// What arrived in the current second. Written from zqnet's threads, read by the main thread.
class ProbeStats {
public:
    void onVideo(int length, bool keyFrame, int frameRate, int bitRate, int counter);
    void onAudio(int length);
    void onEvent(const std::string& line);
    // A picture came out of the decoder / the decoder announced a picture size.
    void onPicture();
    void onPictureSize(int width, int height);
    void onPcm(int bytes);

    // The line for the second that just ended; resets the counters.
    std::string takeSecond(int second);
    uint64_t totalVideoFrames() const;
    uint64_t totalKeyFrames() const;
    uint64_t totalPictures() const;
    int lastCounterGap() const;

private:
    mutable std::mutex m_lock; // guards everything below
    uint32_t m_videoFrames = 0;
    uint64_t m_videoBytes = 0;
    uint32_t m_keyFrames = 0;
    uint32_t m_framesSinceKey = 0;
    uint32_t m_keyInterval = 0; // frames between the last two key frames
    int m_frameRate = 0;
    int m_statedBitRate = 0;
    uint32_t m_audioBlocks = 0;
    uint64_t m_audioBytes = 0;
    int m_lastCounter = -1;
    int m_counterGaps = 0;
    uint64_t m_totalVideo = 0;
    uint64_t m_totalKeys = 0;
    uint32_t m_pictures = 0;
    uint64_t m_totalPictures = 0;
    int m_pictureWidth = 0;
    int m_pictureHeight = 0;
    uint64_t m_pcmBytes = 0;
    std::vector<std::string> m_events;
};

} // namespace zqprobe
