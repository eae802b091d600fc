#pragma once

// Recordings for the AVI tests: camera-like frames made by the ffmpeg program, a writer that
// makes the header updates the recorder makes, and ffprobe/ffmpeg as the outside judges.

#include "avi/AviRecords.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace avitest {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// A folder of its own per test, removed with the object.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    fs::path file(const std::string& name) const { return m_path / name; }

private:
    fs::path m_path;
};

struct Frame {
    Bytes data;
    bool key = false;
};

// Frames as a camera sends them: `codec` "h264" gives access units from libx264 (baseline, a key
// frame every 25), "mjpeg" JPEG pictures from ffmpeg's encoder.
std::vector<Frame> cameraFrames(const std::string& codec, int width, int height, int count);
// Frames of the given lengths filled with a counter pattern, key every `keyInterval`.
std::vector<Frame> syntheticFrames(const std::vector<int>& lengths, int keyInterval);

// One block of a 440 Hz tone, 16-bit little-endian, `samples` long, continuing block `index`.
Bytes pcmBlock(int samples, int index);

// What the recorder writes: one video frame, then (when `audioSamples` > 0) one audio block,
// with the main header and the stream lists rewritten after each as the recorder does.
struct RecordingPlan {
    uint32_t handler = kAviHandlerH264;
    int width = 640;
    int height = 360;
    int frameRate = 25;
    int audioSamples = 320; // 40 ms of 8 kHz audio per frame
};

class RecordingWriter {
public:
    RecordingWriter(const fs::path& path, const RecordingPlan& plan);
    ~RecordingWriter();
    RecordingWriter(const RecordingWriter&) = delete;
    RecordingWriter& operator=(const RecordingWriter&) = delete;
    bool opened() const { return m_file != nullptr; }
    // aviWriteChunk's result for the video frame (the audio block's when that one fails).
    int write(const Frame& frame);
    int close();
    AviFile* handle() const { return m_file; }

private:
    AviFile* m_file = nullptr;
    AviHeaderSet m_headers;
    RecordingPlan m_plan;
    uint32_t m_videoCode = 0;
    uint32_t m_audioCode = 0;
    int m_frames = 0;
};

// Writes and closes a whole recording; 0 or the first failing result.
int writeRecording(const fs::path& path, const RecordingPlan& plan,
                   const std::vector<Frame>& frames);

struct ToolRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};
ToolRun runTool(const std::string& command);

// ffprobe -v warning with frames decoded and packets counted: one key=value map per stream,
// and everything ffprobe said on its error stream.
struct Probe {
    std::vector<std::map<std::string, std::string>> streams;
    std::string warnings;
    int exitCode = -1;
};
Probe probe(const fs::path& file);

// md5 of every decoded video picture, in order (ffmpeg -f framemd5).
std::vector<std::string> pictureHashes(const fs::path& file, const std::string& inputFormat = {});

Bytes readFile(const fs::path& file);
void writeFile(const fs::path& file, const Bytes& bytes);
uint32_t u32At(const Bytes& bytes, size_t position);
void putU32(Bytes& bytes, size_t position, uint32_t value);
std::string codeText(uint32_t code);

} // namespace avitest
