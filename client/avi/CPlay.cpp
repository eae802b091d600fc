#include "avi/CPlay.h"

#include "avi/AviRecords.h"
#include "avi/FileIo.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

int clampToInt(int64_t value) {
    return static_cast<int>(std::clamp<int64_t>(value, INT_MIN, INT_MAX));
}

// Milliseconds of `frames` frames; any two 32-bit header values multiply within 64 bits.
int framesToMs(uint64_t frames, uint32_t microSecPerFrame) {
    return static_cast<int>(std::min<uint64_t>(frames * microSecPerFrame / 1000, INT_MAX));
}

// Frames (or samples) per second of a stream header; 30 when the scale is 0, as for files whose
// writer left it out.
int streamRate(const uint8_t strh[64]) {
    const auto header = aviRecord<AviStreamHeader>(strh);
    if (header.scale == 0) {
        return 30;
    }
    return clampToInt(header.rate / header.scale);
}

} // namespace

CPlay::~CPlay() {
    closeFile();
}

void CPlay::closeFile() {
    if (m_file != nullptr) {
        aviClose(m_file);
        m_file = nullptr;
    }
}

int CPlay::durationMs() const {
    const auto main = aviRecord<AviMainHeader>(m_mainHeader);
    return framesToMs(main.totalFrames, main.microSecPerFrame);
}

int CPlay::open(const char* path, std::string& codec, int& width, int& height, int& totalFrames,
                int& durationMs) {
    std::lock_guard guard(m_lock);
    if (path == nullptr || !avi_io::fileExists(path)) {
        return 1;
    }
    closeFile();
    AviFile* file = aviOpen(path, kAviRead);
    if (file == nullptr) {
        return 2;
    }
    // Without its main header a file has no frame time, size or length to play by.
    if (aviReadMainHeader(file, m_mainHeader) != kAviOk) {
        aviClose(file);
        return 2;
    }
    // A missing stream list reads as zeros: no handler, and the default rate.
    uint32_t code = 0;
    if (aviReadStream(file, 1, m_videoHeader, m_videoFormat, &code) != kAviOk) {
        std::memset(m_videoHeader, 0, sizeof m_videoHeader);
        std::memset(m_videoFormat, 0, sizeof m_videoFormat);
    }
    if (aviReadStream(file, 2, m_audioHeader, m_audioFormat, &code) != kAviOk) {
        std::memset(m_audioHeader, 0, sizeof m_audioHeader);
        std::memset(m_audioFormat, 0, sizeof m_audioFormat);
    }
    m_videoFrameRate = streamRate(m_videoHeader);
    m_audioRate = streamRate(m_audioHeader);
    m_readPos = 0;
    m_file = file;

    const auto main = aviRecord<AviMainHeader>(m_mainHeader);
    width = clampToInt(main.width);
    height = clampToInt(main.height);
    totalFrames = clampToInt(main.totalFrames);
    durationMs = this->durationMs();
    codec = aviRecord<AviStreamHeader>(m_videoHeader).handler == kAviHandlerH264 ? "H264" : "MJPG";
    return 0;
}

int CPlay::seekTime(int ms, int& actualMs) {
    std::lock_guard guard(m_lock);
    if (m_file == nullptr || ms < 0 || ms > durationMs()) {
        return -1;
    }
    const int target = clampToInt(int64_t{ms} * m_videoFrameRate / 1000);
    int skipped = 0;
    if (aviSeekFrame(m_file, target, &skipped) != kAviOk) {
        return -1;
    }
    const auto main = aviRecord<AviMainHeader>(m_mainHeader);
    actualMs = framesToMs(static_cast<uint64_t>(target) + static_cast<uint64_t>(skipped),
                          main.microSecPerFrame);
    m_readPos = m_file->moviBytes;
    return 0;
}

int CPlay::readFrame(void* buf, int& isKey, int& length, int& isAudio) {
    std::lock_guard guard(m_lock);
    if (buf == nullptr) {
        return 2;
    }
    if (m_file == nullptr) {
        return 3;
    }
    uint32_t code = 0;
    int before = 0;
    int after = 0;
    const int result = aviReadChunk(m_file, buf, &isKey, &code, &length, &before, &after);
    if (result == kAviEndOfMovi) {
        return 1;
    }
    if (result != kAviOk) {
        return 3;
    }
    isAudio = code == aviFourcc("01wb") ? 1 : 0;
    m_readPos = after;
    return 0;
}
