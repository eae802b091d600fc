#pragma once

#include <cstdint>

namespace videodetail {

// One plane at half its size in both directions, each sample the rounded mean of the 2 x 2 it
// covers (an odd last column or row is paired with itself). Shrinking a picture for a small pane
// this way first, exactly where area averaging would anyway, spares the scaler most of its
// filtering: a halving is one pass that vectorises well, the scaler's is several taps per sample.
void halvePlane(const uint8_t* from, int fromStride, int width, int height, uint8_t* to,
                int toStride);

// Copies a plane and halves it in the same pass, while its rows are still in the cache: a new
// picture for a small pane is then read from memory once instead of twice.
void copyAndHalvePlane(const uint8_t* from, int fromStride, int width, int height, uint8_t* to,
                       int toStride, uint8_t* half, int halfStride);

} // namespace videodetail
