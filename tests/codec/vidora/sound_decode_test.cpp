#include "DecoderHandle.h"
#include "audio/ImaAdpcm.h"
#include "camsim/G726Codec.h"
#include "voice/Voice.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

namespace {

std::vector<int16_t> speechLike(size_t count, double seconds0 = 0.0) {
    std::vector<int16_t> samples(count);
    for (size_t i = 0; i < count; ++i) {
        const double t = seconds0 + static_cast<double>(i) / 8000.0;
        const double envelope = 0.5 + 0.5 * std::sin(2 * M_PI * 3 * t);
        const double value = 6000 * std::sin(2 * M_PI * 180 * t) +
                             3000 * std::sin(2 * M_PI * 720 * t + 0.3) +
                             1500 * std::sin(2 * M_PI * 2400 * t + 1.1);
        samples[i] = static_cast<int16_t>(envelope * value);
    }
    return samples;
}

std::vector<uint8_t> asBytes(const std::vector<int16_t>& samples) {
    std::vector<uint8_t> bytes(samples.size() * 2);
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    return bytes;
}

std::vector<uint8_t> randomBytes(size_t count, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(count);
    for (auto& b : bytes) {
        b = static_cast<uint8_t>(random());
    }
    return bytes;
}

std::vector<uint8_t> voiceFrames(const std::vector<int16_t>& samples) {
    voice::EncoderState state{};
    EXPECT_EQ(VOICE_EncReset(&state, voice::kModeNarrowband), 0);
    std::vector<uint8_t> out;
    for (size_t at = 0; at + voice::kFrameSamples <= samples.size(); at += voice::kFrameSamples) {
        uint8_t frame[voice::kFrameBytes];
        EXPECT_EQ(VOICE_EncodeFrame(&state, samples.data() + at, frame, voice::kFrameSamples), 0);
        out.insert(out.end(), frame, frame + voice::kFrameBytes);
    }
    return out;
}

} // namespace

TEST(SoundDecode, AdpcmGivesFourBytesPerByteAndCarriesItsState) {
    const std::vector<uint8_t> codes = randomBytes(320, 1);
    DecoderHandle whole(0, ZQ_DECODE_ADPCM);
    const std::vector<uint8_t> once = whole.sound(codes);
    ASSERT_EQ(once.size(), 1280u);

    DecoderHandle split(0, ZQ_DECODE_ADPCM);
    std::vector<uint8_t> parts = split.sound({codes.begin(), codes.begin() + 160});
    EXPECT_EQ(parts.size(), 640u);
    const std::vector<uint8_t> second = split.sound({codes.begin() + 160, codes.end()});
    parts.insert(parts.end(), second.begin(), second.end());
    EXPECT_EQ(parts, once);

    codec::ImaAdpcmState state;
    std::vector<int16_t> expected(640);
    codec::imaDecode(state, codes.data(), codes.size(), expected.data());
    EXPECT_EQ(once, asBytes(expected));

    // Registering again starts from a fresh state.
    ASSERT_TRUE(ZQ_Register_Decoder(split.get(), ZQ_DECODE_ADPCM, nullptr, nullptr));
    EXPECT_EQ(split.sound({codes.begin(), codes.begin() + 160}),
              std::vector<uint8_t>(once.begin(), once.begin() + 640));
}

// What FFmpeg's G.726 decoder makes of the camera's blocks, block by block with fresh state.
TEST(SoundDecode, G726BlocksMatchFfmpegAndPartBlocksAreDropped) {
    const std::vector<int16_t> signal = speechLike(3 * 480);
    std::vector<uint8_t> codes;
    for (size_t block = 0; block < 3; ++block) {
        const auto encoded = camsim::G726Codec::encodeBlock(signal.data() + block * 480, 480);
        ASSERT_EQ(encoded.size(), 120u);
        codes.insert(codes.end(), encoded.begin(), encoded.end());
    }
    codes.insert(codes.end(), {0x12, 0x34, 0x56}); // a stray part block

    DecoderHandle decoder(0, ZQ_DECODE_G726);
    const std::vector<uint8_t> pcm = decoder.sound(codes);
    ASSERT_EQ(pcm.size(), 3u * 960);
    for (size_t block = 0; block < 3; ++block) {
        const auto expected = camsim::G726Codec::decodeBlock(codes.data() + block * 120, 120);
        ASSERT_EQ(expected.size(), 480u);
        EXPECT_EQ(std::memcmp(pcm.data() + block * 960, expected.data(), 960), 0) << block;
    }
    EXPECT_TRUE(decoder.sound({codes.begin(), codes.begin() + 119}).empty());
    EXPECT_EQ(decoder.lastSoundLength, 0);
}

