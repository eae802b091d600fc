#include "audio/ImaAdpcm.h"

#include <algorithm>
#include <cstdlib>

namespace codec {

namespace {

constexpr int kStepTable[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

constexpr int kIndexTable[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

// One code applied to the state; the encoder calls this too, so both sides agree bit for bit.
// A state handed in from outside may be out of range: it is pulled into range first rather than
// indexing past the table.
int16_t applyCode(ImaAdpcmState& state, unsigned code) {
    const int index = std::clamp(state.index, 0, 88);
    const int step = kStepTable[index];
    const int magnitude = static_cast<int>(code & 7);
    const int delta = magnitude * step / 4 + step / 8;
    const int predictor = std::clamp(state.predictor, -32768, 32767);
    state.predictor = std::clamp((code & 8) ? predictor - delta : predictor + delta, -32768, 32767);
    state.index = std::clamp(index + kIndexTable[magnitude], 0, 88);
    return static_cast<int16_t>(state.predictor);
}

unsigned chooseCode(const ImaAdpcmState& state, int sample) {
    const int step = kStepTable[std::clamp(state.index, 0, 88)];
    const int diff = sample - std::clamp(state.predictor, -32768, 32767);
    const unsigned sign = diff < 0 ? 8 : 0;
    const int magnitude = std::min(std::abs(diff) * 4 / step, 7);
    return sign | static_cast<unsigned>(magnitude);
}

} // namespace

void imaDecode(ImaAdpcmState& state, const uint8_t* in, size_t length, int16_t* out) {
    for (size_t i = 0; i < length; ++i) {
        *out++ = applyCode(state, in[i] >> 4);
        *out++ = applyCode(state, in[i] & 0x0F);
    }
}

void imaEncode(ImaAdpcmState& state, const int16_t* in, size_t count, uint8_t* out) {
    for (size_t i = 0; i < count; ++i) {
        const unsigned code = chooseCode(state, in[i]);
        applyCode(state, code);
        if (i % 2 == 0)
            out[i / 2] = static_cast<uint8_t>(code << 4);
        else
            out[i / 2] |= static_cast<uint8_t>(code);
    }
}

} // namespace codec
