#pragma once

#include "sound/SoundDecoder.h"
#include "video/VideoStream.h"
#include "vidora/vidora.h"

#include <memory>
#include <mutex>

namespace vidora {

// One camera's decoder object: at most one video and one audio decoder, chosen by registration.
// Every call holds the object's lock for its whole run, so one object may be shared by threads
// but decodes serially.
class Decoder {
public:
    // Decoder threads per video codec; see VideoCodec::open.
    static constexpr int kVideoThreads = 1;

    bool registerType(int type, ZQ_PictureSizeCallback onSize, void* user);
    void unregisterType(int type);
    void reset();
    uint8_t* decodePicture(const uint8_t* data, size_t length);
    uint8_t* decodeSound(const uint8_t* data, size_t length, int* outBytes);

private:
    std::mutex lock_;
    std::unique_ptr<VideoStream> video_;
    std::unique_ptr<SoundDecoder> sound_;
};

bool isVideoType(int type);
bool isSoundType(int type);

} // namespace vidora
