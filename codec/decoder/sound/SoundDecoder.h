#pragma once

#include "audio/ImaAdpcm.h"
#include "voice/Voice.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace vidora {

// The audio side of a decoder object: a camera's sound frames to 16-bit PCM. One instance per
// registration; the state of the stateful codecs lives here.
class SoundDecoder {
public:
    // Null for a type that is not an audio type, or a voice decoder that refuses to start.
    static std::unique_ptr<SoundDecoder> create(int type);

    // The PCM (owned, valid until the next call) and its size in bytes, or null and 0 when
    // nothing came out.
    uint8_t* decode(const uint8_t* data, size_t length, int* outBytes);

private:
    explicit SoundDecoder(int type) : type_(type) {}
    size_t decodeAdpcm(const uint8_t* data, size_t length);
    size_t decodeG726(const uint8_t* data, size_t length);
    size_t decodeVoice(const uint8_t* data, size_t length);
    size_t copyPcm(const uint8_t* data, size_t length);
    int16_t* reserve(size_t samples);

    const int type_;
    std::vector<int16_t> pcm_;
    codec::ImaAdpcmState adpcm_;
    voice::DecoderState voice_{};
};

} // namespace vidora
