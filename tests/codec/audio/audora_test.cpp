// libaudora through its exported functions only.

#include "TestSignals.h"
#include "audio/G726.h"
#include "audio/ImaAdpcm.h"
#include "audora/audora.h"
#include "voice/Voice.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

struct EncoderDeleter {
    void operator()(ZQEncoder* encoder) const { ZQ_Release_Encoder(encoder); }
};
using EncoderPtr = std::unique_ptr<ZQEncoder, EncoderDeleter>;

EncoderPtr makeEncoder(int type) {
    EncoderPtr encoder(ZQ_Create_Encoder());
    EXPECT_NE(encoder, nullptr);
    EXPECT_NE(ZQ_Register_Encoder(encoder.get(), type), 0) << type;
    return encoder;
}

// One call with `bytes` of PCM; the bytes copied out, empty when refused.
std::vector<uint8_t> encode(ZQ_ENCODER encoder, const std::vector<int16_t>& pcm, int bytes) {
    int length = -1;
    const unsigned char* out = ZQ_GetAUData(encoder, pcm.data(), bytes, &length);
    if (out == nullptr) {
        EXPECT_EQ(length, 0);
        return {};
    }
    EXPECT_GT(length, 0);
    return std::vector<uint8_t>(out, out + length);
}

// One call with all of `pcm`.
std::vector<uint8_t> encode(ZQ_ENCODER encoder, const std::vector<int16_t>& pcm) {
    return encode(encoder, pcm, static_cast<int>(pcm.size() * 2));
}

std::vector<int16_t> slice(const std::vector<int16_t>& pcm, size_t from, size_t count) {
    return std::vector<int16_t>(pcm.begin() + from, pcm.begin() + from + count);
}

TEST(Audora, EachTypeYieldsItsBlockSize) {
    const std::vector<int16_t> speech = audiotest::speechLike(480);
    EXPECT_EQ(encode(makeEncoder(ZQ_ENCODE_ADPCM).get(), slice(speech, 0, 320)).size(), 160u);
    EXPECT_EQ(encode(makeEncoder(ZQ_ENCODE_G726).get(), speech).size(), 120u);
    EXPECT_EQ(encode(makeEncoder(ZQ_ENCODE_VOICE).get(), speech).size(), 124u);
}

TEST(Audora, AdpcmCarriesItsStateAndSizesOutputToTheInput) {
    const std::vector<int16_t> speech = audiotest::speechLike(8000);
    EncoderPtr encoder = makeEncoder(ZQ_ENCODE_ADPCM);

    codec::ImaAdpcmState reference;
    std::vector<uint8_t> expected(4000);
    codec::imaEncode(reference, speech.data(), speech.size(), expected.data());

    // The usual 640-byte blocks, then one long input that the old fixed 160-byte buffer could
    // not hold, then an odd sample count that leaves half a byte.
    std::vector<uint8_t> joined;
    for (size_t at = 0; at < 3200; at += 320) {
        const std::vector<uint8_t> block = encode(encoder.get(), slice(speech, at, 320));
        ASSERT_EQ(block.size(), 160u);
        joined.insert(joined.end(), block.begin(), block.end());
    }
    const std::vector<uint8_t> longBlock = encode(encoder.get(), slice(speech, 3200, 4800));
    EXPECT_EQ(longBlock.size(), 2400u);
    joined.insert(joined.end(), longBlock.begin(), longBlock.end());
    EXPECT_EQ(joined, expected);

    codec::ImaAdpcmState oddReference = reference;
    std::vector<uint8_t> oddExpected(2);
    const std::vector<int16_t> three = {1000, -1000, 5};
    codec::imaEncode(oddReference, three.data(), 3, oddExpected.data());
    EXPECT_EQ(encode(encoder.get(), three), oddExpected);

    // Registering again starts over from silence-state 0/0.
    ASSERT_NE(ZQ_Register_Encoder(encoder.get(), ZQ_ENCODE_ADPCM), 0);
    EXPECT_EQ(encode(encoder.get(), slice(speech, 0, 320)),
              std::vector<uint8_t>(expected.begin(), expected.begin() + 160));
    // Silence from the fresh state is all zero codes.
    ASSERT_NE(ZQ_Register_Encoder(encoder.get(), ZQ_ENCODE_ADPCM), 0);
    EXPECT_EQ(encode(encoder.get(), std::vector<int16_t>(320, 0)), std::vector<uint8_t>(160, 0));
}

TEST(Audora, AdpcmInputIsCappedAt64KiB) {
    EncoderPtr encoder = makeEncoder(ZQ_ENCODE_ADPCM);
    const std::vector<int16_t> big = audiotest::whiteNoise(32769, 1000.0, 1);
    EXPECT_EQ(encode(encoder.get(), big, 65536).size(), 16384u);
    EXPECT_TRUE(encode(encoder.get(), big, 65538).empty());
}

TEST(Audora, G726BlocksAreTheCodecsAndStandAlone) {
    const std::vector<int16_t> speech = audiotest::speechLike(960);
    EncoderPtr encoder = makeEncoder(ZQ_ENCODE_G726);
    for (size_t at : {0u, 480u, 0u}) {
        std::vector<uint8_t> expected(codec::kG726BlockBytes);
        codec::g726EncodeBlock(&speech[at], expected.data());
        EXPECT_EQ(encode(encoder.get(), slice(speech, at, 480)), expected) << "block at " << at;
    }
}

