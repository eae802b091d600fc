#include "avi/AviRecords.h"

namespace {

constexpr uint32_t kMaxBytesPerSecAtCreation = 0x80000;

} // namespace

AviHeaderSet aviMakeHeaders(int frameRate, uint32_t handler, int totalFrames) {
    const auto rate = static_cast<uint32_t>(frameRate > 0 ? frameRate : 30);
    AviHeaderSet headers;

    AviMainHeader& main = headers.main;
    main.microSecPerFrame = 1000000 / rate;
    main.maxBytesPerSec = kMaxBytesPerSecAtCreation;
    main.flags = kAviMainHeaderFlags;
    main.totalFrames = static_cast<uint32_t>(totalFrames);
    main.streams = 2;

    AviStreamHeader& video = headers.videoHeader;
    video.type = aviFourcc("vids");
    video.handler = handler;
    video.scale = 1;
    video.rate = rate;
    video.length = static_cast<uint32_t>(totalFrames);
    video.quality = -1;

    AviBitmapInfo& bitmap = headers.videoFormat;
    bitmap.planes = 1;
    bitmap.bitCount = 24;
    bitmap.compression = handler;

    AviStreamHeader& audio = headers.audioHeader;
    audio.type = aviFourcc("auds");
    audio.scale = 1;
    audio.rate = kAviAudioRate;
    audio.quality = -1;
    audio.sampleSize = 2;

    AviAudioFormat& pcm = headers.audioFormat;
    pcm.formatTag = 1;
    pcm.channels = 1;
    pcm.samplesPerSec = kAviAudioRate;
    pcm.avgBytesPerSec = kAviAudioRate * 2;
    pcm.blockAlign = 2;
    pcm.bitsPerSample = 16;

    if (handler == kAviHandlerH264) {
        aviSetPictureSize(headers, 1280, 720);
    } else {
        aviSetPictureSize(headers, 640, 480);
    }
    return headers;
}

void aviSetPictureSize(AviHeaderSet& headers, int width, int height) {
    const auto bufferBytes = static_cast<uint32_t>(width) * static_cast<uint32_t>(height) * 3;
    headers.main.width = static_cast<uint32_t>(width);
    headers.main.height = static_cast<uint32_t>(height);
    headers.main.suggestedBufferSize = bufferBytes;
    headers.videoHeader.suggestedBufferSize = bufferBytes;
    headers.videoHeader.frameRight = static_cast<int16_t>(width);
    headers.videoHeader.frameBottom = static_cast<int16_t>(height);
    headers.videoFormat.width = width;
    headers.videoFormat.height = height;
}
