#pragma once

// Narrow-band voice codec: 8 kHz 16-bit mono speech in frames of 480 samples (60 ms), each coded
// into exactly 124 bytes (16.5 kbit/s). Every frame carries the coder state it starts from, so it
// decodes on its own: a lost frame costs its 60 ms and nothing after it.
//
// Frame layout (124 bytes):
//   byte 0       0xB1: sync (high nibble 0xB) and layout version 1, the narrow-band layout
//   byte 1       starting step index, 0..96; bit 7 is reserved and 0
//   bytes 2-3    starting predictor, a signed 16-bit sample, most significant byte first
//   bytes 4-123  480 codes of 2 bits, four per byte, the earliest sample in the two most
//                significant bits. Bit 1 of a code is the sign (1 = down), bit 0 the magnitude
//                (1 = large step).
//
// The coder is adaptive ADPCM: each sample is predicted as 13/16 of the previous output, and the
// code moves the prediction by 1/2 (small) or 9/4 (large) of the current step. A small code makes
// the step 10% smaller, a large one about 33% larger (the index moves by -1 or +3 in a table that
// grows by 10% per entry). The encoder picks each code by trying every code sequence over that
// sample and the next three, which buys about 3 dB over picking the nearest output.
//
// States belong to the caller and are plain data: reset before use, copy freely. Calls on
// different states may run in parallel.

#include <stdint.h>

namespace voice {

constexpr int kFrameBytes = 124;
constexpr int kFrameSamples = 480;
constexpr int kModeNarrowband = 36; // the only mode; resetting with any other mode fails

// Return values of the calls below.
constexpr int kOk = 0;
constexpr int kErrorArgument = -1; // null pointer
constexpr int kErrorMode = -2;     // mode other than kModeNarrowband
constexpr int kErrorState = -3;    // state that was never reset
constexpr int kErrorLength = -4;   // sample count other than 480, or frame shorter than 124 bytes
constexpr int kErrorFrame = -5;    // not a frame of this codec (sync, version or index wrong)

struct EncoderState {
    int32_t ready; // set by VOICE_EncReset
    int32_t mode;
    int32_t predictor; // where the next frame starts: last output of the previous one
    int32_t index;
};

struct DecoderState {
    int32_t ready; // set by VOICE_DecReset
    int32_t mode;
};

} // namespace voice

extern "C" {
int VOICE_EncReset(voice::EncoderState* state, int mode);
// `samples` must be 480; writes exactly 124 bytes to `frame`.
int VOICE_EncodeFrame(voice::EncoderState* state, const int16_t* pcm, uint8_t* frame, int samples);
int VOICE_DecReset(voice::DecoderState* state, int mode);
// `length` must be at least 124 (only the first 124 bytes are read); writes 480 samples to `pcm`
// and sets *samples to 480. A refused frame writes nothing.
int VOICE_DecodeFrame(voice::DecoderState* state, const uint8_t* frame, int length, int16_t* pcm,
                      int* samples);
}
