#pragma once

// The records of a recording's header as they lie in the file, and the header images a new
// recording starts with. The records are copied to and from the file byte for byte, so their
// layout is the file's: no pointers, natural alignment that matches the packing, fixed sizes.

#include "avi/Avi.h"

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

static_assert(std::endian::native == std::endian::little,
              "header records are copied byte for byte into little-endian files");

// "avih" chunk: code, size 56, the main header.
struct AviMainHeader {
    uint32_t code = aviFourcc("avih");
    uint32_t size = 56;
    uint32_t microSecPerFrame = 0;
    uint32_t maxBytesPerSec = 0;
    uint32_t paddingGranularity = 0;
    uint32_t flags = 0;
    uint32_t totalFrames = 0;
    uint32_t initialFrames = 0;
    uint32_t streams = 0;
    uint32_t suggestedBufferSize = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t reserved[4] = {};
};
static_assert(sizeof(AviMainHeader) == 64);

// "strh" chunk: code, size 56, the stream header.
struct AviStreamHeader {
    uint32_t code = aviFourcc("strh");
    uint32_t size = 56;
    uint32_t type = 0;
    uint32_t handler = 0;
    uint32_t flags = 0;
    uint16_t priority = 0;
    uint16_t language = 0;
    uint32_t initialFrames = 0;
    uint32_t scale = 0;
    uint32_t rate = 0;
    uint32_t start = 0;
    uint32_t length = 0;
    uint32_t suggestedBufferSize = 0;
    int32_t quality = 0;
    uint32_t sampleSize = 0;
    int16_t frameLeft = 0;
    int16_t frameTop = 0;
    int16_t frameRight = 0;
    int16_t frameBottom = 0;
};
static_assert(sizeof(AviStreamHeader) == 64);
// Where the frame count lies, for patching a recording in place.
constexpr int kStreamHeaderLengthOffset = 40;
static_assert(offsetof(AviStreamHeader, length) == kStreamHeaderLengthOffset);

// Video "strf" body: BITMAPINFOHEADER.
struct AviBitmapInfo {
    uint32_t size = 40;
    int32_t width = 0;
    int32_t height = 0;
    uint16_t planes = 0;
    uint16_t bitCount = 0;
    uint32_t compression = 0;
    uint32_t sizeImage = 0;
    int32_t xPelsPerMeter = 0;
    int32_t yPelsPerMeter = 0;
    uint32_t colorsUsed = 0;
    uint32_t colorsImportant = 0;
};
static_assert(sizeof(AviBitmapInfo) == 40);

// Audio "strf" body: the PCM format block, padded to the 40 bytes every "strf" here has.
struct AviAudioFormat {
    uint16_t formatTag = 0;
    uint16_t channels = 0;
    uint32_t samplesPerSec = 0;
    uint32_t avgBytesPerSec = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
    uint16_t extraSize = 0;
    uint8_t unused[22] = {};
};
static_assert(sizeof(AviAudioFormat) == 40);

// "idx1" entry; `offset` counts from the "movi" code to the chunk's header.
struct AviIndexEntry {
    uint32_t code = 0;
    uint32_t flags = 0;
    uint32_t offset = 0;
    uint32_t length = 0;
};
static_assert(sizeof(AviIndexEntry) == 16);

constexpr uint32_t kAviKeyFrameFlag = 16;            // AVIIF_KEYFRAME
constexpr uint32_t kAviMainHeaderFlags = 0x00010030; // has index, must use index, capture file
constexpr uint32_t kAviHandlerH264 = aviFourcc("H264");
constexpr uint32_t kAviHandlerMjpeg = aviFourcc("MJPG");
constexpr uint32_t kAviAudioRate = 8000;

// The byte image of a record, as the calls of Avi.h take it.
template <typename Record> std::array<uint8_t, sizeof(Record)> aviImage(const Record& record) {
    std::array<uint8_t, sizeof(Record)> image;
    std::memcpy(image.data(), &record, sizeof(Record));
    return image;
}

template <typename Record> Record aviRecord(const uint8_t* image) {
    Record record;
    std::memcpy(&record, image, sizeof(Record));
    return record;
}

// Every header of a recording of one camera kind.
struct AviHeaderSet {
    AviMainHeader main;
    AviStreamHeader videoHeader;
    AviBitmapInfo videoFormat;
    AviStreamHeader audioHeader;
    AviAudioFormat audioFormat;
};

// The headers a new recording starts with: `handler` kAviHandlerH264 (1280x720) or
// kAviHandlerMjpeg (640x480), `frameRate` frames per second (30 when not positive), and
// `totalFrames` in the main header and the video stream length. The audio length starts at 0.
AviHeaderSet aviMakeHeaders(int frameRate, uint32_t handler, int totalFrames);

// Puts a picture size everywhere the headers carry one (main header, stream rectangle,
// bitmap header, suggested buffer sizes).
void aviSetPictureSize(AviHeaderSet& headers, int width, int height);
