#include "core/DataBase.h"
#include "device/mjpeg/CommandTable.h"
#include "device/mjpeg/JsAnswer.h"
#include "device/mjpeg/Packet.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace zq::mjpeg;

namespace {

// Collects what the framing cuts out of a byte stream.
class Collector : public zq::CDataBase {
public:
    explicit Collector(Magic magic) : CDataBase(nullptr), m_magic(magic) {}
    void onPacket(const uint8_t* packet, size_t size) override {
        packets.emplace_back(packet, packet + size);
    }
    int headerSize() const override { return kHeaderSize; }
    bool isHeader(const uint8_t* bytes) const override {
        return zq::mjpeg::isHeader(m_magic, bytes);
    }
    long packetSize(const uint8_t* bytes) const override { return zq::mjpeg::packetSize(bytes); }
    std::vector<uint8_t> makePacket(int, int& length) const override {
        length = 0;
        return {};
    }
    std::vector<std::vector<uint8_t>> packets;

private:
    Magic m_magic;
};

std::vector<uint8_t> picturePacket(const std::vector<uint8_t>& jpeg, int32_t announced) {
    auto packet = makePacket(Magic::Video, kPicture, static_cast<int32_t>(13 + jpeg.size()));
    uint8_t* content = packet.data() + kHeaderSize;
    writeInt(content, 1234);
    content[8] = 7;
    writeInt(content + 9, announced);
    std::copy(jpeg.begin(), jpeg.end(), content + 13);
    return packet;
}

} // namespace

TEST(MjpegFraming, CutsPacketsOfItsOwnMagicOnlyAndSkipsGarbage) {
    Collector media(Magic::Video);
    std::vector<uint8_t> stream = {'x', 'M', 'O', '_'};
    const auto control = makePacket(Magic::Operation, 3, 6); // wrong magic for this connection
    stream.insert(stream.end(), control.begin(), control.end());
    const auto picture = picturePacket({0xFF, 0xD8, 0xFF, 0xD9}, 4);
    stream.insert(stream.end(), picture.begin(), picture.end());
    // Fed one byte at a time: a packet split anywhere must still come out whole.
    for (uint8_t byte : stream)
        media.appendAndParse(&byte, 1);
    ASSERT_EQ(media.packets.size(), 1u);
    EXPECT_EQ(media.packets[0], picture);
}

TEST(MjpegFraming, RefusesHeadersWhoseLengthsDisagreeOrOverflow) {
    auto packet = makePacket(Magic::Video, kPicture, 10);
    EXPECT_EQ(packetSize(packet.data()), kHeaderSize + 10);
    writeInt(packet.data() + 19, 11);
    EXPECT_EQ(packetSize(packet.data()), -1);
    writeInt(packet.data() + 15, -5);
    writeInt(packet.data() + 19, -5);
    EXPECT_EQ(packetSize(packet.data()), -1);
    writeInt(packet.data() + 15, kMaxContent + 1);
    writeInt(packet.data() + 19, kMaxContent + 1);
    EXPECT_EQ(packetSize(packet.data()), -1);
}

TEST(MjpegMedia, PictureLengthMustFitItsPacket) {
    const std::vector<uint8_t> jpeg = {0xFF, 0xD8, 1, 2, 0xFF, 0xD9};
    auto good = picturePacket(jpeg, 6);
    MediaFrame frame;
    ASSERT_TRUE(parsePicture(good.data() + kHeaderSize, good.size() - kHeaderSize, frame));
    FRAME_HEAD head;
    fillPictureHead(frame, head);
    EXPECT_EQ(head.length, 6);
    EXPECT_EQ(head.keyFrame, 1);
    EXPECT_EQ(head.keyFrame2, 7);
    EXPECT_EQ(head.frameRate, 23);
    EXPECT_EQ(head.cameraWord0, 1234);
    EXPECT_EQ(static_cast<uint8_t>(head.data[0]), 0xFF);

    auto longer = picturePacket(jpeg, 7);
    EXPECT_FALSE(parsePicture(longer.data() + kHeaderSize, longer.size() - kHeaderSize, frame));
    auto negative = picturePacket(jpeg, -1);
    EXPECT_FALSE(parsePicture(negative.data() + kHeaderSize, negative.size() - kHeaderSize, frame));
    EXPECT_FALSE(parsePicture(good.data() + kHeaderSize, 12, frame));
    EXPECT_FALSE(parseAudio(good.data() + kHeaderSize, 16, frame));
}

