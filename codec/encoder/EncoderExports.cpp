// The exported functions: argument checks and the exception barrier around AudioEncoder.

#include "AudioEncoder.h"
#include "audora/audora.h"

#include <new>

// The handle type of the public header is this object.
struct ZQEncoder {
    audora::AudioEncoder encoder;
};

static_assert(ZQ_ENCODE_ADPCM == audora::AudioEncoder::kTypeAdpcm &&
              ZQ_ENCODE_G726 == audora::AudioEncoder::kTypeG726 &&
              ZQ_ENCODE_VOICE == audora::AudioEncoder::kTypeVoice);
static_assert(ZQ_ENCODE_MAX_INPUT == audora::AudioEncoder::kMaxInputBytes);

namespace {

// No exception may cross into the caller (who may not be C++); a failure becomes the export's
// failure value.
template <typename Result, typename Fn> Result guarded(Result onFailure, Fn&& fn) noexcept {
    try {
        return fn();
    } catch (...) {
        return onFailure;
    }
}

} // namespace

AUDORA_API ZQ_ENCODER AUDORA_CALL ZQ_Create_Encoder(void) {
    return new (std::nothrow) ZQEncoder;
}

AUDORA_API void AUDORA_CALL ZQ_Release_Encoder(ZQ_ENCODER encoder) {
    delete encoder;
}

AUDORA_API int AUDORA_CALL ZQ_Register_Encoder(ZQ_ENCODER encoder, int type) {
    if (encoder == nullptr)
        return 0;
    return guarded(0, [&] { return encoder->encoder.registerType(type) ? 1 : 0; });
}

AUDORA_API void AUDORA_CALL ZQ_UnRegister_Encoder(ZQ_ENCODER encoder, int type) {
    if (encoder == nullptr)
        return;
    guarded(0, [&] {
        encoder->encoder.unregisterType(type);
        return 0;
    });
}

AUDORA_API unsigned char* AUDORA_CALL ZQ_GetAUData(ZQ_ENCODER encoder, const short* pcm, int length,
                                                   int* outLength) {
    if (outLength != nullptr)
        *outLength = 0;
    if (encoder == nullptr)
        return nullptr;
    return guarded<unsigned char*>(nullptr,
                                   [&] { return encoder->encoder.encode(pcm, length, outLength); });
}
