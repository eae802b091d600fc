#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace camsim {

struct EncodedFrame {
    std::vector<uint8_t> data; // Annex-B byte stream of one picture
    bool key = false;
};

struct H264LoopSettings {
    int width = 1280;
    int height = 720;
    int fps = 25;
    int bitRate = 2000000; // bits per second
    int gop = 25;          // frames from one key frame to the next
    int frames = 250;
};

// Encodes `settings.frames` test pictures with libx264 (Baseline, no B-frames, one picture per
// packet). Every key frame starts with its own SPS and PPS (start code, then NAL type 7), so a
// client may join the stream at any key frame. Returns an empty vector with `error` set when the
// encoder is missing or fails.
std::vector<EncodedFrame> encodeH264Loop(const H264LoopSettings& settings, std::string& error);

} // namespace camsim
