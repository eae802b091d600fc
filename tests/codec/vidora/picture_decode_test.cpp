#include "DecoderHandle.h"
#include "MediaClip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <thread>

using clips::ClipRecipe;
using clips::ReferenceClip;

namespace {

int pictureBytes(int width, int height) {
    return width * height * 3 / 2;
}

ReferenceClip h264Clip(const char* profile, int width, int height, int frames = 10,
                       int keyInterval = 5) {
    return clips::makeReferenceClip({.codec = "h264",
                                     .profile = profile,
                                     .width = width,
                                     .height = height,
                                     .frames = frames,
                                     .keyInterval = keyInterval});
}

ReferenceClip mjpegClip(const char* pixelFormat, int width, int height, int frames) {
    return clips::makeReferenceClip({.codec = "mjpeg",
                                     .pixelFormat = pixelFormat,
                                     .width = width,
                                     .height = height,
                                     .frames = frames},
                                    clips::kFullRange420);
}

// Decodes every frame and checks each picture that comes out against ffmpeg's picture of the
// same index. Returns how many pictures came out.
size_t decodeAndCompare(DecoderHandle& decoder, const ReferenceClip& reference) {
    const int bytes = pictureBytes(reference.clip.width, reference.clip.height);
    size_t produced = 0;
    for (const auto& frame : reference.clip.frames) {
        const unsigned char* picture = decoder.picture(frame);
        if (picture == nullptr) {
            continue;
        }
        EXPECT_LT(produced, reference.pictures.size());
        if (produced >= reference.pictures.size()) {
            break;
        }
        const auto& expected = reference.pictures[produced];
        EXPECT_EQ(expected.size(), static_cast<size_t>(bytes));
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), picture))
            << "picture " << produced << " differs from ffmpeg's";
        ++produced;
    }
    return produced;
}

void expectOneAnnouncement(const DecoderHandle& decoder, int width, int height) {
    ASSERT_EQ(decoder.sizes.size(), 1u);
    const PictureInfo& info = decoder.sizes[0];
    EXPECT_EQ(info.width, width);
    EXPECT_EQ(info.height, height);
    EXPECT_EQ(info.size, pictureBytes(width, height));
    EXPECT_NE(info.picture, nullptr);
    EXPECT_TRUE(std::all_of(std::begin(info.reserved), std::end(info.reserved),
                            [](int32_t v) { return v == 0; }));
    EXPECT_EQ(decoder.zeroes, 0);
}

struct H264Case {
    const char* profile;
    int width;
    int height;
};

void PrintTo(const H264Case& c, std::ostream* out) {
    *out << c.profile << " " << c.width << "x" << c.height;
}

class H264AgainstFfmpeg : public testing::TestWithParam<H264Case> {};

} // namespace

// Every picture equals ffmpeg's own decode of the same clip: Baseline, Main and High (B-frames,
// CABAC, 8x8 transforms) at 720p and 1080p, the latter coded as 1088 rows and cropped.
TEST_P(H264AgainstFfmpeg, EveryPictureIsIdentical) {
    const H264Case& c = GetParam();
    const ReferenceClip reference = h264Clip(c.profile, c.width, c.height, 12, 6);
    ASSERT_TRUE(reference.error.empty()) << reference.error;
    DecoderHandle decoder(ZQ_DECODE_H264);
    const size_t produced = decodeAndCompare(decoder, reference);
    // B-frames hold back up to a few pictures at the end; none may be missing in between.
    EXPECT_GE(produced, reference.clip.frames.size() - 3);
    expectOneAnnouncement(decoder, c.width, c.height);
    EXPECT_EQ(decoder.sizes[0].picture, decoder.picture(reference.clip.frames[0]))
        << "the announced buffer is the one pictures come out in";
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, H264AgainstFfmpeg,
    testing::Values(H264Case{"baseline", 1280, 720}, H264Case{"main", 1280, 720},
                    H264Case{"high", 1280, 720}, H264Case{"baseline", 1920, 1080},
                    H264Case{"main", 1920, 1080}, H264Case{"high", 1920, 1080}),
    [](const auto& test) {
        return std::string(test.param.profile) + "_" + std::to_string(test.param.height);
    });

TEST(MjpegAgainstFfmpeg, EveryPictureIsIdentical) {
    for (const char* format : {"yuvj420p", "yuvj422p"}) {
        SCOPED_TRACE(format);
        const ReferenceClip reference = mjpegClip(format, 640, 480, 6);
        ASSERT_TRUE(reference.error.empty()) << reference.error;
        DecoderHandle decoder(ZQ_DECODE_MJPEG);
        EXPECT_EQ(decodeAndCompare(decoder, reference), reference.clip.frames.size());
        expectOneAnnouncement(decoder, 640, 480);
    }
}

