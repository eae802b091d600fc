#pragma once

#include "avi/Avi.h"

#include <cstdint>
#include <mutex>
#include <string>

// Reads one recording for the playback view: its summary at open, then its chunks in file
// order, with seeks by time in between.
//
// Threads: the playback thread reads while the UI thread may seek or open; every operation
// holds the object's lock, which guards all members.
class CPlay {
public:
    CPlay() = default;
    virtual ~CPlay();
    CPlay(const CPlay&) = delete;
    CPlay& operator=(const CPlay&) = delete;

    // Opens `path` (UTF-8), closing a file opened before. `codec` becomes "H264" when the video
    // handler is "H264", else "MJPG"; `durationMs` = microseconds per frame x total frames / 1000.
    // 0; 1 when `path` is null or does not exist; 2 when it cannot be opened as a recording.
    int open(const char* path, std::string& codec, int& width, int& height, int& totalFrames,
             int& durationMs);

    // Moves to the first key frame at or after `ms`; `actualMs` is the time of that frame.
    // 0; -1 when no file is open, `ms` is outside the recording or no key frame is near.
    int seekTime(int ms, int& actualMs);

    // The next chunk into `buf`. On entry `length` holds the size of `buf`, on return the
    // chunk's length; `isAudio` is 1 for "01wb", else 0. 0; 1 at the end; 2 when `buf` is null;
    // 3 when no file is open or the chunk cannot be read (also when `buf` is too small).
    int readFrame(void* buf, int& isKey, int& length, int& isAudio);

private:
    void closeFile();
    int durationMs() const;

    std::mutex m_lock;
    AviFile* m_file = nullptr; // owned; closed by closeFile
    uint8_t m_mainHeader[64] = {};
    uint8_t m_videoHeader[64] = {};
    uint8_t m_videoFormat[40] = {};
    uint8_t m_audioHeader[64] = {};
    uint8_t m_audioFormat[40] = {};
    int m_videoFrameRate = 0;
    int m_audioRate = 0;
    int m_readPos = 0; // from the start of the "movi" data
};
