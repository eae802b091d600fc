#include "HalfPlane.h"

#include <cstddef>
#include <cstring>

namespace videodetail {

namespace {

void halveRow(const uint8_t* upper, const uint8_t* lower, int width, uint8_t* out) {
    const int pairs = width / 2;
    for (int x = 0; x < pairs; ++x) {
        out[x] = static_cast<uint8_t>(
            (upper[2 * x] + upper[2 * x + 1] + lower[2 * x] + lower[2 * x + 1] + 2) >> 2);
    }
    if (width % 2 != 0) {
        const int last = width - 1;
        out[pairs] = static_cast<uint8_t>((2 * upper[last] + 2 * lower[last] + 2) >> 2);
    }
}

} // namespace

void halvePlane(const uint8_t* from, int fromStride, int width, int height, uint8_t* to,
                int toStride) {
    const int rows = (height + 1) / 2;
    for (int row = 0; row < rows; ++row) {
        const uint8_t* upper = from + static_cast<ptrdiff_t>(2 * row) * fromStride;
        const uint8_t* lower = 2 * row + 1 < height ? upper + fromStride : upper;
        halveRow(upper, lower, width, to + static_cast<ptrdiff_t>(row) * toStride);
    }
}

void copyAndHalvePlane(const uint8_t* from, int fromStride, int width, int height, uint8_t* to,
                       int toStride, uint8_t* half, int halfStride) {
    const int rows = (height + 1) / 2;
    for (int row = 0; row < rows; ++row) {
        const uint8_t* upper = from + static_cast<ptrdiff_t>(2 * row) * fromStride;
        const bool paired = 2 * row + 1 < height;
        const uint8_t* lower = paired ? upper + fromStride : upper;
        uint8_t* out = to + static_cast<ptrdiff_t>(2 * row) * toStride;
        std::memcpy(out, upper, static_cast<size_t>(width));
        if (paired) {
            std::memcpy(out + toStride, lower, static_cast<size_t>(width));
        }
        halveRow(upper, lower, width, half + static_cast<ptrdiff_t>(row) * halfStride);
    }
}

} // namespace videodetail