TEST(Audora, VoiceFramesDecodeAndRegisteringAgainRestartsTheCoder) {
    const std::vector<int16_t> speech = audiotest::speechLike(1440);
    EncoderPtr encoder = makeEncoder(ZQ_ENCODE_VOICE);
    const std::vector<uint8_t> first = encode(encoder.get(), slice(speech, 480, 480));
    const std::vector<uint8_t> second = encode(encoder.get(), slice(speech, 960, 480));
    // The same input again without re-registering starts from where the coder stands now.
    EXPECT_NE(encode(encoder.get(), slice(speech, 480, 480)), first);

    for (int round = 0; round < 2; ++round) {
        ASSERT_NE(ZQ_Register_Encoder(encoder.get(), ZQ_ENCODE_VOICE), 0);
        EXPECT_EQ(encode(encoder.get(), slice(speech, 480, 480)), first) << "round " << round;
    }

    voice::DecoderState decoder;
    ASSERT_EQ(VOICE_DecReset(&decoder, voice::kModeNarrowband), voice::kOk);
    std::vector<int16_t> pcm(480);
    int samples = 0;
    for (const std::vector<uint8_t>* frame : {&first, &second}) {
        ASSERT_EQ(frame->size(), 124u);
        EXPECT_EQ(VOICE_DecodeFrame(&decoder, frame->data(), 124, pcm.data(), &samples),
                  voice::kOk);
    }
}

TEST(Audora, RefusesBadCallsCleanly) {
    const std::vector<int16_t> pcm(1000, 100);
    int length = 77;
    EXPECT_EQ(ZQ_GetAUData(nullptr, pcm.data(), 960, &length), nullptr);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(ZQ_Register_Encoder(nullptr, ZQ_ENCODE_ADPCM), 0);
    ZQ_UnRegister_Encoder(nullptr, ZQ_ENCODE_ADPCM);
    ZQ_Release_Encoder(nullptr);

    EncoderPtr encoder(ZQ_Create_Encoder());
    ASSERT_NE(encoder, nullptr);
    EXPECT_TRUE(encode(encoder.get(), pcm, 960).empty()) << "nothing registered";
    for (int type : {0, 256, 260, -257})
        EXPECT_EQ(ZQ_Register_Encoder(encoder.get(), type), 0) << type;

    ASSERT_NE(ZQ_Register_Encoder(encoder.get(), ZQ_ENCODE_ADPCM), 0);
    length = 77;
    EXPECT_EQ(ZQ_GetAUData(encoder.get(), nullptr, 640, &length), nullptr);
    EXPECT_EQ(length, 0);
    for (int bytes : {0, -2, 641, 1})
        EXPECT_TRUE(encode(encoder.get(), pcm, bytes).empty()) << bytes;
    // A null outLength is allowed.
    EXPECT_NE(ZQ_GetAUData(encoder.get(), pcm.data(), 640, nullptr), nullptr);
    // An unknown type leaves the registration as it was.
    EXPECT_EQ(ZQ_Register_Encoder(encoder.get(), 999), 0);
    EXPECT_EQ(encode(encoder.get(), pcm, 640).size(), 160u);

    for (int type : {ZQ_ENCODE_G726, ZQ_ENCODE_VOICE}) {
        ASSERT_NE(ZQ_Register_Encoder(encoder.get(), type), 0);
        for (int bytes : {640, 958, 962, 1000})
            EXPECT_TRUE(encode(encoder.get(), pcm, bytes).empty()) << type << " " << bytes;
        EXPECT_FALSE(encode(encoder.get(), pcm, 960).empty()) << type;
    }
}

TEST(Audora, UnregisterDropsTheCoderAndRegisterReplacesIt) {
    const std::vector<int16_t> pcm(480, 300);
    EncoderPtr encoder = makeEncoder(ZQ_ENCODE_ADPCM);
    ASSERT_NE(ZQ_Register_Encoder(encoder.get(), ZQ_ENCODE_G726), 0);
    EXPECT_EQ(encode(encoder.get(), pcm).size(), 120u); // G.726 now, not ADPCM's 480

    ZQ_UnRegister_Encoder(encoder.get(), 300); // not a type: nothing happens
    EXPECT_EQ(encode(encoder.get(), pcm).size(), 120u);
    for (int type : {ZQ_ENCODE_ADPCM, ZQ_ENCODE_G726, ZQ_ENCODE_VOICE}) {
        ASSERT_NE(ZQ_Register_Encoder(encoder.get(), ZQ_ENCODE_VOICE), 0);
        ZQ_UnRegister_Encoder(encoder.get(), type);
        EXPECT_TRUE(encode(encoder.get(), pcm).empty()) << type;
    }
    ZQ_UnRegister_Encoder(encoder.get(), ZQ_ENCODE_ADPCM); // twice is harmless
    ASSERT_NE(ZQ_Register_Encoder(encoder.get(), ZQ_ENCODE_ADPCM), 0);
    EXPECT_EQ(encode(encoder.get(), pcm).size(), 240u);
}

// The returned bytes belong to the encoder and stay as they were until its next call, whatever
// other encoders do meanwhile.
TEST(Audora, OutputStaysUntilTheNextCallOnTheSameHandle) {
    const std::vector<int16_t> speech = audiotest::speechLike(960);
    EncoderPtr mine = makeEncoder(ZQ_ENCODE_G726);
    EncoderPtr other = makeEncoder(ZQ_ENCODE_G726);
    int length = 0;
    const unsigned char* out = ZQ_GetAUData(mine.get(), speech.data(), 960, &length);
    ASSERT_NE(out, nullptr);
    const std::vector<uint8_t> copy(out, out + length);
    for (int i = 0; i < 5; ++i)
        ASSERT_FALSE(encode(other.get(), slice(speech, 480, 480)).empty());
    EXPECT_EQ(std::vector<uint8_t>(out, out + length), copy);
}

} // namespace
