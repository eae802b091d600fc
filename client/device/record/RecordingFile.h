#pragma once

// One AVI recording being written: the handle, the chunk codes of its two streams, and the five
// header images kept in memory and rewritten into the file after every chunk, so a file cut by a
// crash still carries current counts, rates and picture size (and aviRepair has less to guess).
//
// Not thread-safe: the recorder holds its kind's lock around every call.

#include "avi/AviRecords.h"
#include "device/record/RecordClock.h"

#include <cstdint>
#include <filesystem>

namespace Device {

// The headers a recording of a camera class starts with: 16 → "MJPG" 640×480, 17 and 19 →
// "H264" 1280×720; audio 8 kHz mono 16-bit PCM. `frameRate` below 1 counts as 30.
AviHeaderSet makeAviHeaders(int classCode, int frameRate, int totalFrames);

struct VideoInput {
    const void* data = nullptr;
    int length = 0;
    bool keyFrame = false;
    int frameRate = 0;
    int width = 0; // decoded picture; 0 keeps the size the headers have
    int height = 0;
    int cameraWord8 = 0; // stream bit rate, bits per second
};

class RecordingFile {
public:
    RecordingFile() = default;
    RecordingFile(const RecordingFile&) = delete;
    RecordingFile& operator=(const RecordingFile&) = delete;
    // A file still open here is closed without its frame rate measured.
    ~RecordingFile();

    // The five images; the recorder builds them before open() and they follow every chunk.
    AviHeaderSet headers;

    bool isOpen() const { return m_file != nullptr; }
    // Creates `path` (and its "_idx" side file) with the main header and the video, then the
    // audio stream. False, with nothing open, on failure.
    bool open(const std::filesystem::path& path, uint32_t startTick, const LocalTime& startTime);
    // aviWriteChunk's result; the headers count the chunk only when it was written.
    int writeVideo(const VideoInput& frame);
    int writeAudio(const void* pcm, int length);
    // Puts the measured frame rate (frames × 1000 / elapsed ms, 30 when that is 0) and the frame
    // count into the headers, rewrites them and closes the file. The handle is gone afterwards
    // whatever the result; aviClose's result is returned.
    int finish(uint32_t nowTick);

    const std::filesystem::path& path() const { return m_path; }
    uint32_t startTick() const { return m_startTick; }
    const LocalTime& startTime() const { return m_startTime; }
    int framesWritten() const { return m_framesWritten; }

private:
    void rewriteMain();
    void rewriteVideo();

    AviFile* m_file = nullptr;
    uint32_t m_videoCode = 0;
    uint32_t m_audioCode = 0;
    std::filesystem::path m_path;
    uint32_t m_startTick = 0;
    LocalTime m_startTime;
    int m_framesWritten = 0;
};

} // namespace Device
