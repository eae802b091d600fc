#include "device/h264/Client.h"
#include "device/h264/Packet.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace zq::h264;

namespace {

struct RecordingSink : MediaSink {
    struct Frame {
        int type;
        FRAME_HEAD head;
        std::vector<char> bytes;
    };
    std::vector<Frame> frames;
    std::vector<std::pair<int, int>> statuses;

    void onMediaStatus(int code, int& value, int) override { statuses.emplace_back(code, value); }
    void onMediaFrame(int type, FRAME_HEAD* frame) override {
        frames.push_back(
            {type, *frame, std::vector<char>(frame->data, frame->data + frame->length)});
    }
};

std::vector<uint8_t> videoPacket(int32_t counter, const std::vector<uint8_t>& data, bool key) {
    int length = kMediaHeaderSize + static_cast<int>(data.size());
    auto packet = makePacket(kVideoFrame, length);
    uint8_t* header = packet.data() + kHeaderSize;
    writeInt(header + 0, counter);
    writeInt(header + 4, 1234);
    writeInt(header + 8, static_cast<int32_t>(data.size()));
    writeInt(header + 16, key ? 1 : 0);
    writeInt(header + 28, 25);
    writeInt(header + 32, 2000000);
    std::memcpy(header + kMediaHeaderSize, data.data(), data.size());
    return packet;
}

std::vector<uint8_t> statusPacket(int32_t command, int32_t value) {
    int length = 4;
    auto packet = makePacket(command, length);
    writeInt(packet.data() + kHeaderSize, value);
    return packet;
}

class PacketParser : public ::testing::Test {
protected:
    void SetUp() override {
        std::memset(&param, 0, sizeof param);
        sink = std::make_shared<RecordingSink>();
        client = std::make_shared<CClient>(nullptr, &param, 0, sink, 3);
    }
    void feed(const std::vector<uint8_t>& bytes) {
        client->appendAndParse(bytes.data(), bytes.size());
    }

