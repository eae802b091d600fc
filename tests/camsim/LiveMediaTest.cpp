#include "CameraFixture.h"

#include "camsim/SyntheticPicture.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cmath>
#include <cstring>

namespace camtest {
namespace {

using LiveMediaTest = CameraTest;

bool startsWithSps(const std::vector<uint8_t>& data) {
    static const uint8_t kLong[] = {0, 0, 0, 1, 0x67};
    static const uint8_t kShort[] = {0, 0, 1, 0x67};
    return (data.size() > 5 && std::memcmp(data.data(), kLong, 5) == 0) ||
           (data.size() > 4 && std::memcmp(data.data(), kShort, 4) == 0);
}

std::vector<uint8_t> mediaData(const RxPacket& packet) {
    return std::vector<uint8_t>(packet.payload.begin() + 36, packet.payload.end());
}

// 480 samples of a 500 Hz tone at 8 kHz, the block the camera's test tone starts with.
std::vector<uint8_t> toneBlockPcm() {
    std::vector<uint8_t> pcm(960);
    for (size_t n = 0; n < 480; ++n) {
        const auto v = static_cast<uint16_t>(
            static_cast<int16_t>(std::lround(8000.0 * std::sin(2.0 * M_PI * 500.0 * n / 8000.0))));
        pcm[2 * n] = static_cast<uint8_t>(v);
        pcm[2 * n + 1] = static_cast<uint8_t>(v >> 8);
    }
    return pcm;
}

TEST_F(LiveMediaTest, MainStreamFramesCarryConsistentHeadersAndKeyFramesOpenWithSps) {
    RawClient client;
    loginLive(client, 0);
    for (int32_t expected = 0; expected < 30; ++expected) {
        const auto frame = client.readUntil(26, 2000);
        ASSERT_TRUE(frame) << "frame " << expected;
        ASSERT_GE(frame->payload.size(), 36u);
        EXPECT_EQ(frame->word(0), expected);      // frame counter
        EXPECT_EQ(frame->word(1), expected * 40); // time stamp in ms
        EXPECT_EQ(static_cast<size_t>(frame->word(2)) + 36, frame->payload.size());
        EXPECT_EQ(frame->word(3), 0);
        EXPECT_EQ(frame->word(4), expected % 25 == 0 ? 1 : 0); // key frame flag
        EXPECT_EQ(frame->word(7), 25);
        EXPECT_EQ(frame->word(8), 2000000);
        EXPECT_EQ(startsWithSps(mediaData(*frame)), expected % 25 == 0) << "frame " << expected;
    }
}

// Decodes the sub stream as received and reads the seven-segment counter out of each picture:
// it must show the frame's position in the loop, so a viewer can see frames are in order.
TEST_F(LiveMediaTest, SubStreamDecodesAndShowsItsFrameCounter) {
    RawClient client;
    loginLive(client, 1);
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    ASSERT_NE(codec, nullptr);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    ASSERT_EQ(avcodec_open2(context, codec, nullptr), 0);
    AVPacket* packet = av_packet_alloc();
    AVFrame* picture = av_frame_alloc();

    static const uint8_t kSegments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66,
                                          0x6D, 0x7D, 0x07, 0x7F, 0x6F};
    auto readCounter = [&](const AVFrame* frame) {
        const camsim::DigitLayout layout = camsim::digitLayout(frame->width, frame->height);
        auto lit = [&](int x, int y) { return frame->data[0][y * frame->linesize[0] + x] > 128; };
        int value = 0;
        for (int digit = 0; digit < layout.digits; ++digit) {
            const int x = layout.left + digit * layout.pitch;
            const int y = layout.top;
            const int w = layout.width, h = layout.height, s = layout.stroke;
            const bool segments[7] = {
                lit(x + w / 2, y + s / 2),         lit(x + w - s / 2, y + h / 4),
                lit(x + w - s / 2, y + 3 * h / 4), lit(x + w / 2, y + h - s / 2),
                lit(x + s / 2, y + 3 * h / 4),     lit(x + s / 2, y + h / 4),
                lit(x + w / 2, y + h / 2)};
            uint8_t bits = 0;
            for (int i = 0; i < 7; ++i) {
                bits |= segments[i] ? (1 << i) : 0;
            }
            const auto* match = std::find(kSegments, kSegments + 10, bits);
            if (match == kSegments + 10) {
                return -1;
            }
            value = value * 10 + static_cast<int>(match - kSegments);
        }
        return value;
    };

