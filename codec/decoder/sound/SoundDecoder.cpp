#include "sound/SoundDecoder.h"

#include "audio/G726.h"
#include "vidora/vidora.h"

#include <bit>
#include <cstring>

namespace vidora {

static_assert(std::endian::native == std::endian::little,
              "PCM leaves the decoder little-endian as it is held in memory");

namespace {

// Far beyond any camera's sound frame; protects the output allocation.
constexpr size_t kMaxInputBytes = 1 << 20;
// The first allocation of the block codecs: ten 960-byte blocks.
constexpr size_t kInitialSamples = 4800;

} // namespace

std::unique_ptr<SoundDecoder> SoundDecoder::create(int type) {
    switch (type) {
    case ZQ_DECODE_ADPCM:
        return std::unique_ptr<SoundDecoder>(new SoundDecoder(type));
    case ZQ_DECODE_G726:
    case ZQ_DECODE_PCM:
    case ZQ_DECODE_VOICE: {
        std::unique_ptr<SoundDecoder> decoder(new SoundDecoder(type));
        if (type == ZQ_DECODE_VOICE &&
            VOICE_DecReset(&decoder->voice_, voice::kModeNarrowband) != 0) {
            return nullptr;
        }
        decoder->pcm_.resize(kInitialSamples);
        return decoder;
    }
    default:
        return nullptr;
    }
}

uint8_t* SoundDecoder::decode(const uint8_t* data, size_t length, int* outBytes) {
    *outBytes = 0;
    if (data == nullptr || length == 0 || length > kMaxInputBytes) {
        return nullptr;
    }
    size_t samples = 0;
    switch (type_) {
    case ZQ_DECODE_ADPCM:
        samples = decodeAdpcm(data, length);
        break;
    case ZQ_DECODE_G726:
        samples = decodeG726(data, length);
        break;
    case ZQ_DECODE_VOICE:
        samples = decodeVoice(data, length);
        break;
    case ZQ_DECODE_PCM:
        samples = copyPcm(data, length);
        break;
    default:
        break;
    }
    if (samples == 0) {
        return nullptr;
    }
    *outBytes = static_cast<int>(samples * sizeof(int16_t));
    return reinterpret_cast<uint8_t*>(pcm_.data());
}

int16_t* SoundDecoder::reserve(size_t samples) {
    if (pcm_.size() < samples) {
        pcm_.resize(samples);
    }
    return pcm_.data();
}

// Two samples per byte; the predictor carries over from one frame to the next.
size_t SoundDecoder::decodeAdpcm(const uint8_t* data, size_t length) {
    codec::imaDecode(adpcm_, data, length, reserve(2 * length));
    return 2 * length;
}

// Whole 120-byte blocks, each standing alone; a trailing part block is not sound.
size_t SoundDecoder::decodeG726(const uint8_t* data, size_t length) {
    const size_t blocks = length / codec::kG726BlockBytes;
    int16_t* out = reserve(blocks * codec::kG726BlockSamples);
    for (size_t i = 0; i < blocks; ++i) {
        codec::g726DecodeBlock(data + i * codec::kG726BlockBytes,
                               out + i * codec::kG726BlockSamples);
    }
    return blocks * codec::kG726BlockSamples;
}

// Whole frames; a frame the codec refuses is left out and its slot goes to the next.
size_t SoundDecoder::decodeVoice(const uint8_t* data, size_t length) {
    const size_t frames = length / voice::kFrameBytes;
    int16_t* out = reserve(frames * voice::kFrameSamples);
    size_t samples = 0;
    for (size_t i = 0; i < frames; ++i) {
        int decoded = 0;
        if (VOICE_DecodeFrame(&voice_, data + i * voice::kFrameBytes, voice::kFrameBytes,
                              out + samples, &decoded) == 0 &&
            decoded > 0 && decoded <= voice::kFrameSamples) {
            samples += static_cast<size_t>(decoded);
        }
    }
    return samples;
}

// Half a sample is not PCM: an odd length is refused.
size_t SoundDecoder::copyPcm(const uint8_t* data, size_t length) {
    if (length % 2 != 0) {
        return 0;
    }
    std::memcpy(reserve(length / 2), data, length);
    return length / 2;
}

} // namespace vidora
