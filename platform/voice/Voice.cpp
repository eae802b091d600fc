#include "voice/Voice.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

namespace voice {

namespace {

constexpr uint8_t kSync = 0xB1;
constexpr int kHeaderBytes = 4;
constexpr int32_t kReady = 0x564F4331; // marks a state that went through reset
constexpr int kLookahead = 4;

static_assert(kHeaderBytes + kFrameSamples / 4 == kFrameBytes);

// Step sizes growing by 10% per entry (at least 1) from 4 up to full scale. Integer arithmetic
// keeps the table, and so the bit stream, the same on every compiler.
constexpr size_t countSteps() {
    size_t count = 1;
    for (int step = 4; step < 32767; ++count)
        step = std::min(std::max(step * 11 / 10, step + 1), 32767);
    return count;
}

constexpr size_t kStepCount = countSteps();

constexpr std::array<int, kStepCount> makeSteps() {
    std::array<int, kStepCount> steps{};
    int step = 4;
    for (size_t i = 0; i < kStepCount; ++i) {
        steps[i] = step;
        step = std::min(std::max(step * 11 / 10, step + 1), 32767);
    }
    return steps;
}

constexpr std::array<int, kStepCount> kSteps = makeSteps();
constexpr int kMaxIndex = static_cast<int>(kStepCount) - 1;
static_assert(kMaxIndex == 96, "the frame layout documents index 0..96");

struct Coder {
    int predictor;
    int index;

    // One code: the output sample, and the state moved for the next one. Encoder and decoder both
    // run this, which keeps them in step.
    int apply(unsigned code) {
        const int step = kSteps[static_cast<size_t>(index)];
        const bool large = (code & 1) != 0;
        const int move = large ? step * 9 / 4 : step / 2;
        const int prediction = predictor * 13 / 16;
        predictor = std::clamp((code & 2) ? prediction - move : prediction + move, -32768, 32767);
        index = std::clamp(index + (large ? 3 : -1), 0, kMaxIndex);
        return predictor;
    }
};

int64_t squaredError(int a, int b) {
    const int64_t d = a - b;
    return d * d;
}

// Least squared error reachable over the next `depth` samples from `coder`; stops early once it
// cannot beat `bound`.
int64_t bestCost(const Coder& coder, const int16_t* pcm, int depth, int64_t bound) {
    if (depth == 0)
        return 0;
    int64_t best = bound;
    for (unsigned code = 0; code < 4; ++code) {
        Coder next = coder;
        const int64_t here = squaredError(next.apply(code), pcm[0]);
        if (here >= best)
            continue;
        best = std::min(best, here + bestCost(next, pcm + 1, depth - 1, best - here));
    }
    return best;
}

// The code for pcm[0] whose best continuation over the lookahead (cut at the frame's end, since
// a frame is coded on its own) has the least squared error.
unsigned chooseCode(const Coder& coder, const int16_t* pcm, int remaining) {
    const int depth = std::min(kLookahead, remaining);
    int64_t best = INT64_MAX;
    unsigned bestCode = 0;
    for (unsigned code = 0; code < 4; ++code) {
        Coder next = coder;
        const int64_t here = squaredError(next.apply(code), pcm[0]);
        if (here >= best)
            continue;
        const int64_t total = here + bestCost(next, pcm + 1, depth - 1, best - here);
        if (total < best) {
            best = total;
            bestCode = code;
        }
    }
    return bestCode;
}

} // namespace

} // namespace voice

using voice::Coder;

extern "C" int VOICE_EncReset(voice::EncoderState* state, int mode) {
    if (state == nullptr)
        return voice::kErrorArgument;
    state->ready = 0;
    if (mode != voice::kModeNarrowband)
        return voice::kErrorMode;
    *state = {voice::kReady, mode, 0, 0};
    return voice::kOk;
}

extern "C" int VOICE_EncodeFrame(voice::EncoderState* state, const int16_t* pcm, uint8_t* frame,
                                 int samples) {
    if (state == nullptr || pcm == nullptr || frame == nullptr)
        return voice::kErrorArgument;
    if (state->ready != voice::kReady || state->mode != voice::kModeNarrowband)
        return voice::kErrorState;
    if (samples != voice::kFrameSamples)
        return voice::kErrorLength;

    Coder coder{std::clamp<int>(state->predictor, -32768, 32767),
                std::clamp<int>(state->index, 0, voice::kMaxIndex)};
    frame[0] = voice::kSync;
    frame[1] = static_cast<uint8_t>(coder.index);
    const auto predictor = static_cast<uint16_t>(coder.predictor);
    frame[2] = static_cast<uint8_t>(predictor >> 8);
    frame[3] = static_cast<uint8_t>(predictor & 0xFF);

    uint8_t* codes = frame + voice::kHeaderBytes;
    for (int i = 0; i < voice::kFrameSamples; ++i) {
        const unsigned code = voice::chooseCode(coder, pcm + i, voice::kFrameSamples - i);
        coder.apply(code);
        const int shift = 6 - 2 * (i % 4);
        if (shift == 6)
            codes[i / 4] = 0;
        codes[i / 4] = static_cast<uint8_t>(codes[i / 4] | (code << shift));
    }
    // The next frame starts where this one ends, so consecutive frames join without a step.
    state->predictor = coder.predictor;
    state->index = coder.index;
    return voice::kOk;
}

extern "C" int VOICE_DecReset(voice::DecoderState* state, int mode) {
    if (state == nullptr)
        return voice::kErrorArgument;
    state->ready = 0;
    if (mode != voice::kModeNarrowband)
        return voice::kErrorMode;
    *state = {voice::kReady, mode};
    return voice::kOk;
}

extern "C" int VOICE_DecodeFrame(voice::DecoderState* state, const uint8_t* frame, int length,
                                 int16_t* pcm, int* samples) {
    if (state == nullptr || frame == nullptr || pcm == nullptr || samples == nullptr)
        return voice::kErrorArgument;
    if (state->ready != voice::kReady || state->mode != voice::kModeNarrowband)
        return voice::kErrorState;
    if (length < voice::kFrameBytes)
        return voice::kErrorLength;
    // Only the sync byte and the index range can be checked: every predictor and every code
    // sequence is a possible frame.
    if (frame[0] != voice::kSync || frame[1] > voice::kMaxIndex)
        return voice::kErrorFrame;

    Coder coder{static_cast<int16_t>((frame[2] << 8) | frame[3]), frame[1]};
    const uint8_t* codes = frame + voice::kHeaderBytes;
    for (int i = 0; i < voice::kFrameSamples; ++i) {
        const unsigned code = (codes[i / 4] >> (6 - 2 * (i % 4))) & 3;
        pcm[i] = static_cast<int16_t>(coder.apply(code));
    }
    *samples = voice::kFrameSamples;
    return voice::kOk;
}
