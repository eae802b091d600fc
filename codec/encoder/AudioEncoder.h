#pragma once

#include "audio/ImaAdpcm.h"
#include "voice/Voice.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace audora {

// One talk-channel encoder: the registered coder, its state and the buffer it hands out. Every
// public call takes the object's lock.
class AudioEncoder {
public:
    static constexpr int kTypeAdpcm = 257;
    static constexpr int kTypeG726 = 258;
    static constexpr int kTypeVoice = 259;
    // Larger inputs are refused: they cannot come from the talk path, and the cap bounds the
    // buffer an unchecked length could make us allocate.
    static constexpr int kMaxInputBytes = 65536;

    bool registerType(int type);
    void unregisterType(int type);
    // Encodes `length` bytes of PCM; null when refused. *outLength is the encoded size.
    uint8_t* encode(const void* pcm, int length, int* outLength);

private:
    // Initial capacities, sized for the usual block of each coder (640 bytes of PCM for ADPCM).
    static constexpr size_t kAdpcmBuffer = 160;
    static constexpr size_t kG726Buffer = 120;
    static constexpr size_t kVoiceBuffer = 140;

    uint8_t* encodeAdpcm(size_t samples, int* outLength);
    uint8_t* encodeG726(size_t samples, int* outLength);
    uint8_t* encodeVoice(size_t samples, int* outLength);

    std::mutex mutex_;
    int type_ = 0; // 0 while nothing is registered
    std::vector<uint8_t> output_;
    std::vector<int16_t> pcm_; // aligned copy of the caller's samples
    codec::ImaAdpcmState adpcm_;
    voice::EncoderState voice_{};
};

} // namespace audora
