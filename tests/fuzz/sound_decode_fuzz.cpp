// Feeds arbitrary bytes to the sound decoders: the first byte picks the codec, the second the
// size of the pieces the rest is cut into. No input may crash, overrun, or report more PCM than
// the decoder handed out.

#include "vidora/vidora.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) {
        return 0;
    }
    static constexpr int kTypes[] = {ZQ_DECODE_ADPCM, ZQ_DECODE_G726, ZQ_DECODE_PCM,
                                     ZQ_DECODE_VOICE};
    const int type = kTypes[data[0] % 4];
    const size_t piece = 1 + static_cast<size_t>(data[1]) * 4;
    ZQ_DECODER decoder = ZQ_Create_Decoder();
    ZQ_Register_Decoder(decoder, type, nullptr, nullptr);
    for (size_t at = 2; at < size; at += piece) {
        const size_t length = std::min(piece, size - at);
        std::vector<char> block(data + at, data + at + length);
        int outLength = -1;
        const unsigned char* pcm =
            ZQ_GetPCMData(decoder, block.data(), static_cast<int>(block.size()), &outLength);
        if (pcm == nullptr) {
            if (outLength != 0) {
                __builtin_trap();
            }
            continue;
        }
        if (outLength <= 0 || outLength % 2 != 0) {
            __builtin_trap();
        }
        volatile unsigned sum = 0;
        for (int i = 0; i < outLength; ++i) {
            sum = sum + pcm[i];
        }
    }
    ZQ_Release_Decoder(decoder);
    return 0;
}
