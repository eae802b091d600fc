#pragma once

#include "vidora/vidora.h"

#include <cstring>
#include <vector>

// A decoder object for one test, with what its picture-size callback reported.
class DecoderHandle {
public:
    explicit DecoderHandle(int videoType = 0, int soundType = 0) : handle_(ZQ_Create_Decoder()) {
        if (videoType != 0) {
            ZQ_Register_Decoder(handle_, videoType, &DecoderHandle::onSize, this);
        }
        if (soundType != 0) {
            ZQ_Register_Decoder(handle_, soundType, nullptr, nullptr);
        }
    }
    ~DecoderHandle() { ZQ_Release_Decoder(handle_); }
    DecoderHandle(const DecoderHandle&) = delete;
    DecoderHandle& operator=(const DecoderHandle&) = delete;

    ZQ_DECODER get() const { return handle_; }

    unsigned char* picture(const std::vector<uint8_t>& frame) {
        return ZQ_GetYUV420Data(handle_, reinterpret_cast<const char*>(frame.data()),
                                static_cast<int>(frame.size()));
    }

    std::vector<uint8_t> sound(const std::vector<uint8_t>& data) {
        int length = -1;
        const unsigned char* pcm =
            ZQ_GetPCMData(handle_, reinterpret_cast<const char*>(data.data()),
                          static_cast<int>(data.size()), &length);
        if (pcm == nullptr) {
            lastSoundLength = length;
            return {};
        }
        lastSoundLength = length;
        return {pcm, pcm + length};
    }

    static void onSize(int zero, const PictureInfo* info, void* user) {
        auto* self = static_cast<DecoderHandle*>(user);
        self->zeroes += zero == 0 ? 0 : 1;
        self->sizes.push_back(*info);
    }

    std::vector<PictureInfo> sizes; // every call of the picture-size callback
    int zeroes = 0;                 // calls whose first argument was not 0
    int lastSoundLength = 0;

private:
    ZQ_DECODER handle_;
};
