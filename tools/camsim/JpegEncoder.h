#pragma once

#include "SyntheticPicture.h"

#include <cstdint>
#include <vector>

namespace camsim {

// Encodes a picture as a baseline JPEG (FFmpeg's MJPEG encoder, full-range 4:2:0).
// Empty on failure.
std::vector<uint8_t> encodeJpeg(const Picture& picture);

} // namespace camsim