TEST(MjpegRequests, VerifyAndTalkLayouts) {
    const auto verify = verifyRequest("a-very-long-user-name", "pw");
    ASSERT_EQ(verify.size(), static_cast<size_t>(kHeaderSize + 26));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(verify.data() + kHeaderSize)),
              "a-very-long-"); // 12 characters and the NUL
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(verify.data() + kHeaderSize + 13)), "pw");

    std::vector<uint8_t> talk(200, 0xEE);
    std::vector<uint8_t> audio(kTalkBytes, 0x42);
    fillTalk(talk.data(), 1, 9, 3, 2, audio.data());
    EXPECT_EQ(packetSize(talk.data()), kHeaderSize + 177);
    EXPECT_EQ(opcodeOf(talk.data()), kTalkData);
    EXPECT_EQ(readInt(talk.data() + kHeaderSize + 4), 9);
    EXPECT_EQ(talk[kHeaderSize + 12], 2);
    EXPECT_EQ(readInt(talk.data() + kHeaderSize + 13), kTalkBytes);
    EXPECT_EQ(talk[kHeaderSize + 17 + 159], 0x42);
}

TEST(MjpegJsAnswer, ReadsWholeNamesAndNumbersOnly) {
    const std::string body = "var xflip=9;\r\nvar flip=2;\r\nvar alias=\"7\";\r\nvar mode=-3;\r\n"
                             "var big=12345678901;\r\nvar open=5\r\nvar brightness=;";
    EXPECT_EQ(jsValue(body, "flip"), 2);
    EXPECT_EQ(jsValue(body, "mode"), -3);
    EXPECT_EQ(jsValue(body, "alias"), std::nullopt); // quoted text
    EXPECT_EQ(jsValue(body, "big"), std::nullopt);   // more than 10 digits
    EXPECT_EQ(jsValue(body, "open"), std::nullopt);  // no ';'
    EXPECT_EQ(jsValue(body, "brightness"), std::nullopt);
    EXPECT_EQ(jsValue(body, "missing"), std::nullopt);
    EXPECT_EQ(jsValue("var flip=4294967295;", "flip"), INT_MAX);
    EXPECT_EQ(jsValue("flip", "flip"), std::nullopt);
    EXPECT_EQ(jsValue("flip=", "flip"), std::nullopt);
    EXPECT_EQ(jsValue(std::string_view("a=\0;b=1;", 8), "b"), 1);
}

TEST(MjpegJsAnswer, BothParameterFormsFillTheRecord) {
    const auto camera =
        cameraParams("var resolution=8;var brightness=96;var contrast=4;var mode=1;var flip=2;",
                     ParamForm::Camera);
    EXPECT_EQ(camera, (std::array<uint8_t, 8>{8, 96, 4, 1, 0, 0, 0, 1}));
    const auto generic = cameraParams(
        "var resolution=32;var brightness=6;var contrast=5;var powerfreq=2;var flip=3;var mode=9;",
        ParamForm::Generic);
    EXPECT_EQ(generic, (std::array<uint8_t, 8>{32, 96, 5, 2, 0, 0, 1, 1}));
    // Out-of-range values are clamped, not wrapped.
    const auto wild = cameraParams("var resolution=-4;var brightness=999;", ParamForm::Generic);
    EXPECT_EQ(wild[0], 0);
    EXPECT_EQ(wild[1], 255);
    EXPECT_EQ(cameraParams("<html>garbage", ParamForm::Camera), (std::array<uint8_t, 8>{}));
}

TEST(MjpegCommands, PtzMovesAndTheirDecoderForms) {
    using Kind = PtzAction::Kind;
    EXPECT_EQ(ptzActions(0, 0), (std::vector<PtzAction>{{Kind::Decoder, 0}}));
    EXPECT_EQ(ptzActions(3, 0), (std::vector<PtzAction>{{Kind::Decoder, 4}}));
    EXPECT_EQ(ptzActions(6, 0), (std::vector<PtzAction>{{Kind::Decoder, 93}}));
    EXPECT_EQ(ptzActions(3, 18), (std::vector<PtzAction>{{Kind::Queue, 63, 5}}));
    EXPECT_EQ(ptzActions(7, 18), (std::vector<PtzAction>{{Kind::Queue, 63, 10}}));
    EXPECT_EQ(ptzActions(19, 0), (std::vector<PtzAction>{{Kind::Decoder, 28}}));
    EXPECT_EQ(ptzActions(20, 18), (std::vector<PtzAction>{{Kind::Queue, 63, 13}}));
    EXPECT_EQ(ptzActions(53, 31), (std::vector<PtzAction>{{Kind::Decoder, 31}}));
    EXPECT_EQ(ptzActions(62, 0),
              (std::vector<PtzAction>{{Kind::Queue, 63, 0}, {Kind::Queue, 63, 3}}));
    EXPECT_EQ(ptzActions(27, 0), (std::vector<PtzAction>{{Kind::Queue, 27}}));
    EXPECT_TRUE(ptzActions(52, 300).empty());
    EXPECT_TRUE(ptzActions(8, 0).empty());
    EXPECT_TRUE(ptzActions(-1, 0).empty());
}
