#include "video/JpegScan.h"

namespace vidora {

namespace {

constexpr uint8_t kMarker = 0xff;
constexpr uint8_t kStartOfImage = 0xd8;
constexpr uint8_t kEndOfImage = 0xd9;
constexpr uint8_t kStartOfScan = 0xda;

bool isStartOfFrame(uint8_t marker) {
    return marker >= 0xc0 && marker <= 0xc2;
}

// Markers that stand alone, without a length field.
bool hasNoSegment(uint8_t marker) {
    return marker == 0x01 || marker == kStartOfImage || (marker >= 0xd0 && marker <= 0xd7);
}

int bigEndian16(const uint8_t* p) {
    return (p[0] << 8) | p[1];
}

} // namespace

bool isJpeg(const uint8_t* data, size_t length) {
    return data != nullptr && length >= 2 && data[0] == kMarker && data[1] == kStartOfImage;
}

PictureSize readJpegSize(const uint8_t* data, size_t length) {
    if (!isJpeg(data, length)) {
        return {};
    }
    size_t i = 2;
    while (i + 1 < length) {
        if (data[i] != kMarker) {
            ++i; // not on a marker: keep looking, as a tolerant reader should
            continue;
        }
        const uint8_t marker = data[i + 1];
        if (marker == kMarker) {
            ++i; // fill byte
            continue;
        }
        if (marker == kEndOfImage || marker == kStartOfScan) {
            return {};
        }
        if (hasNoSegment(marker)) {
            i += 2;
            continue;
        }
        if (i + 4 > length) {
            return {};
        }
        const int segmentLength = bigEndian16(data + i + 2);
        if (isStartOfFrame(marker)) {
            // FF Cn, length, precision, height, width.
            if (i + 9 > length || segmentLength < 7) {
                return {};
            }
            const PictureSize size{bigEndian16(data + i + 7), bigEndian16(data + i + 5)};
            if (!size.known() || size.width > kMaxPictureSide || size.height > kMaxPictureSide) {
                return {};
            }
            return size;
        }
        if (segmentLength < 2) {
            return {};
        }
        i += 2 + static_cast<size_t>(segmentLength);
    }
    return {};
}

} // namespace vidora