    int decoded = 0;
    for (int i = 0; i < 30; ++i) {
        const auto frame = client.readUntil(26, 2000);
        ASSERT_TRUE(frame);
        const auto data = mediaData(*frame);
        ASSERT_EQ(av_new_packet(packet, static_cast<int>(data.size())), 0);
        std::memcpy(packet->data, data.data(), data.size());
        ASSERT_EQ(avcodec_send_packet(context, packet), 0);
        av_packet_unref(packet);
        while (avcodec_receive_frame(context, picture) == 0) {
            EXPECT_EQ(picture->width, 640);
            EXPECT_EQ(picture->height, 360);
            // Without B-frames the pictures come out in the order they were sent.
            EXPECT_EQ(readCounter(picture), decoded % 50) << "picture " << decoded;
            ++decoded;
        }
    }
    EXPECT_GE(decoded, 28);
    av_frame_free(&picture);
    av_packet_free(&packet);
    avcodec_free_context(&context);
}

TEST_F(LiveMediaTest, ListeningSendsPcmOnMainAndG726OnSubStream) {
    RawClient main;
    loginLive(main, 0);
    EXPECT_FALSE(main.readUntil(27, 300)) << "no audio before listening";
    ASSERT_TRUE(main.sendPacket(2, std::vector<uint8_t>(161, 0)));
    const auto pcm = main.readUntil(27, 2000);
    ASSERT_TRUE(pcm);
    EXPECT_EQ(pcm->word(3), 960);
    EXPECT_EQ(pcm->payload.size(), 960u + 36);
    EXPECT_EQ(mediaData(*pcm), toneBlockPcm());
    ASSERT_TRUE(main.sendPacket(3, std::vector<uint8_t>(161, 0)));
    // Blocks already on the way may still arrive (the readUntil drops them); then none may.
    main.readUntil(27, 200);
    EXPECT_FALSE(main.readUntil(27, 300));

    RawClient sub;
    loginLive(sub, 1);
    ASSERT_TRUE(sub.sendPacket(2, std::vector<uint8_t>(161, 0)));
    const auto g726 = sub.readUntil(27, 2000);
    ASSERT_TRUE(g726);
    EXPECT_EQ(g726->word(3), 120);
    EXPECT_EQ(g726->payload.size(), 120u + 36);
    if (ffmpegProgram().empty()) {
        GTEST_SKIP() << "ffmpeg not installed: G.726 bit packing not compared";
    }
    // The reference encoder packs codes most significant first, with fresh state per block.
    const auto reference =
        runFfmpeg("-f s16le -ar 8000 -ac 1 -i {in} -c:a g726 -b:a 16k -f g726", toneBlockPcm());
    EXPECT_EQ(mediaData(*g726), reference);
}

TEST_F(LiveMediaTest, TalkIsGrantedDecodedAndBadLengthsAreRejected) {
    if (ffmpegProgram().empty()) {
        GTEST_SKIP() << "ffmpeg not installed";
    }
    const auto block =
        runFfmpeg("-f s16le -ar 8000 -ac 1 -i {in} -c:a g726 -b:a 16k -f g726", toneBlockPcm());
    ASSERT_EQ(block.size(), 120u);
    const auto expectedPcm =
        runFfmpeg("-f g726 -code_size 2 -ar 8000 -i {in} -f s16le -ac 1", block);
    ASSERT_EQ(expectedPcm.size(), 960u);

    RawClient client;
    loginLive(client, 1);
    ASSERT_TRUE(client.sendPacket(4, std::vector<uint8_t>(160, 0)));
    const auto granted = client.readUntil(20, 2000);
    ASSERT_TRUE(granted);
    EXPECT_EQ(granted->word(0), 0);

    std::vector<uint8_t> talk = wordsPayload({960});
    for (int i = 0; i < 8; ++i) {
        talk.insert(talk.end(), block.begin(), block.end());
    }
    ASSERT_TRUE(client.sendPacket(6, talk));
    auto tooLong = wordsPayload({961});
    tooLong.resize(4 + 961, 0);
    ASSERT_TRUE(client.sendPacket(6, tooLong));
    auto mismatched = wordsPayload({100});
    mismatched.resize(4 + 50, 0);
    ASSERT_TRUE(client.sendPacket(6, mismatched));
    ASSERT_TRUE(client.sendPacket(6, {1, 2})); // shorter than its length word

    ASSERT_TRUE(client.sendPacket(5, std::vector<uint8_t>(160, 0)));
    const auto ended = client.readUntil(21, 2000);
    ASSERT_TRUE(ended);
    EXPECT_EQ(ended->word(0), 0);

    const camsim::CameraStats stats = camera.stats();
    EXPECT_EQ(stats.talkPackets, 1u);
    EXPECT_EQ(stats.talkRejects, 3u);
    EXPECT_EQ(camera.talkBytes(), std::vector<uint8_t>(talk.begin() + 4, talk.end()));
    const std::vector<int16_t> heard = camera.talkPcm();
    ASSERT_EQ(heard.size(), 8u * 480);
    for (size_t blockIndex = 0; blockIndex < 8; ++blockIndex) {
        EXPECT_EQ(std::memcmp(heard.data() + blockIndex * 480, expectedPcm.data(), 960), 0)
            << "block " << blockIndex;
    }
    EXPECT_TRUE(client.readUntil(26, 1000)) << "the stream survives rejected talk packets";
}

TEST_F(LiveMediaTest, StallHoldsTheStreamAndDropClosesIt) {
    RawClient client;
    loginLive(client, 1);
    ASSERT_TRUE(client.readUntil(26, 2000));
    camera.setStalled(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    while (client.readPacket(50)) {
    }
    EXPECT_FALSE(client.readPacket(400)) << "stalled stream still sends";
    EXPECT_FALSE(client.waitClosed(1)) << "a stall keeps the connection";
    camera.setStalled(false);
    ASSERT_TRUE(client.readUntil(26, 1000));

    camera.stallFor(300);
    while (client.readPacket(50)) {
    }
    EXPECT_TRUE(client.readUntil(26, 1500)) << "a timed stall ends by itself";

    camera.dropConnections();
    EXPECT_TRUE(client.waitClosed(1000));
    RawClient again;
    loginLive(again, 1);
    EXPECT_TRUE(again.readUntil(26, 2000)) << "new connections are served after a drop";
}

TEST_F(LiveMediaTest, GarbageAndSingleByteWritesStillCarryWholePackets) {
    camera.setGarbage(true);
    RawClient client;
    loginLive(client, 1);
    int32_t previous = -1;
    for (int i = 0; i < 10; ++i) {
        const auto frame = client.readUntil(26, 2000);
        ASSERT_TRUE(frame);
        EXPECT_EQ(frame->word(0), previous + 1);
        previous = frame->word(0);
    }
    EXPECT_GE(client.skipped(), 10u * 7);
    camera.setGarbage(false);

    camera.setByteByByte(true);
    RawClient slow;
    loginLive(slow, 1);
    const auto frame = slow.readUntil(26, 5000);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->word(0), 0);
    EXPECT_EQ(static_cast<size_t>(frame->word(2)) + 36, frame->payload.size());
    EXPECT_GE(slow.reads(), 5u) << "the header should arrive in pieces";
}

} // namespace
} // namespace camtest
