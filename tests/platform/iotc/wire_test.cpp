#include "Socket.h"
#include "iotc/Wire.h"
#include "iotc/iotc.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace iotc::wire {
namespace {

std::vector<uint8_t> concat(const std::vector<std::vector<uint8_t>>& frames) {
    std::vector<uint8_t> stream;
    for (const auto& frame : frames)
        stream.insert(stream.end(), frame.begin(), frame.end());
    return stream;
}

std::vector<Frame> parseAll(FrameParser& parser, FrameParser::Status& last) {
    std::vector<Frame> frames;
    Frame frame;
    while ((last = parser.next(frame)) == FrameParser::Status::Frame)
        frames.push_back(frame);
    return frames;
}

FrameParser::Status statusOf(const std::vector<uint8_t>& bytes) {
    FrameParser parser;
    EXPECT_TRUE(parser.append(bytes.data(), bytes.size()));
    FrameParser::Status last;
    parseAll(parser, last);
    return last;
}

std::vector<uint8_t> header(uint8_t type, uint8_t channel, uint32_t length) {
    return {kMagic0,
            kMagic1,
            type,
            channel,
            static_cast<uint8_t>(length),
            static_cast<uint8_t>(length >> 8),
            static_cast<uint8_t>(length >> 16),
            static_cast<uint8_t>(length >> 24)};
}

TEST(FrameParser, SameFramesWhateverTheStreamIsCutInto) {
    const std::vector<uint8_t> data(kMaxPayload, 0x5A);
    const auto stream =
        concat({encodeUidFrame(FrameType::Register, "cam-01"),
                encodeTokenFrame(FrameType::Incoming, 0x0102030405060708ull),
                encodeFrame(FrameType::ChannelWant, 31),
                encodeFrame(FrameType::Data, 7, data.data(), data.size()),
                encodeFrame(FrameType::Data, 0, "x", 1), encodeFrame(FrameType::Bye)});
    for (const size_t piece : {size_t{1}, size_t{3}, size_t{7}, size_t{4096}, stream.size()}) {
        FrameParser parser;
        std::vector<Frame> frames;
        FrameParser::Status last = FrameParser::Status::NeedMore;
        for (size_t at = 0; at < stream.size(); at += piece) {
            const size_t n = std::min(piece, stream.size() - at);
            ASSERT_TRUE(parser.append(stream.data() + at, n));
            for (auto& frame : parseAll(parser, last))
                frames.push_back(std::move(frame));
            ASSERT_EQ(last, FrameParser::Status::NeedMore) << "piece " << piece;
        }
        ASSERT_EQ(frames.size(), 6u) << "piece " << piece;
        EXPECT_EQ(uidOf(frames[0]), "cam-01");
        EXPECT_EQ(tokenOf(frames[1]), 0x0102030405060708ull);
        EXPECT_EQ(frames[2].type, FrameType::ChannelWant);
        EXPECT_EQ(frames[2].channel, 31);
        EXPECT_EQ(frames[3].payload, data);
        EXPECT_EQ(frames[3].channel, 7);
        EXPECT_EQ(frames[4].payload, std::vector<uint8_t>{'x'});
        EXPECT_EQ(frames[5].type, FrameType::Bye);
        EXPECT_EQ(parser.consumed(), stream.size());
        EXPECT_EQ(parser.buffered(), 0u);
    }
}

TEST(FrameParser, RejectsBadHeadersBeforeTheirPayloadArrives) {
    // A wrong first byte is enough; so is a length no frame may have.
    EXPECT_EQ(statusOf({'G'}), FrameParser::Status::Malformed);
    EXPECT_EQ(statusOf({kMagic0, 'E'}), FrameParser::Status::Malformed);
    EXPECT_EQ(statusOf(header(0x23, 0, 0xFFFFFFFFu)), FrameParser::Status::Malformed);
    EXPECT_EQ(statusOf(header(0x23, 0, kMaxPayload + 1)), FrameParser::Status::Malformed);
    EXPECT_EQ(statusOf(header(0x7F, 0, 0)), FrameParser::Status::Malformed);
    EXPECT_EQ(statusOf(header(0x23, kIotcMaxChannels, 1)), FrameParser::Status::Malformed);
    EXPECT_EQ(statusOf(header(0x23, 0, 0)), FrameParser::Status::Malformed); // empty DATA
    EXPECT_EQ(statusOf(header(0x20, 1, 0)), FrameParser::Status::Malformed); // PING on ch 1
    EXPECT_EQ(statusOf(header(0x20, 0, 4)), FrameParser::Status::Malformed); // PING payload
    EXPECT_EQ(statusOf(header(0x03, 0, 7)), FrameParser::Status::Malformed); // short token
    EXPECT_EQ(statusOf(header(0x01, 0, kIotcMaxUidLength + 1)), FrameParser::Status::Malformed);
    // UIDs: printable ASCII without spaces, 1-64 bytes.
    for (const std::string& uid : {std::string("two words"), std::string("a\0b", 3),
                                   std::string("del\x7f"), std::string("high\x80")})
        EXPECT_EQ(statusOf(encodeUidFrame(FrameType::Connect, uid)),
                  FrameParser::Status::Malformed);
    EXPECT_EQ(statusOf(encodeUidFrame(FrameType::Register, std::string(64, '~'))),
              FrameParser::Status::NeedMore);
    // A complete, valid header with its payload still on the way is not an error.
    EXPECT_EQ(statusOf(header(0x23, 3, kMaxPayload)), FrameParser::Status::NeedMore);
}

TEST(FrameParser, HandsOverExactlyTheBytesAfterTheLastFrame) {
    auto stream = encodeFrame(FrameType::Connected);
    const std::vector<uint8_t> rest = {kMagic0, kMagic1, 0x22, 4};
    stream.insert(stream.end(), rest.begin(), rest.end());
    FrameParser parser;
    ASSERT_TRUE(parser.append(stream.data(), stream.size()));
    Frame frame;
    ASSERT_EQ(parser.next(frame), FrameParser::Status::Frame);
    EXPECT_EQ(frame.type, FrameType::Connected);
    EXPECT_EQ(parser.next(frame), FrameParser::Status::NeedMore);
    EXPECT_EQ(parser.takeBuffered(), rest);
    EXPECT_EQ(parser.buffered(), 0u);
}

TEST(RelayAddress, ParsesHostAndPortAndRefusesTheUnusable) {
    EXPECT_EQ(net::parseEndpoint("relay.example", kIotcDefaultRelayPort)->port,
              kIotcDefaultRelayPort);
    const auto withPort = net::parseEndpoint("10.0.0.2:4000", kIotcDefaultRelayPort);
    ASSERT_TRUE(withPort);
    EXPECT_EQ(withPort->host, "10.0.0.2");
    EXPECT_EQ(withPort->port, 4000);
    for (const char* bad : {"", ":4000", "host:", "host:0", "host:65536", "host:12x"})
        EXPECT_FALSE(net::parseEndpoint(bad, kIotcDefaultRelayPort)) << bad;
}

} // namespace
} // namespace iotc::wire
