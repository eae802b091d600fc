#pragma once

#include "video/PictureSize.h"

#include <cstddef>
#include <cstdint>

namespace vidora {

// A JPEG picture starts with the start-of-image marker FF D8.
bool isJpeg(const uint8_t* data, size_t length);

// The size in the JPEG's start-of-frame header (baseline, extended or progressive), found by
// walking the marker segments before the scan. Unknown when there is none or it is cut off.
PictureSize readJpegSize(const uint8_t* data, size_t length);

} // namespace vidora
