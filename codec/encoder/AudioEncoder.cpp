#include "AudioEncoder.h"

#include "audio/G726.h"

#include <algorithm>
#include <cstring>

namespace audora {

bool AudioEncoder::registerType(int type) {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t capacity = 0;
    switch (type) {
    case kTypeAdpcm:
        capacity = kAdpcmBuffer;
        adpcm_ = {};
        break;
    case kTypeG726:
        capacity = kG726Buffer;
        break;
    case kTypeVoice:
        capacity = kVoiceBuffer;
        type_ = 0;
        if (VOICE_EncReset(&voice_, voice::kModeNarrowband) != voice::kOk)
            return false;
        break;
    default:
        return false;
    }
    type_ = 0; // stays unregistered if the buffer cannot be had
    output_.assign(capacity, 0);
    type_ = type;
    return true;
}

void AudioEncoder::unregisterType(int type) {
    if (type != kTypeAdpcm && type != kTypeG726 && type != kTypeVoice)
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    type_ = 0;
    std::vector<uint8_t>().swap(output_);
    std::vector<int16_t>().swap(pcm_);
}

uint8_t* AudioEncoder::encode(const void* pcm, int length, int* outLength) {
    if (outLength != nullptr)
        *outLength = 0;
    if (pcm == nullptr || length <= 0 || length % 2 != 0 || length > kMaxInputBytes)
        return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    const size_t samples = static_cast<size_t>(length) / 2;
    if (type_ == 0 || (type_ == kTypeG726 && samples != codec::kG726BlockSamples) ||
        (type_ == kTypeVoice && samples != static_cast<size_t>(voice::kFrameSamples)))
        return nullptr;
    // Callers hand in byte buffers cast to short*; copying keeps the coders on aligned samples.
    pcm_.resize(samples);
    std::memcpy(pcm_.data(), pcm, samples * sizeof(int16_t));

    int encoded = 0;
    uint8_t* out = nullptr;
    switch (type_) {
    case kTypeAdpcm:
        out = encodeAdpcm(samples, &encoded);
        break;
    case kTypeG726:
        out = encodeG726(samples, &encoded);
        break;
    default:
        out = encodeVoice(samples, &encoded);
        break;
    }
    if (out != nullptr && outLength != nullptr)
        *outLength = encoded;
    return out;
}

uint8_t* AudioEncoder::encodeAdpcm(size_t samples, int* outLength) {
    // The buffer grows for long inputs instead of being written past, and the reported size is
    // what was really written.
    const size_t bytes = (samples + 1) / 2;
    if (output_.size() < bytes)
        output_.resize(bytes);
    codec::imaEncode(adpcm_, pcm_.data(), samples, output_.data());
    *outLength = static_cast<int>(bytes);
    return output_.data();
}

uint8_t* AudioEncoder::encodeG726(size_t /*samples*/, int* outLength) {
    // Each block is coded from the initial state, as the camera decodes it.
    output_.resize(std::max(output_.size(), codec::kG726BlockBytes));
    codec::g726EncodeBlock(pcm_.data(), output_.data());
    *outLength = static_cast<int>(codec::kG726BlockBytes);
    return output_.data();
}

uint8_t* AudioEncoder::encodeVoice(size_t samples, int* outLength) {
    output_.resize(std::max(output_.size(), static_cast<size_t>(voice::kFrameBytes)));
    if (VOICE_EncodeFrame(&voice_, pcm_.data(), output_.data(), static_cast<int>(samples)) !=
        voice::kOk)
        return nullptr;
    *outLength = voice::kFrameBytes;
    return output_.data();
}

} // namespace audora