TEST(SoundDecode, VoiceFramesDecodeWholeAndDamagedFramesAreLeftOut) {
    const std::vector<int16_t> signal = speechLike(3 * 480);
    std::vector<uint8_t> frames = voiceFrames(signal);
    ASSERT_EQ(frames.size(), 3u * 124);

    DecoderHandle decoder(0, ZQ_DECODE_VOICE);
    // Two frames and two stray bytes: the stray bytes are not a frame.
    std::vector<uint8_t> twoAndABit(frames.begin(), frames.begin() + 250);
    const std::vector<uint8_t> two = decoder.sound(twoAndABit);
    ASSERT_EQ(two.size(), 1920u);

    // The same frames with the middle one replaced by noise that is not a frame.
    std::vector<uint8_t> withNoise = frames;
    std::fill(withNoise.begin() + 124, withNoise.begin() + 248, 0xff);
    const std::vector<uint8_t> pcm = decoder.sound(withNoise);
    ASSERT_EQ(pcm.size(), 1920u);
    EXPECT_EQ(std::memcmp(pcm.data(), two.data(), 960), 0);
    const std::vector<uint8_t> third = decoder.sound({frames.begin() + 248, frames.end()});
    ASSERT_EQ(third.size(), 960u);
    EXPECT_EQ(std::memcmp(pcm.data() + 960, third.data(), 960), 0);

    EXPECT_TRUE(decoder.sound(std::vector<uint8_t>(123, 0x11)).empty());
}

TEST(SoundDecode, PcmPassesThroughWholeSamplesOnly) {
    DecoderHandle decoder(0, ZQ_DECODE_PCM);
    const std::vector<uint8_t> pcm = asBytes(speechLike(800));
    EXPECT_EQ(decoder.sound(pcm), pcm);
    const std::vector<uint8_t> big = asBytes(speechLike(48000));
    EXPECT_EQ(decoder.sound(big), big) << "the buffer grows past its first size";
    EXPECT_TRUE(decoder.sound({1, 2, 3}).empty());
    EXPECT_EQ(decoder.lastSoundLength, 0);
}

TEST(SoundDecode, RefusalsLeaveZeroLength) {
    DecoderHandle none;
    EXPECT_TRUE(none.sound({1, 2, 3, 4}).empty()) << "no audio decoder registered";
    EXPECT_EQ(none.lastSoundLength, 0);

    DecoderHandle decoder(0, ZQ_DECODE_ADPCM);
    int length = 99;
    EXPECT_EQ(ZQ_GetPCMData(nullptr, "\x01", 1, &length), nullptr);
    EXPECT_EQ(length, 0);
    length = 99;
    EXPECT_EQ(ZQ_GetPCMData(decoder.get(), nullptr, 4, &length), nullptr);
    EXPECT_EQ(length, 0);
    length = 99;
    EXPECT_EQ(ZQ_GetPCMData(decoder.get(), "\x01", 0, &length), nullptr);
    EXPECT_EQ(length, 0);
    EXPECT_NE(ZQ_GetPCMData(decoder.get(), "\x01", 1, nullptr), nullptr)
        << "the length pointer is optional";

    ZQ_UnRegister_Decoder(decoder.get(), ZQ_DECODE_G726); // any audio type drops the audio side
    EXPECT_TRUE(decoder.sound({1, 2, 3, 4}).empty());
    ZQ_UnRegister_Decoder(decoder.get(), 12345); // nothing
}
