#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// Test and benchmark clips made by the ffmpeg program from its own test sources, with ffmpeg's
// own decode of them as the reference.
namespace clips {

struct ClipRecipe {
    std::string codec = "h264";
    std::string profile = "baseline";    // x264 profile ("baseline", "main", "high"); h264 only
    std::string pixelFormat = "yuv420p"; // input to the encoder (mjpeg: yuvj420p, yuvj422p)
    int width = 640;
    int height = 480;
    int frames = 10;
    int keyInterval = 5;
};

// Output options for the reference: planar 4:2:0 as decoded (limited range), and full-range
// 4:2:0 as JPEG decodes to, 4:2:2 sources brought to 4:2:0 by area averaging.
inline const std::string kLimited420 = "-pix_fmt yuv420p";
inline const std::string kFullRange420 = "-pix_fmt yuvj420p -sws_flags area";

struct Clip {
    std::vector<std::vector<uint8_t>> frames; // one access unit / one JPEG each
    int width = 0;
    int height = 0;
};

// Folder for the clips of this process: created on first use, removed at exit.
std::filesystem::path workFolder();

// Runs ffmpeg with `arguments`; false when it fails. Output goes to the log on failure.
bool runFfmpeg(const std::string& arguments);

// Encodes a clip and writes it to `file` (raw .h264 or .mjpeg stream). Empty string on success,
// else the reason.
std::string makeClip(const ClipRecipe& recipe, const std::filesystem::path& file);

// Splits a raw stream file into the frames a camera would send (libavformat's parsers).
Clip readClip(const std::filesystem::path& file, const std::string& format);

// ffmpeg's own decode of `file` as 4:2:0 pictures of `width` x `height`; `output` gives the
// output pixel format and any scaler flags.
std::vector<std::vector<uint8_t>> referencePictures(const std::filesystem::path& file, int width,
                                                    int height,
                                                    const std::string& output = kLimited420);

// Clip and reference in one go, cached by name in the work folder.
struct ReferenceClip {
    Clip clip;
    std::vector<std::vector<uint8_t>> pictures;
    std::string error;
};
ReferenceClip makeReferenceClip(const ClipRecipe& recipe, const std::string& output = kLimited420);

} // namespace clips
