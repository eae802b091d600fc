#include "TestSignals.h"
#include "voice/Voice.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

using voice::kFrameBytes;
using voice::kFrameSamples;

struct Coded {
    std::vector<uint8_t> frames;  // kFrameBytes each
    std::vector<int16_t> decoded; // kFrameSamples per frame
};

// Encodes whole frames of `pcm` with one encoder, then decodes every frame with one decoder.
Coded roundTrip(const std::vector<int16_t>& pcm) {
    voice::EncoderState encoder;
    voice::DecoderState decoder;
    EXPECT_EQ(VOICE_EncReset(&encoder, voice::kModeNarrowband), voice::kOk);
    EXPECT_EQ(VOICE_DecReset(&decoder, voice::kModeNarrowband), voice::kOk);
    const size_t frames = pcm.size() / kFrameSamples;
    Coded coded{std::vector<uint8_t>(frames * kFrameBytes),
                std::vector<int16_t>(frames * kFrameSamples)};
    for (size_t f = 0; f < frames; ++f) {
        EXPECT_EQ(VOICE_EncodeFrame(&encoder, &pcm[f * kFrameSamples],
                                    &coded.frames[f * kFrameBytes], kFrameSamples),
                  voice::kOk);
        int samples = 0;
        EXPECT_EQ(VOICE_DecodeFrame(&decoder, &coded.frames[f * kFrameBytes], kFrameBytes,
                                    &coded.decoded[f * kFrameSamples], &samples),
                  voice::kOk)
            << "frame " << f;
        EXPECT_EQ(samples, kFrameSamples);
    }
    return coded;
}

// Measured 13.1 dB on four seconds of the speech-like signal and 12.6 dB on the same at a 300
// peak (G.726 at the same rate: 9.5 and 9.3 dB).
TEST(VoiceCodec, SpeechComesBackAboveElevenDecibels) {
    const std::vector<int16_t> speech =
        audiotest::speechLike(4 * 8000 / kFrameSamples * kFrameSamples);
    EXPECT_GT(audiotest::snrDb(speech, roundTrip(speech).decoded), 11.0);
    // Quiet speech is coded as well as loud: the step adapts down.
    const std::vector<int16_t> quiet =
        audiotest::speechLike(4 * 8000 / kFrameSamples * kFrameSamples, 300.0);
    EXPECT_GT(audiotest::snrDb(quiet, roundTrip(quiet).decoded), 11.0);
}

TEST(VoiceCodec, SilenceDecodesToNearSilence) {
    const Coded coded = roundTrip(std::vector<int16_t>(4 * kFrameSamples, 0));
    for (int16_t sample : coded.decoded)
        ASSERT_LE(std::abs(sample), 4);
}

// Every frame carries its starting state: decoded alone it gives exactly what it gives in
// sequence, so a lost frame leaves the next ones intact. And each frame starts where the
// previous one ended, so the sequence has no steps at frame joins.
TEST(VoiceCodec, FramesDecodeOnTheirOwnAndJoinSeamlessly) {
    const std::vector<int16_t> speech = audiotest::speechLike(20 * kFrameSamples);
    const Coded coded = roundTrip(speech);
    for (size_t f = 1; f < 20; ++f) {
        voice::DecoderState alone;
        ASSERT_EQ(VOICE_DecReset(&alone, voice::kModeNarrowband), voice::kOk);
        std::vector<int16_t> pcm(kFrameSamples);
        int samples = 0;
        ASSERT_EQ(VOICE_DecodeFrame(&alone, &coded.frames[f * kFrameBytes], kFrameBytes, pcm.data(),
                                    &samples),
                  voice::kOk);
        EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), coded.decoded.begin() + f * kFrameSamples))
            << "frame " << f;

        const uint8_t* header = &coded.frames[f * kFrameBytes];
        EXPECT_EQ(header[0], 0xB1);
        const auto startPredictor = static_cast<int16_t>((header[2] << 8) | header[3]);
        EXPECT_EQ(startPredictor, coded.decoded[f * kFrameSamples - 1]) << "frame " << f;
    }
}

// Full-scale square waves push the predictor and the step to their limits; the output must
// saturate there, not wrap to the other sign.
TEST(VoiceCodec, FullScaleSquareWaveSaturatesWithoutWrapping) {
    const std::vector<int16_t> square = audiotest::squareWave(10 * kFrameSamples, 40);
    const Coded coded = roundTrip(square);
    size_t wrong = 0;
    for (size_t i = 0; i < square.size(); ++i) {
        if (i % 40 >= 10 && (coded.decoded[i] > 0) != (square[i] > 0))
            ++wrong;
    }
    EXPECT_EQ(wrong, 0u);
}

