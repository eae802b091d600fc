#include "video/JpegScan.h"

#include <gtest/gtest.h>

#include <vector>

using vidora::PictureSize;

namespace {

std::vector<uint8_t> segment(uint8_t marker, std::vector<uint8_t> body) {
    const size_t length = body.size() + 2;
    body.insert(body.begin(),
                {0xff, marker, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)});
    return body;
}

std::vector<uint8_t> frameHeader(uint8_t marker, int width, int height) {
    return segment(marker,
                   {8, static_cast<uint8_t>(height >> 8), static_cast<uint8_t>(height),
                    static_cast<uint8_t>(width >> 8), static_cast<uint8_t>(width), 1, 1, 0x11, 0});
}

std::vector<uint8_t> jpeg(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out{0xff, 0xd8};
    for (const auto& part : parts) {
        for (const uint8_t byte : part) {
            out.push_back(byte);
        }
    }
    return out;
}

PictureSize sizeOf(const std::vector<uint8_t>& data) {
    return vidora::readJpegSize(data.data(), data.size());
}

} // namespace

TEST(JpegScan, FindsTheFrameHeaderBehindOtherSegments) {
    const auto app0 = segment(0xe0, {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0});
    const auto quant = segment(0xdb, std::vector<uint8_t>(65, 1));
    EXPECT_EQ(sizeOf(jpeg({app0, quant, frameHeader(0xc0, 640, 480)})), (PictureSize{640, 480}));
    // Fill bytes before a marker and a restart marker without a length.
    EXPECT_EQ(sizeOf(jpeg({{0xff, 0xff}, {0xff, 0xd0}, frameHeader(0xc0, 1920, 1080)})),
              (PictureSize{1920, 1080}));
    // Progressive pictures tell their size the same way.
    EXPECT_EQ(sizeOf(jpeg({app0, frameHeader(0xc2, 800, 600)})), (PictureSize{800, 600}));
}

TEST(JpegScan, RefusesWhatIsNotAJpegOrIsCutShort) {
    const auto header = frameHeader(0xc0, 640, 480);
    EXPECT_FALSE(vidora::isJpeg(nullptr, 10));
    const std::vector<uint8_t> notJpeg{0x00, 0x00, 0x00, 0x01, 0x67};
    EXPECT_FALSE(vidora::isJpeg(notJpeg.data(), notJpeg.size()));
    EXPECT_FALSE(sizeOf(notJpeg).known());

    const std::vector<uint8_t> whole = jpeg({header});
    EXPECT_EQ(sizeOf(whole), (PictureSize{640, 480}));
    // Cut anywhere before the width's last byte.
    for (size_t cut = 2; cut < 2 + 9; ++cut) {
        EXPECT_FALSE(sizeOf({whole.begin(), whole.begin() + cut}).known()) << cut;
    }
    // The scan begins before any frame header: the size cannot come after it.
    EXPECT_FALSE(sizeOf(jpeg({segment(0xda, {1, 1, 0, 0, 63, 0}), header})).known());
    // A segment length below its own two bytes would loop forever.
    EXPECT_FALSE(sizeOf(jpeg({{0xff, 0xe1, 0x00, 0x01}, header})).known());
    // Zero sizes are not pictures.
    EXPECT_FALSE(sizeOf(jpeg({frameHeader(0xc0, 0, 480)})).known());
}

TEST(JpegScan, SkipsSegmentsWhoseBodiesLookLikeMarkers) {
    // An application segment full of FF C0 bytes must be skipped by its length, not scanned.
    std::vector<uint8_t> body;
    for (int i = 0; i < 10; ++i) {
        body.insert(body.end(), {0xff, 0xc0, 0x00, 0x11, 0x08, 0x00, 0x10, 0x00, 0x10});
    }
    EXPECT_EQ(sizeOf(jpeg({segment(0xe1, body), frameHeader(0xc0, 352, 288)})),
              (PictureSize{352, 288}));
}
