#pragma once

#include <cstddef>
#include <cstdint>

namespace codec {

// IMA ADPCM, 4 bits per sample, as the cameras send and expect it: two codes per byte, the
// earlier sample in the high nibble. Encoder and decoder move their state by the same rule, so an
// encoder and a decoder that start from the same state stay in step for the whole stream.
struct ImaAdpcmState {
    int predictor = 0; // last output sample, int16 range
    int index = 0;     // into the step table, 0..88
};

// Decodes `length` bytes into 2 * length samples.
void imaDecode(ImaAdpcmState& state, const uint8_t* in, size_t length, int16_t* out);

// Encodes `count` samples into (count + 1) / 2 bytes; an odd last sample leaves the low nibble of
// the last byte 0.
void imaEncode(ImaAdpcmState& state, const int16_t* in, size_t count, uint8_t* out);

} // namespace codec