TEST(VoiceCodec, RefusesBadArgumentsAndStates) {
    voice::EncoderState encoder;
    voice::DecoderState decoder;
    EXPECT_EQ(VOICE_EncReset(nullptr, voice::kModeNarrowband), voice::kErrorArgument);
    EXPECT_EQ(VOICE_DecReset(nullptr, voice::kModeNarrowband), voice::kErrorArgument);
    for (int mode : {0, 35, 37, -36}) {
        EXPECT_EQ(VOICE_EncReset(&encoder, mode), voice::kErrorMode) << mode;
        EXPECT_EQ(VOICE_DecReset(&decoder, mode), voice::kErrorMode) << mode;
    }

    std::vector<int16_t> pcm(kFrameSamples + 1, 0);
    std::vector<uint8_t> frame(kFrameBytes);
    int samples = -1;
    // A failed reset leaves the state unusable.
    EXPECT_EQ(VOICE_EncodeFrame(&encoder, pcm.data(), frame.data(), kFrameSamples),
              voice::kErrorState);

    ASSERT_EQ(VOICE_EncReset(&encoder, voice::kModeNarrowband), voice::kOk);
    ASSERT_EQ(VOICE_DecReset(&decoder, voice::kModeNarrowband), voice::kOk);
    EXPECT_EQ(VOICE_EncodeFrame(nullptr, pcm.data(), frame.data(), kFrameSamples),
              voice::kErrorArgument);
    EXPECT_EQ(VOICE_EncodeFrame(&encoder, nullptr, frame.data(), kFrameSamples),
              voice::kErrorArgument);
    EXPECT_EQ(VOICE_EncodeFrame(&encoder, pcm.data(), nullptr, kFrameSamples),
              voice::kErrorArgument);
    for (int count : {0, kFrameSamples - 1, kFrameSamples + 1, -kFrameSamples})
        EXPECT_EQ(VOICE_EncodeFrame(&encoder, pcm.data(), frame.data(), count),
                  voice::kErrorLength);
    ASSERT_EQ(VOICE_EncodeFrame(&encoder, pcm.data(), frame.data(), kFrameSamples), voice::kOk);

    EXPECT_EQ(VOICE_DecodeFrame(nullptr, frame.data(), kFrameBytes, pcm.data(), &samples),
              voice::kErrorArgument);
    EXPECT_EQ(VOICE_DecodeFrame(&decoder, nullptr, kFrameBytes, pcm.data(), &samples),
              voice::kErrorArgument);
    EXPECT_EQ(VOICE_DecodeFrame(&decoder, frame.data(), kFrameBytes, nullptr, &samples),
              voice::kErrorArgument);
    EXPECT_EQ(VOICE_DecodeFrame(&decoder, frame.data(), kFrameBytes, pcm.data(), nullptr),
              voice::kErrorArgument);
    EXPECT_EQ(VOICE_DecodeFrame(&decoder, frame.data(), kFrameBytes - 1, pcm.data(), &samples),
              voice::kErrorLength);
    EXPECT_EQ(samples, -1);

    // Longer input is fine: only the first 124 bytes count.
    std::vector<uint8_t> longer(frame);
    longer.resize(kFrameBytes + 50, 0xEE);
    EXPECT_EQ(VOICE_DecodeFrame(&decoder, longer.data(), static_cast<int>(longer.size()),
                                pcm.data(), &samples),
              voice::kOk);
    EXPECT_EQ(samples, kFrameSamples);

    std::vector<uint8_t> bad(frame);
    bad[0] = 0xB2; // another layout version
    EXPECT_EQ(VOICE_DecodeFrame(&decoder, bad.data(), kFrameBytes, pcm.data(), &samples),
              voice::kErrorFrame);
    bad = frame;
    bad[1] = 97; // past the step table
    EXPECT_EQ(VOICE_DecodeFrame(&decoder, bad.data(), kFrameBytes, pcm.data(), &samples),
              voice::kErrorFrame);
    bad[1] = 0x80 | frame[1]; // reserved bit
    EXPECT_EQ(VOICE_DecodeFrame(&decoder, bad.data(), kFrameBytes, pcm.data(), &samples),
              voice::kErrorFrame);
}

// Whatever arrives from the network, decoding stays inside its buffers (the sanitizer build
// checks the reads) and either refuses the frame or fills exactly 480 samples.
TEST(VoiceCodec, RandomFramesAreRefusedOrDecodedWithinBounds) {
    std::mt19937 random(124);
    voice::DecoderState decoder;
    ASSERT_EQ(VOICE_DecReset(&decoder, voice::kModeNarrowband), voice::kOk);
    constexpr int16_t kGuard = 0x5A5A;
    int accepted = 0;
    for (int round = 0; round < 20000; ++round) {
        std::vector<uint8_t> frame(kFrameBytes); // exactly the size, so an over-read is caught
        for (uint8_t& byte : frame)
            byte = static_cast<uint8_t>(random());
        if (round % 2 == 0)
            frame[0] = 0xB1; // get past the sync check half the time
        std::vector<int16_t> pcm(kFrameSamples + 8, kGuard);
        int samples = 0;
        const int result =
            VOICE_DecodeFrame(&decoder, frame.data(), kFrameBytes, pcm.data(), &samples);
        if (result == voice::kOk) {
            ++accepted;
            ASSERT_EQ(samples, kFrameSamples);
        } else {
            ASSERT_EQ(result, voice::kErrorFrame);
        }
        for (size_t i = kFrameSamples; i < pcm.size(); ++i)
            ASSERT_EQ(pcm[i], kGuard) << "written past the frame";
    }
    EXPECT_GT(accepted, 1000); // the accepted ones were really decoded, not all refused
}

} // namespace
