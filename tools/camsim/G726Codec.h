#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace camsim {

// G.726 at 16 kbit/s (2 bits per sample, 8 kHz), codes packed most significant bits first, as the
// camera's talk and listen channels carry it: one block of 480 samples is 120 bytes, and each
// block is coded with fresh codec state so blocks stand alone.
class G726Codec {
public:
    static constexpr size_t kBlockSamples = 480;
    static constexpr size_t kBlockBytes = 120;

    // Encodes `count` samples (at most one block) with fresh state: count / 4 bytes.
    // Empty on codec failure.
    static std::vector<uint8_t> encodeBlock(const int16_t* samples, size_t count);
    // Decodes `length` bytes (at most one block) with fresh state: 4 samples per byte.
    static std::vector<int16_t> decodeBlock(const uint8_t* data, size_t length);
};

} // namespace camsim