TEST(H264Stream, NothingComesOutBeforeTheFirstParameterSet) {
    const ReferenceClip reference = h264Clip("baseline", 320, 240);
    ASSERT_TRUE(reference.error.empty()) << reference.error;
    DecoderHandle decoder(ZQ_DECODE_H264);
    for (size_t i = 1; i < 5; ++i) {
        EXPECT_EQ(decoder.picture(reference.clip.frames[i]), nullptr) << i;
    }
    EXPECT_TRUE(decoder.sizes.empty());
    const unsigned char* picture = decoder.picture(reference.clip.frames[5]);
    ASSERT_NE(picture, nullptr);
    EXPECT_TRUE(std::equal(reference.pictures[5].begin(), reference.pictures[5].end(), picture));
    expectOneAnnouncement(decoder, 320, 240);
}

TEST(H264Stream, ResetWaitsForTheNextParameterSetAndAnnouncesAgain) {
    const ReferenceClip reference = h264Clip("baseline", 320, 240);
    ASSERT_TRUE(reference.error.empty()) << reference.error;
    DecoderHandle decoder(ZQ_DECODE_H264);
    for (size_t i = 0; i < 3; ++i) {
        ASSERT_NE(decoder.picture(reference.clip.frames[i]), nullptr);
    }
    EXPECT_TRUE(ZQ_Reset_Decoder(decoder.get()));
    EXPECT_EQ(decoder.picture(reference.clip.frames[3]), nullptr);
    EXPECT_EQ(decoder.picture(reference.clip.frames[4]), nullptr);
    const unsigned char* picture = decoder.picture(reference.clip.frames[5]);
    ASSERT_NE(picture, nullptr);
    EXPECT_TRUE(std::equal(reference.pictures[5].begin(), reference.pictures[5].end(), picture));
    EXPECT_EQ(decoder.sizes.size(), 2u);
}

TEST(H264Stream, EachNewSizeIsAnnouncedOnce) {
    const ReferenceClip small = h264Clip("main", 320, 240, 4, 4);
    const ReferenceClip large = h264Clip("main", 640, 360, 4, 4);
    ASSERT_TRUE(small.error.empty() && large.error.empty());
    DecoderHandle decoder(ZQ_DECODE_H264);
    for (const ReferenceClip* clip : {&small, &large, &large, &small}) {
        for (const auto& frame : clip->clip.frames) {
            decoder.picture(frame);
        }
    }
    ASSERT_EQ(decoder.sizes.size(), 3u);
    EXPECT_EQ(decoder.sizes[0].height, 240);
    EXPECT_EQ(decoder.sizes[1].height, 360); // coded as 368 rows
    EXPECT_EQ(decoder.sizes[1].size, pictureBytes(640, 360));
    EXPECT_EQ(decoder.sizes[2].height, 240);
}

// Damage of every kind between good frames: the decoder never crashes and from the next key
// frame on every picture is exact again, without added delay (a camera's stream has no B-frames).
TEST(H264Stream, RecoversAtTheNextKeyFrameAfterDamage) {
    const ReferenceClip reference = h264Clip("baseline", 320, 240);
    ASSERT_TRUE(reference.error.empty()) << reference.error;
    const auto& frames = reference.clip.frames;
    std::mt19937 random(7);
    std::vector<std::vector<uint8_t>> damaged;
    for (const auto& frame : {frames[0], frames[1], frames[2]}) {
        damaged.emplace_back(frame.begin(), frame.begin() + static_cast<long>(frame.size() / 2));
        auto flipped = frame;
        for (int i = 0; i < 20; ++i) {
            flipped[random() % flipped.size()] ^= static_cast<uint8_t>(1u << (random() % 8));
        }
        damaged.push_back(flipped);
    }
    std::vector<uint8_t> noise(5000);
    for (auto& byte : noise) {
        byte = static_cast<uint8_t>(random());
    }
    damaged.push_back(noise);
    // A parameter set announcing an absurd size, then a slice.
    damaged.push_back({0, 0, 0, 1, 0x67, 66, 0, 31, 0x00, 0x00, 0x01, 0xff, 0, 0, 0, 1, 0x65});
    damaged.push_back({0, 0, 0, 1});

    DecoderHandle decoder(ZQ_DECODE_H264);
    decoder.picture(frames[0]);
    for (const auto& bad : damaged) {
        decoder.picture(bad); // may or may not give a picture; must not crash
    }
    for (size_t i = 5; i < frames.size(); ++i) {
        const unsigned char* picture = decoder.picture(frames[i]);
        ASSERT_NE(picture, nullptr) << i;
        EXPECT_TRUE(std::equal(reference.pictures[i].begin(), reference.pictures[i].end(), picture))
            << i;
    }
}

