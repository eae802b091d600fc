// Feeds arbitrary bytes to the picture decoder as a camera's frames: the first byte picks
// H.264 or MJPEG, the rest is cut into frames where a new frame would begin (before an H.264
// start code, before a JPEG start-of-image marker). Whatever comes in must never crash, overrun
// or leave a picture that does not match its announced size.

#include "vidora/vidora.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

struct Announced {
    int bytes = 0;
};

void onSize(int, const PictureInfo* info, void* user) {
    static_cast<Announced*>(user)->bytes = info->size;
}

bool startsFrame(const uint8_t* p, size_t left, bool h264) {
    if (h264) {
        return left >= 4 && p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] == 1;
    }
    return left >= 2 && p[0] == 0xff && p[1] == 0xd8;
}

} // namespace

// The codec's complaints about damaged input are expected here and would only slow the run.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    av_log_set_level(AV_LOG_QUIET);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const bool h264 = (data[0] & 1) == 0;
    Announced announced;
    ZQ_DECODER decoder = ZQ_Create_Decoder();
    ZQ_Register_Decoder(decoder, h264 ? ZQ_DECODE_H264 : ZQ_DECODE_MJPEG, onSize, &announced);
    const uint8_t* stream = data + 1;
    const size_t length = size - 1;
    size_t begin = 0;
    for (size_t i = 1; i <= length; ++i) {
        if (i < length && !startsFrame(stream + i, length - i, h264)) {
            continue;
        }
        // A frame in its own buffer, so ASan sees any read past its end.
        std::vector<char> frame(stream + begin, stream + i);
        const unsigned char* picture =
            ZQ_GetYUV420Data(decoder, frame.data(), static_cast<int>(frame.size()));
        if (picture != nullptr) {
            volatile unsigned sum = 0;
            for (int b = 0; b < announced.bytes; b += 61) {
                sum = sum + picture[b];
            }
            sum = sum + picture[announced.bytes - 1];
        }
        begin = i;
    }
    ZQ_Release_Decoder(decoder);
    return 0;
}