    DEVICE_PARAM param;
    std::shared_ptr<RecordingSink> sink;
    std::shared_ptr<CClient> client;
};

TEST_F(PacketParser, FrameHeadCarriesTheCameraWords) {
    const std::vector<uint8_t> data = {0, 0, 0, 1, 0x67, 0x42, 0x00, 0x1f};
    feed(videoPacket(77, data, true));
    ASSERT_EQ(sink->frames.size(), 1u);
    const auto& frame = sink->frames[0];
    EXPECT_EQ(frame.type, ZQ_MEDIA_VIDEO);
    EXPECT_EQ(frame.head.type, ZQ_MEDIA_VIDEO);
    EXPECT_EQ(frame.head.cameraWord0, 77);
    EXPECT_EQ(frame.head.cameraWord1, 1234);
    EXPECT_EQ(frame.head.frameRate, 25);
    EXPECT_EQ(frame.head.length, 8);
    EXPECT_EQ(frame.head.keyFrame, 1);
    EXPECT_EQ(frame.head.keyFrame2, 1);
    EXPECT_EQ(frame.head.cameraWord8, 2000000);
    EXPECT_EQ(frame.head.zero, 0);
    EXPECT_EQ(frame.bytes, std::vector<char>(data.begin(), data.end()));
}

TEST_F(PacketParser, PacketSplitAcrossReadsIsDeliveredOnceWhole) {
    std::vector<uint8_t> data(5000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7);
    const auto packet = videoPacket(1, data, false);
    for (size_t at = 0; at < packet.size(); at += 3)
        client->appendAndParse(packet.data() + at, std::min<size_t>(3, packet.size() - at));
    ASSERT_EQ(sink->frames.size(), 1u);
    EXPECT_EQ(sink->frames[0].bytes.size(), data.size());
    EXPECT_EQ(std::memcmp(sink->frames[0].bytes.data(), data.data(), data.size()), 0);
}

TEST_F(PacketParser, GarbageBeforeAndBetweenHeadersIsSkipped) {
    std::vector<uint8_t> stream = {'Z', 'Q', 'N', 'T', 1, 2, 3, 'x', 'Z', 'Q'};
    const auto first = videoPacket(1, {1, 2, 3}, true);
    stream.insert(stream.end(), first.begin(), first.end());
    stream.insert(stream.end(), {0xFF, 0xFE, 'Z', 'Q', 'N'});
    const auto second = videoPacket(2, {4, 5}, false);
    stream.insert(stream.end(), second.begin(), second.end());
    feed(stream);
    ASSERT_EQ(sink->frames.size(), 2u);
    EXPECT_EQ(sink->frames[0].head.cameraWord0, 1);
    EXPECT_EQ(sink->frames[1].head.cameraWord0, 2);
}

TEST_F(PacketParser, FrameWhoseLengthsDisagreeIsDropped) {
    auto bad = videoPacket(1, {1, 2, 3, 4}, true);
    writeInt(bad.data() + kHeaderSize + 8, 3); // header says 3 bytes, packet carries 4
    feed(bad);
    auto negative = videoPacket(2, {1, 2, 3, 4}, true);
    writeInt(negative.data() + kHeaderSize + 8, -32);
    feed(negative);
    feed(videoPacket(3, {9}, false));
    ASSERT_EQ(sink->frames.size(), 1u);
    EXPECT_EQ(sink->frames[0].head.cameraWord0, 3);
}

TEST_F(PacketParser, ImpossibleLengthDoesNotStallTheStream) {
    int length = 0;
    auto hostile = makePacket(kVideoFrame, length);
    writeInt(hostile.data() + 8, 0x7FFFFFF0); // would never arrive whole
    feed(hostile);
    int32_t negativeLength = -5;
    writeInt(hostile.data() + 8, negativeLength);
    feed(hostile);
    feed(videoPacket(9, {1}, true));
    ASSERT_EQ(sink->frames.size(), 1u);
    EXPECT_EQ(sink->frames[0].head.cameraWord0, 9);
}

TEST_F(PacketParser, EmptyPayloadPacketAtTheEndIsNotHeldBack) {
    feed(emptyRequest(kRecordEnd)); // exactly 12 bytes, nothing after it
    ASSERT_EQ(sink->statuses.size(), 1u);
    EXPECT_EQ(sink->statuses[0], std::make_pair(int{kStatusPlayback}, int{kPlaybackEnd}));
}

TEST_F(PacketParser, StatusPacketsMapToTheirStatuses) {
    feed(statusPacket(kMediaStatus, 3));
    feed(statusPacket(kTalkGranted, 0));
    feed(statusPacket(kTalkEnded, 0));
    int length = 2; // too short to hold a value: ignored
    feed(makePacket(kMediaStatus, length));
    const std::vector<std::pair<int, int>> expected = {
        {kStatusCamera16, 13}, {kStatusTalkGranted, 0}, {kStatusTalkEnded, 0}};
    EXPECT_EQ(sink->statuses, expected);
}

TEST_F(PacketParser, RecordInformationOfTheWrongSizeIsReported) {
    int length = 40;
    feed(makePacket(kRecordInfo, length));
    length = kRecordInfoSize;
    auto info = makePacket(kRecordInfo, length);
    writeInt(info.data() + kHeaderSize, 1);
    feed(info);
    const std::vector<std::pair<int, int>> expected = {{kStatusPlayback, kPlaybackBadInfo},
                                                       {kStatusPlayback, 28}};
    EXPECT_EQ(sink->statuses, expected);
}

TEST_F(PacketParser, OversizedStreamOfGarbageNeverOverrunsTheBuffer) {
    std::vector<uint8_t> noise(3 * zq::CDataBase::kReceiveCapacity);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
    feed(noise);
    feed(videoPacket(5, {1, 2}, true));
    ASSERT_FALSE(sink->frames.empty());
    EXPECT_EQ(sink->frames.back().head.cameraWord0, 5);
}

TEST(Requests, LayoutsMatchTheProtocol) {
    DEVICE_PARAM param{};
    param.id = 0x01020304;
    std::memcpy(param.user, "admin", 6);
    std::memset(param.password, 'p', sizeof param.password); // no NUL: must not overrun
    param.streamType = 1;

    const auto login = liveRequest(kMediaLogin, param);
    ASSERT_EQ(login.size(), 12u + 161u);
    EXPECT_EQ(readInt(login.data()), 0);
    EXPECT_EQ(std::memcmp(login.data() + 4, "ZQNT", 4), 0);
    EXPECT_EQ(readInt(login.data() + 8), 161);
    EXPECT_EQ(login[12], 1);
    EXPECT_STREQ(reinterpret_cast<const char*>(login.data() + 13), "admin");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(login.data() + 12 + 65)),
              std::string(20, 'p'));
    EXPECT_EQ(readInt(login.data() + 12 + 129), 0x01020304);

    const auto control = controlLogin(param);
    ASSERT_EQ(control.size(), 12u + 164u);
    EXPECT_EQ(readInt(control.data() + 12 + 128), 0x01020304);

    const auto playback = playbackLogin(param, 2, "rec.avi");
    ASSERT_EQ(playback.size(), 12u + 228u);
    EXPECT_EQ(readInt(playback.data() + 12), 2);
    EXPECT_STREQ(reinterpret_cast<const char*>(playback.data() + 16), "rec.avi");
    EXPECT_EQ(readInt(playback.data() + 12 + 196), 0x01020304);

    EXPECT_EQ(audioRequest(kOpenAudio, param).size(), 12u + 160u);
    EXPECT_EQ(keepAlive(param).size(), 16u);
    EXPECT_EQ(readInt(seekRequest(300000).data() + 12), 300000);
}

TEST(PlayFile, NamesARecordOnlyWithAPathAndAnExtension) {
    auto target = parsePlayFile("2|/records/cam1/20260101.avi");
    EXPECT_TRUE(target.valid);
    EXPECT_EQ(target.recordKind, 2);
    EXPECT_EQ(target.fileName, "20260101.avi");

    EXPECT_FALSE(parsePlayFile(nullptr).valid);
    EXPECT_FALSE(parsePlayFile("1|/records/cam1/noextension").valid);
    EXPECT_FALSE(parsePlayFile("1|/a/x.avi").valid); // slash before position 8
    EXPECT_FALSE(parsePlayFile("x|/records/cam1/a.avi").valid);
}

} // namespace