TEST(MjpegStream, AFrameThatIsNotAJpegChangesNothing) {
    const ReferenceClip reference = mjpegClip("yuvj420p", 320, 240, 3);
    ASSERT_TRUE(reference.error.empty()) << reference.error;
    DecoderHandle decoder(ZQ_DECODE_MJPEG);
    unsigned char* first = decoder.picture(reference.clip.frames[0]);
    ASSERT_NE(first, nullptr);
    auto h264 = std::vector<uint8_t>{0, 0, 0, 1, 0x67, 66, 0, 31, 0xe9, 0x01, 0x40, 0x7b};
    EXPECT_EQ(decoder.picture(h264), nullptr);
    auto cut = reference.clip.frames[1];
    cut.resize(cut.size() / 3);
    decoder.picture(cut); // a cut JPEG may give a partial picture, but no new size
    EXPECT_EQ(decoder.picture(reference.clip.frames[2]), first);
    EXPECT_TRUE(std::equal(reference.pictures[2].begin(), reference.pictures[2].end(), first));
    EXPECT_EQ(decoder.sizes.size(), 1u);
}

TEST(DecoderObject, RefusesBadArgumentsAndUnknownTypes) {
    const std::vector<uint8_t> jpegStart{0xff, 0xd8, 0xff, 0xd9};
    EXPECT_EQ(ZQ_GetYUV420Data(nullptr, "abc", 3), nullptr);
    EXPECT_FALSE(ZQ_Register_Decoder(nullptr, ZQ_DECODE_H264, nullptr, nullptr));
    EXPECT_FALSE(ZQ_Reset_Decoder(nullptr));
    ZQ_UnRegister_Decoder(nullptr, ZQ_DECODE_H264);
    ZQ_Release_Decoder(nullptr);

    DecoderHandle decoder;
    EXPECT_FALSE(ZQ_Register_Decoder(decoder.get(), 256, nullptr, nullptr));
    EXPECT_FALSE(ZQ_Register_Decoder(decoder.get(), 263, nullptr, nullptr));
    EXPECT_EQ(decoder.picture(jpegStart), nullptr) << "no video registered";
    ASSERT_TRUE(ZQ_Register_Decoder(decoder.get(), ZQ_DECODE_MJPEG, nullptr, nullptr));
    EXPECT_EQ(ZQ_GetYUV420Data(decoder.get(), nullptr, 10), nullptr);
    EXPECT_EQ(ZQ_GetYUV420Data(decoder.get(), "\xff\xd8", 0), nullptr);
    EXPECT_EQ(ZQ_GetYUV420Data(decoder.get(), "\xff\xd8", -5), nullptr);
}

TEST(DecoderObject, UnregisteringDropsTheVideoDecoderAndAnotherKindTakesOver) {
    const ReferenceClip h264 = h264Clip("baseline", 320, 240);
    const ReferenceClip mjpeg = mjpegClip("yuvj420p", 320, 240, 3);
    ASSERT_TRUE(h264.error.empty() && mjpeg.error.empty());
    DecoderHandle decoder(ZQ_DECODE_H264);
    ASSERT_NE(decoder.picture(h264.clip.frames[0]), nullptr);
    ZQ_UnRegister_Decoder(decoder.get(), ZQ_DECODE_H264);
    EXPECT_EQ(decoder.picture(h264.clip.frames[0]), nullptr);

    ASSERT_TRUE(
        ZQ_Register_Decoder(decoder.get(), ZQ_DECODE_MJPEG, &DecoderHandle::onSize, &decoder));
    EXPECT_EQ(decoder.picture(h264.clip.frames[5]), nullptr) << "H.264 is not a JPEG";
    const unsigned char* picture = decoder.picture(mjpeg.clip.frames[1]);
    ASSERT_NE(picture, nullptr);
    EXPECT_TRUE(std::equal(mjpeg.pictures[1].begin(), mjpeg.pictures[1].end(), picture));
    EXPECT_EQ(decoder.sizes.size(), 2u);
}

// Cameras decode on their own threads: objects in parallel must not disturb each other, and one
// object shared by two threads decodes serially.
TEST(DecoderObject, ParallelDecodersGiveTheSamePictures) {
    const ReferenceClip reference = h264Clip("baseline", 320, 240);
    ASSERT_TRUE(reference.error.empty()) << reference.error;
    std::vector<int> matches(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 3; ++round) {
                DecoderHandle decoder(ZQ_DECODE_H264);
                for (size_t i = 0; i < reference.clip.frames.size(); ++i) {
                    const unsigned char* picture = decoder.picture(reference.clip.frames[i]);
                    if (picture != nullptr && std::equal(reference.pictures[i].begin(),
                                                         reference.pictures[i].end(), picture)) {
                        ++matches[static_cast<size_t>(t)];
                    }
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (int count : matches) {
        EXPECT_EQ(count, static_cast<int>(3 * reference.clip.frames.size()));
    }

    DecoderHandle shared(ZQ_DECODE_H264);
    std::vector<std::thread> users;
    for (int t = 0; t < 2; ++t) {
        users.emplace_back([&] {
            for (const auto& frame : reference.clip.frames) {
                shared.picture(frame);
                ZQ_GetPCMData(shared.get(), "\x01\x02", 2, nullptr);
            }
        });
    }
    for (auto& thread : users) {
        thread.join();
    }
    EXPECT_EQ(shared.sizes.size(), 1u);
}
