// G.726 at 16 kbit/s against FFmpeg's coder, block by block: the cameras' peers decode our talk
// blocks with it, and our test camera encodes its sound with it, so both directions must agree
// with it bit for bit.

#include "TestSignals.h"
#include "audio/G726.h"
#include "camsim/FfmpegHandles.h"
#include "camsim/G726Codec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using codec::kG726BlockBytes;
using codec::kG726BlockSamples;

constexpr size_t kSeconds = 3;
constexpr size_t kBlocks = kSeconds * 8000 / kG726BlockSamples;

std::vector<uint8_t> encodeOurs(const std::vector<int16_t>& pcm) {
    std::vector<uint8_t> out(pcm.size() / kG726BlockSamples * kG726BlockBytes);
    for (size_t block = 0; block < pcm.size() / kG726BlockSamples; ++block)
        codec::g726EncodeBlock(&pcm[block * kG726BlockSamples], &out[block * kG726BlockBytes]);
    return out;
}

std::vector<int16_t> decodeOurs(const std::vector<uint8_t>& data) {
    std::vector<int16_t> out(data.size() / kG726BlockBytes * kG726BlockSamples);
    for (size_t block = 0; block < data.size() / kG726BlockBytes; ++block)
        codec::g726DecodeBlock(&data[block * kG726BlockBytes], &out[block * kG726BlockSamples]);
    return out;
}

// Index of the first block whose bytes differ from FFmpeg's encoding, or -1.
int firstEncodeMismatch(const std::vector<int16_t>& pcm) {
    const std::vector<uint8_t> ours = encodeOurs(pcm);
    for (size_t block = 0; block < pcm.size() / kG726BlockSamples; ++block) {
        const std::vector<uint8_t> reference =
            camsim::G726Codec::encodeBlock(&pcm[block * kG726BlockSamples], kG726BlockSamples);
        if (reference.size() != kG726BlockBytes)
            return -2; // FFmpeg refused; no comparison possible
        if (!std::equal(reference.begin(), reference.end(), ours.begin() + block * kG726BlockBytes))
            return static_cast<int>(block);
    }
    return -1;
}

int firstDecodeMismatch(const std::vector<uint8_t>& data) {
    const std::vector<int16_t> ours = decodeOurs(data);
    for (size_t block = 0; block < data.size() / kG726BlockBytes; ++block) {
        const std::vector<int16_t> reference =
            camsim::G726Codec::decodeBlock(&data[block * kG726BlockBytes], kG726BlockBytes);
        if (reference.size() != kG726BlockSamples)
            return -2;
        if (!std::equal(reference.begin(), reference.end(),
                        ours.begin() + block * kG726BlockSamples))
            return static_cast<int>(block);
    }
    return -1;
}

// FFmpeg's coder on one long stream, one context for all of it: the state runs on across
// blocks, as G726Codec16 does when used sample by sample.
camsim::CodecContextPtr openFfmpeg(const AVCodec* codec) {
    camsim::CodecContextPtr context(avcodec_alloc_context3(codec));
    context->sample_rate = 8000;
    context->bit_rate = 16000;
    context->bits_per_coded_sample = 2;
    context->sample_fmt = AV_SAMPLE_FMT_S16;
    av_channel_layout_default(&context->ch_layout, 1);
    if (avcodec_open2(context.get(), codec, nullptr) < 0)
        return nullptr;
    return context;
}

std::vector<int16_t> ffmpegDecodeStream(const std::vector<uint8_t>& data) {
    camsim::CodecContextPtr context = openFfmpeg(avcodec_find_decoder(AV_CODEC_ID_ADPCM_G726));
    camsim::FramePtr frame(av_frame_alloc());
    camsim::PacketPtr packet(av_packet_alloc());
    std::vector<int16_t> out;
    for (size_t at = 0; context && at < data.size(); at += kG726BlockBytes) {
        if (av_new_packet(packet.get(), static_cast<int>(kG726BlockBytes)) < 0)
            return {};
        std::memcpy(packet->data, &data[at], kG726BlockBytes);
        if (avcodec_send_packet(context.get(), packet.get()) < 0)
            return {};
        av_packet_unref(packet.get());
        while (avcodec_receive_frame(context.get(), frame.get()) == 0) {
            const auto* samples = reinterpret_cast<const int16_t*>(frame->data[0]);
            out.insert(out.end(), samples, samples + frame->nb_samples);
            av_frame_unref(frame.get());
        }
    }
    return out;
}

