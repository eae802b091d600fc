#include "video/BitReader.h"
#include "video/SpsReader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using vidora::PictureSize;

namespace {

// Writes the fields of a sequence parameter set, then wraps them as an Annex B NAL unit with
// emulation prevention, as an encoder does.
class SpsWriter {
public:
    void bits(uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            bits_.push_back(((value >> i) & 1u) != 0);
        }
    }
    void ue(uint32_t value) {
        const uint64_t coded = uint64_t{value} + 1;
        int length = 0;
        while ((coded >> length) > 1) {
            ++length;
        }
        bits(0, length);
        for (int i = length; i >= 0; --i) {
            bits_.push_back(((coded >> i) & 1u) != 0);
        }
    }
    void se(int32_t value) { ue(value > 0 ? 2 * value - 1 : -2 * value); }

    std::vector<uint8_t> nal(uint8_t header = 0x67) const {
        std::vector<uint8_t> payload;
        std::vector<bool> padded = bits_;
        padded.push_back(true); // stop bit
        while (padded.size() % 8 != 0) {
            padded.push_back(false);
        }
        for (size_t i = 0; i < padded.size(); i += 8) {
            uint8_t byte = 0;
            for (size_t j = 0; j < 8; ++j) {
                byte = static_cast<uint8_t>((byte << 1) | (padded[i + j] ? 1 : 0));
            }
            payload.push_back(byte);
        }
        std::vector<uint8_t> out{0, 0, 0, 1, header};
        int zeros = 0;
        for (const uint8_t byte : payload) {
            if (zeros >= 2 && byte <= 3) {
                out.push_back(3);
                zeros = 0;
            }
            zeros = byte == 0 ? zeros + 1 : 0;
            out.push_back(byte);
        }
        return out;
    }

private:
    std::vector<bool> bits_;
};

struct SpsFields {
    uint32_t profile = 66;
    uint32_t widthMbs = 40;
    uint32_t heightMapUnits = 30;
    uint32_t pocType = 0;
    bool scalingMatrix = false;
    uint32_t chromaFormat = 1;
};

std::vector<uint8_t> makeSps(const SpsFields& f) {
    SpsWriter w;
    w.bits(f.profile, 8);
    w.bits(0, 8);  // constraint flags
    w.bits(31, 8); // level
    w.ue(0);       // id
    if (f.profile == 100 || f.profile == 110 || f.profile == 122 || f.profile == 144) {
        w.ue(f.chromaFormat);
        if (f.chromaFormat == 3) {
            w.bits(0, 1);
        }
        w.ue(0);
        w.ue(0);
        w.bits(0, 1);
        w.bits(f.scalingMatrix ? 1 : 0, 1);
        if (f.scalingMatrix) {
            for (int i = 0; i < 8; ++i) {
                const bool present = i % 2 == 0;
                w.bits(present ? 1 : 0, 1);
                if (present) {
                    const int size = i < 6 ? 16 : 64;
                    for (int j = 0; j < size; ++j) {
                        w.se(j == 0 ? 8 : (j % 3) - 1); // a list that never reaches zero early
                    }
                }
            }
        }
    }
    w.ue(0); // log2 max frame num - 4
    w.ue(f.pocType);
    if (f.pocType == 0) {
        w.ue(2);
    } else if (f.pocType == 1) {
        w.bits(0, 1);
        w.se(-2);
        w.se(1);
        w.ue(3);
        w.se(4);
        w.se(-5);
        w.se(6);
    }
    w.ue(1);      // reference frames
    w.bits(0, 1); // gaps
    w.ue(f.widthMbs - 1);
    w.ue(f.heightMapUnits - 1);
    w.bits(1, 1); // frame mbs only
    w.bits(1, 1); // direct 8x8
    w.bits(0, 1); // cropping
    w.bits(0, 1); // vui
    return w.nal();
}

PictureSize sizeOf(const std::vector<uint8_t>& frame) {
    return vidora::readSequenceParameterSetSize(
        vidora::findSequenceParameterSet(frame.data(), frame.size()));
}

} // namespace

TEST(SpsReader, ReadsSizeAndFoldsTheCamerasCropping) {
    EXPECT_EQ(sizeOf(makeSps({.widthMbs = 80, .heightMapUnits = 45})), (PictureSize{1280, 720}));
    EXPECT_EQ(sizeOf(makeSps({.widthMbs = 120, .heightMapUnits = 68})), (PictureSize{1920, 1080}));
    EXPECT_EQ(sizeOf(makeSps({.widthMbs = 40, .heightMapUnits = 23})), (PictureSize{640, 360}));
    EXPECT_EQ(sizeOf(makeSps({.widthMbs = 20, .heightMapUnits = 12})), (PictureSize{320, 180}));
    EXPECT_EQ(sizeOf(makeSps({.profile = 77, .widthMbs = 22, .heightMapUnits = 18})),
              (PictureSize{352, 288}));
}

