// The flat interface of libvidora.so: handles are Decoder objects; nothing thrown inside
// crosses this boundary.
#include "Decoder.h"
#include "vidora/vidora.h"

#include <cstdio>
#include <exception>
#include <new>

namespace {

vidora::Decoder* toDecoder(ZQ_DECODER handle) {
    return reinterpret_cast<vidora::Decoder*>(handle);
}

template <typename Result, typename Fn> Result guarded(Result onFailure, Fn&& fn) noexcept {
    try {
        return fn();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "vidora: %s\n", error.what());
    } catch (...) {
        std::fprintf(stderr, "vidora: unknown failure\n");
    }
    return onFailure;
}

const uint8_t* bytes(const char* data) {
    return reinterpret_cast<const uint8_t*>(data);
}

} // namespace

VIDORA_API ZQ_DECODER VIDORA_CALL ZQ_Create_Decoder(void) {
    return reinterpret_cast<ZQ_DECODER>(new (std::nothrow) vidora::Decoder);
}

VIDORA_API void VIDORA_CALL ZQ_Release_Decoder(ZQ_DECODER decoder) {
    delete toDecoder(decoder);
}

VIDORA_API bool VIDORA_CALL ZQ_Register_Decoder(ZQ_DECODER decoder, int type,
                                                ZQ_PictureSizeCallback callback, void* user) {
    if (decoder == nullptr) {
        return false;
    }
    return guarded(false, [&] { return toDecoder(decoder)->registerType(type, callback, user); });
}

VIDORA_API void VIDORA_CALL ZQ_UnRegister_Decoder(ZQ_DECODER decoder, int type) {
    if (decoder != nullptr) {
        toDecoder(decoder)->unregisterType(type);
    }
}

VIDORA_API bool VIDORA_CALL ZQ_Reset_Decoder(ZQ_DECODER decoder) {
    if (decoder == nullptr) {
        return false;
    }
    toDecoder(decoder)->reset();
    return true;
}

VIDORA_API unsigned char* VIDORA_CALL ZQ_GetYUV420Data(ZQ_DECODER decoder, const char* data,
                                                       int length) {
    if (decoder == nullptr || data == nullptr || length <= 0) {
        return nullptr;
    }
    return guarded<unsigned char*>(nullptr, [&] {
        return toDecoder(decoder)->decodePicture(bytes(data), static_cast<size_t>(length));
    });
}

VIDORA_API unsigned char* VIDORA_CALL ZQ_GetPCMData(ZQ_DECODER decoder, const char* data,
                                                    int length, int* outLength) {
    int ignored = 0;
    int* out = outLength != nullptr ? outLength : &ignored;
    *out = 0;
    if (decoder == nullptr || data == nullptr || length <= 0) {
        return nullptr;
    }
    return guarded<unsigned char*>(nullptr, [&] {
        return toDecoder(decoder)->decodeSound(bytes(data), static_cast<size_t>(length), out);
    });
}