std::vector<uint8_t> ffmpegEncodeStream(const std::vector<int16_t>& pcm) {
    camsim::CodecContextPtr context = openFfmpeg(avcodec_find_encoder_by_name("g726"));
    camsim::PacketPtr packet(av_packet_alloc());
    std::vector<uint8_t> out;
    for (size_t at = 0; context && at < pcm.size(); at += kG726BlockSamples) {
        camsim::FramePtr frame(av_frame_alloc());
        frame->format = AV_SAMPLE_FMT_S16;
        frame->nb_samples = static_cast<int>(kG726BlockSamples);
        av_channel_layout_default(&frame->ch_layout, 1);
        if (av_frame_get_buffer(frame.get(), 0) < 0)
            return {};
        std::memcpy(frame->data[0], &pcm[at], kG726BlockSamples * sizeof(int16_t));
        if (avcodec_send_frame(context.get(), frame.get()) < 0)
            return {};
        while (avcodec_receive_packet(context.get(), packet.get()) == 0) {
            out.insert(out.end(), packet->data, packet->data + packet->size);
            av_packet_unref(packet.get());
        }
    }
    return out;
}

struct NamedSignal {
    std::string name;
    std::vector<int16_t> pcm;
};

std::vector<NamedSignal> encoderSignals() {
    const size_t n = kBlocks * kG726BlockSamples;
    std::vector<NamedSignal> signals = {
        {"speech", audiotest::speechLike(n)},
        {"quiet speech", audiotest::speechLike(n, 600.0)},
        {"full-scale speech", audiotest::speechLike(n, 32767.0)},
        {"silence", std::vector<int16_t>(n, 0)},
        {"sweep", audiotest::sweep(n, 50.0, 3950.0, 12000.0)},
        {"small negative offset", std::vector<int16_t>(n, -7)},
    };
    for (double sigma : {3.0, 100.0, 3000.0, 30000.0})
        signals.push_back({"noise " + std::to_string(sigma),
                           audiotest::whiteNoise(n, sigma, static_cast<unsigned>(sigma))});
    for (size_t half : {1u, 3u, 20u, 57u})
        signals.push_back({"square " + std::to_string(half), audiotest::squareWave(n, half)});
    return signals;
}

TEST(G726, EncodesEveryBlockLikeFfmpeg) {
    for (const NamedSignal& signal : encoderSignals())
        EXPECT_EQ(firstEncodeMismatch(signal.pcm), -1) << signal.name;
}

TEST(G726, DecodesEveryBlockLikeFfmpeg) {
    std::mt19937 random(726);
    // Uniformly random codes, and codes that lean to one value, which drive the predictor into
    // overload where the arithmetic's limits show.
    std::vector<uint8_t> uniform(kBlocks * kG726BlockBytes);
    for (uint8_t& byte : uniform)
        byte = static_cast<uint8_t>(random());
    EXPECT_EQ(firstDecodeMismatch(uniform), -1) << "uniform codes";

    for (unsigned favourite = 0; favourite < 4; ++favourite) {
        std::vector<uint8_t> leaning(kBlocks * kG726BlockBytes);
        for (uint8_t& byte : leaning) {
            unsigned value = 0;
            for (int k = 0; k < 4; ++k)
                value = (value << 2) | (random() % 3 == 0 ? random() % 4 : favourite);
            byte = static_cast<uint8_t>(value);
        }
        EXPECT_EQ(firstDecodeMismatch(leaning), -1) << "codes leaning to " << favourite;
    }
    for (unsigned byte : {0x00u, 0x55u, 0x5Au, 0xA5u, 0xFFu, 0x14u})
        EXPECT_EQ(
            firstDecodeMismatch(std::vector<uint8_t>(kG726BlockBytes, static_cast<uint8_t>(byte))),
            -1)
            << "constant byte " << byte;

    // What a real talk stream carries: our own encoding of speech and of a tone.
    EXPECT_EQ(firstDecodeMismatch(encodeOurs(audiotest::speechLike(kBlocks * kG726BlockSamples))),
              -1);
    EXPECT_EQ(firstDecodeMismatch(encodeOurs(
                  audiotest::sweep(kBlocks * kG726BlockSamples, 1000.0, 1000.0, 8000.0))),
              -1);
}