TEST(SpsReader, FollowsHighProfileFieldsAndOrderCountTypeOne) {
    for (const uint32_t profile : {100u, 110u, 122u, 144u}) {
        SCOPED_TRACE(profile);
        EXPECT_EQ(sizeOf(makeSps({.profile = profile, .widthMbs = 120, .heightMapUnits = 68})),
                  (PictureSize{1920, 1080}));
        EXPECT_EQ(
            sizeOf(makeSps(
                {.profile = profile, .widthMbs = 80, .heightMapUnits = 45, .scalingMatrix = true})),
            (PictureSize{1280, 720}));
    }
    EXPECT_EQ(
        sizeOf(makeSps({.profile = 100, .widthMbs = 80, .heightMapUnits = 45, .chromaFormat = 3})),
        (PictureSize{1280, 720}));
    EXPECT_EQ(sizeOf(makeSps({.widthMbs = 44, .heightMapUnits = 36, .pocType = 1})),
              (PictureSize{704, 576}));
}

TEST(SpsReader, FindsTheSetBehindDelimiterAndShortStartCodes) {
    const std::vector<uint8_t> sps = makeSps({.widthMbs = 80, .heightMapUnits = 45});
    std::vector<uint8_t> frame{0, 0, 0, 1, 0x09, 0xf0};    // access unit delimiter
    frame.insert(frame.end(), sps.begin() + 1, sps.end()); // 3-byte start code
    frame.insert(frame.end(), {0, 0, 0, 1, 0x68, 0xce, 0x3c, 0x80, 0, 0, 1, 0x65, 0x88, 0x84});
    EXPECT_EQ(sizeOf(frame), (PictureSize{1280, 720}));
    // The set ends at the next start code, not at the frame's end.
    const auto found = vidora::findSequenceParameterSet(frame.data(), frame.size());
    EXPECT_EQ(found.size(), sps.size() - 4);
}

TEST(SpsReader, IgnoresSetsAfterTheFirstSliceAndFramesWithoutStartCodes) {
    const std::vector<uint8_t> sps = makeSps({});
    std::vector<uint8_t> frame{0, 0, 0, 1, 0x41, 0x9a, 0x10, 0x22};
    frame.insert(frame.end(), sps.begin(), sps.end());
    EXPECT_TRUE(vidora::findSequenceParameterSet(frame.data(), frame.size()).empty());

    const std::vector<uint8_t> bare(sps.begin() + 4, sps.end());
    EXPECT_TRUE(vidora::findSequenceParameterSet(bare.data(), bare.size()).empty());
    EXPECT_TRUE(vidora::findSequenceParameterSet(nullptr, 100).empty());
}

TEST(SpsReader, EscapedBytesAreRestoredBeforeReading) {
    SpsWriter w;
    w.bits(0, 16);
    w.ue(63); // 00 00 02 on the wire: the encoder must insert 03
    w.ue(5);
    const std::vector<uint8_t> nal = w.nal();
    ASSERT_EQ(nal[7], 3) << "the writer escapes 00 00 0x";
    const std::vector<uint8_t> payload = vidora::unescapeNal(std::span(nal).subspan(5), 64);
    vidora::BitReader reader(payload);
    EXPECT_EQ(reader.bits(16), 0u);
    EXPECT_EQ(reader.ue(), 63u);
    EXPECT_EQ(reader.ue(), 5u);
    EXPECT_FALSE(reader.failed());
}

TEST(SpsReader, DamagedSetsGiveNoSize) {
    std::vector<uint8_t> sps = makeSps({.widthMbs = 80, .heightMapUnits = 45});
    for (size_t cut = 5; cut < sps.size() - 1; ++cut) {
        const std::vector<uint8_t> truncated(sps.begin(), sps.begin() + cut);
        const PictureSize size = sizeOf(truncated);
        EXPECT_TRUE((!size.known() || size == PictureSize{1280, 720})) << cut;
    }
    // 40 zero bits where an Exp-Golomb code should be.
    const std::vector<uint8_t> zeros{0, 0, 0, 1, 0x67, 66, 0, 31, 0, 0, 0, 0, 0, 0x80};
    EXPECT_FALSE(sizeOf(zeros).known());
    // Order count type 1 with a cycle longer than the standard allows.
    SpsWriter w;
    w.bits(66, 8);
    w.bits(0, 16);
    w.ue(0);
    w.ue(0);
    w.ue(1);
    w.bits(0, 1);
    w.se(0);
    w.se(0);
    w.ue(100000);
    EXPECT_FALSE(sizeOf(w.nal()).known());
    // A width far beyond any decoder.
    EXPECT_FALSE(sizeOf(makeSps({.widthMbs = 5000, .heightMapUnits = 45})).known());
}

TEST(BitReader, ExpGolombCodesAndOverrun) {
    SpsWriter w;
    for (uint32_t v : {0u, 1u, 2u, 254u, 65535u, 0xfffffffeu}) {
        w.ue(v);
    }
    w.se(-17);
    w.se(17);
    const std::vector<uint8_t> nal = w.nal();
    const std::vector<uint8_t> payload = vidora::unescapeNal(std::span(nal).subspan(5), 4096);
    vidora::BitReader reader(payload);
    for (uint32_t v : {0u, 1u, 2u, 254u, 65535u, 0xfffffffeu}) {
        EXPECT_EQ(reader.ue(), v);
    }
    EXPECT_EQ(reader.se(), -17);
    EXPECT_EQ(reader.se(), 17);
    EXPECT_FALSE(reader.failed());
    reader.bits(32);
    reader.bits(32);
    EXPECT_TRUE(reader.failed());
    EXPECT_EQ(reader.ue(), 0u);
}
