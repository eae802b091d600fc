#pragma once

#include <cstddef>
#include <cstdint>

namespace moltrex {

// Pictures beyond this in either direction are refused: the header alone would otherwise make
// the library allocate whatever a camera claims.
inline constexpr int kMaxPictureSide = 8192;

struct RgbPicture {
    uint8_t* pixels = nullptr; // library heap, width * height * 3 bytes, R, G, B
    int width = 0;
    int height = 0;
};

// Decodes a JPEG into a new heap buffer; false (nothing allocated) for empty input, a decoding
// failure or a picture beyond kMaxPictureSide.
bool decodeJpeg(const uint8_t* data, size_t size, bool bottomUp, RgbPicture& out);

} // namespace moltrex