// The block functions and the sample-by-sample codec are one coder: a codec that has been used
// and then reset must give exactly a fresh block's result.
TEST(G726, ResetReturnsToTheInitialState) {
    const std::vector<int16_t> speech = audiotest::speechLike(2 * kG726BlockSamples);
    codec::G726Codec16 codec;
    for (size_t i = 0; i < kG726BlockSamples; ++i)
        codec.encode(speech[i]);
    codec.reset();

    std::vector<uint8_t> block(kG726BlockBytes);
    codec::g726EncodeBlock(&speech[kG726BlockSamples], block.data());
    for (size_t i = 0; i < kG726BlockSamples; ++i) {
        const unsigned expected = (block[i / 4] >> (6 - 2 * (i % 4))) & 3;
        ASSERT_EQ(codec.encode(speech[kG726BlockSamples + i]), expected) << "sample " << i;
    }

    codec::G726Codec16 decoder;
    for (unsigned code = 0; code < 200; ++code)
        decoder.decode(code);
    decoder.reset();
    std::vector<int16_t> fresh(kG726BlockSamples);
    codec::g726DecodeBlock(block.data(), fresh.data());
    for (size_t i = 0; i < kG726BlockSamples; ++i)
        ASSERT_EQ(decoder.decode(block[i / 4] >> (6 - 2 * (i % 4))), fresh[i]) << "sample " << i;
}

// Over a long stream the zero coefficients reach their bound of 2.0 (32768), which must not wrap,
// and the sums leave 16 bits; blocks of 480 samples are too short to get there.
TEST(G726, StreamsLikeFfmpegAcrossBlocks) {
    const size_t blocks = 2 * kBlocks;
    std::vector<uint8_t> codes(blocks * kG726BlockBytes);
    std::mt19937 random(16);
    for (size_t i = 0; i < codes.size(); ++i)
        codes[i] =
            i < codes.size() / 2 ? 0x55 : static_cast<uint8_t>(random() % 3 ? 0xAA : random());
    const std::vector<int16_t> reference = ffmpegDecodeStream(codes);
    ASSERT_EQ(reference.size(), blocks * kG726BlockSamples);
    codec::G726Codec16 decoder;
    for (size_t i = 0; i < reference.size(); ++i)
        ASSERT_EQ(decoder.decode(codes[i / 4] >> (6 - 2 * (i % 4))), reference[i])
            << "sample " << i;

    std::vector<int16_t> pcm = audiotest::speechLike(blocks * kG726BlockSamples);
    const std::vector<int16_t> square = audiotest::squareWave(pcm.size() / 2, 9);
    std::copy(square.begin(), square.end(),
              pcm.begin() + static_cast<std::ptrdiff_t>(pcm.size() / 2));
    const std::vector<uint8_t> encoded = ffmpegEncodeStream(pcm);
    ASSERT_EQ(encoded.size(), blocks * kG726BlockBytes);
    codec::G726Codec16 encoder;
    for (size_t i = 0; i < pcm.size(); ++i)
        ASSERT_EQ(encoder.encode(pcm[i]), (encoded[i / 4] >> (6 - 2 * (i % 4))) & 3u)
            << "sample " << i;
}

} // namespace
