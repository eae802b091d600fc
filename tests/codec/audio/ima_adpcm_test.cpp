#include "TestSignals.h"
#include "audio/ImaAdpcm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using codec::ImaAdpcmState;

std::vector<uint8_t> encode(ImaAdpcmState& state, const std::vector<int16_t>& pcm) {
    std::vector<uint8_t> out((pcm.size() + 1) / 2);
    codec::imaEncode(state, pcm.data(), pcm.size(), out.data());
    return out;
}

std::vector<int16_t> decode(ImaAdpcmState& state, const std::vector<uint8_t>& data) {
    std::vector<int16_t> out(data.size() * 2);
    codec::imaDecode(state, data.data(), data.size(), out.data());
    return out;
}

// Worked by hand from the step and index tables. The small steps at the start tell the
// cameras' arithmetic (code * step / 4 + step / 8) from the shift-and-add variant, which gives
// 11 instead of 12 for code 7 at step 7.
TEST(ImaAdpcm, DecodesKnownCodesExactly) {
    ImaAdpcmState state;
    EXPECT_EQ(decode(state, {0x77, 0x77, 0x08, 0xF1}),
              (std::vector<int16_t>{12, 42, 105, 241, 260, 243, 0, 103}));
    EXPECT_EQ(state.predictor, 103);
    EXPECT_EQ(state.index, 37);

    ImaAdpcmState mid{1000, 40};
    EXPECT_EQ(decode(mid, {0x3B, 0xC5}), (std::vector<int16_t>{1294, 1026, 713, 1176}));
    EXPECT_EQ(mid.index, 44);
}

TEST(ImaAdpcm, EncodesKnownSamplesExactlyAndPadsAnOddLastSample) {
    ImaAdpcmState state;
    EXPECT_EQ(encode(state, {100, -50, 300, 300, -2000}), (std::vector<uint8_t>{0x7F, 0x77, 0xF0}));
    EXPECT_EQ(state.predictor, -112);
    EXPECT_EQ(state.index, 40);
}

TEST(ImaAdpcm, SilenceStaysSilentBothWays) {
    ImaAdpcmState encoder;
    const std::vector<uint8_t> bytes = encode(encoder, std::vector<int16_t>(320, 0));
    EXPECT_EQ(bytes, std::vector<uint8_t>(160, 0));
    ImaAdpcmState decoder;
    EXPECT_EQ(decode(decoder, bytes), std::vector<int16_t>(320, 0));
}

// Measured 18.1 dB on this signal; the floor leaves room for rounding, not for a broken coder
// (a wrong step formula or nibble order drops far below it).
TEST(ImaAdpcm, RoundTripKeepsSpeechAboveSixteenDecibels) {
    const std::vector<int16_t> speech = audiotest::speechLike(4 * 8000);
    ImaAdpcmState encoder;
    ImaAdpcmState decoder;
    const std::vector<int16_t> decoded = decode(decoder, encode(encoder, speech));
    EXPECT_GT(audiotest::snrDb(speech, decoded), 16.0);
    // The encoder's state is the decoder's: they moved in step over the whole signal.
    EXPECT_EQ(encoder.predictor, decoder.predictor);
    EXPECT_EQ(encoder.index, decoder.index);
}

TEST(ImaAdpcm, StateCarriedAcrossCallsEqualsOneLongCall) {
    const std::vector<int16_t> speech = audiotest::speechLike(8000);
    ImaAdpcmState whole;
    const std::vector<uint8_t> once = encode(whole, speech);

    ImaAdpcmState pieces;
    std::vector<uint8_t> joined;
    size_t at = 0;
    for (size_t size : {2u, 320u, 98u, 1000u, 6580u}) { // even sizes keep bytes aligned
        const std::vector<int16_t> part(speech.begin() + at, speech.begin() + at + size);
        const std::vector<uint8_t> bytes = encode(pieces, part);
        joined.insert(joined.end(), bytes.begin(), bytes.end());
        at += size;
    }
    ASSERT_EQ(at, speech.size());
    EXPECT_EQ(joined, once);
    EXPECT_EQ(pieces.predictor, whole.predictor);
    EXPECT_EQ(pieces.index, whole.index);

    ImaAdpcmState wholeDecoder;
    const std::vector<int16_t> decodedOnce = decode(wholeDecoder, once);
    ImaAdpcmState pieceDecoder;
    std::vector<int16_t> decodedJoined;
    for (size_t offset = 0; offset < once.size(); offset += 777) {
        const size_t end = std::min(once.size(), offset + 777);
        const std::vector<int16_t> part =
            decode(pieceDecoder, std::vector<uint8_t>(once.begin() + offset, once.begin() + end));
        decodedJoined.insert(decodedJoined.end(), part.begin(), part.end());
    }
    EXPECT_EQ(decodedJoined, decodedOnce);
}

// Sustained largest codes drive the predictor and the index to their limits, where they must
// stop: no wrap to the other sign, no index past the table.
TEST(ImaAdpcm, ClampsAtFullScaleAndAtTheEndsOfTheStepTable) {
    ImaAdpcmState up;
    const std::vector<int16_t> rising = decode(up, std::vector<uint8_t>(100, 0x77));
    EXPECT_EQ(up.index, 88);
    EXPECT_EQ(up.predictor, 32767);
    for (size_t i = 1; i < rising.size(); ++i)
        ASSERT_GE(rising[i], rising[i - 1]) << "at " << i;

    ImaAdpcmState down;
    const std::vector<int16_t> falling = decode(down, std::vector<uint8_t>(100, 0xFF));
    EXPECT_EQ(down.predictor, -32768);
    for (size_t i = 1; i < falling.size(); ++i)
        ASSERT_LE(falling[i], falling[i - 1]) << "at " << i;

    // Then small codes walk the index back down to 0 and no further.
    decode(down, std::vector<uint8_t>(100, 0x00));
    EXPECT_EQ(down.index, 0);

    // Full-scale steps through the encoder: the decoded square wave stays on the right side.
    const std::vector<int16_t> square = audiotest::squareWave(4000, 40);
    ImaAdpcmState encoder;
    ImaAdpcmState decoder;
    const std::vector<int16_t> decoded = decode(decoder, encode(encoder, square));
    size_t wrongSide = 0;
    for (size_t i = 0; i < square.size(); ++i) {
        if (i % 40 >= 20 && (decoded[i] > 0) != (square[i] > 0)) // once caught up with the edge
            ++wrongSide;
    }
    EXPECT_EQ(wrongSide, 0u);
    // Overshooting steps end exactly on the rails.
    EXPECT_EQ(*std::max_element(decoded.begin(), decoded.end()), 32767);
    EXPECT_EQ(*std::min_element(decoded.begin(), decoded.end()), -32768);
}

TEST(ImaAdpcm, OutOfRangeStateIsPulledIntoRange) {
    ImaAdpcmState wild{100000, 500};
    const std::vector<int16_t> out = decode(wild, {0x00});
    EXPECT_EQ(wild.index, 86); // 88, then two small codes
    EXPECT_EQ(out[0], 32767);  // the clamped predictor, plus step / 8, clamped again
}

} // namespace
