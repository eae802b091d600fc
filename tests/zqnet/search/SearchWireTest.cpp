// Reassembly and parsing of search replies on recorded datagrams, and the simulator's replies
// read back through the same code the client uses.

#include "search/SearchWire.h"
#include "camsim/SearchResponder.h"
#include "search/SearchAnswer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using namespace zq::search;

namespace {

using Bytes = std::vector<uint8_t>;

struct Delivery {
    ReplyKind kind;
    Bytes data;
};

// A "MO_I" packet with the given opcode and content, header written out by hand.
Bytes moiPacket(uint16_t opcode, const Bytes& content) {
    Bytes packet = {'M', 'O', '_', 'I', static_cast<uint8_t>(opcode), 0};
    packet.resize(15, 0);
    const uint32_t n = static_cast<uint32_t>(content.size());
    for (int twice = 0; twice < 2; ++twice)
        for (int i = 0; i < 4; ++i)
            packet.push_back(static_cast<uint8_t>(n >> (8 * i)));
    packet.insert(packet.end(), content.begin(), content.end());
    return packet;
}

Bytes recordPacket(const std::vector<std::string>& strings, uint8_t numberFill) {
    Bytes packet = {0xB4, 0x9A, 0x70, 0x4D, 0x77};
    for (const auto& text : strings) {
        packet.push_back(static_cast<uint8_t>(text.size()));
        packet.insert(packet.end(), text.begin(), text.end());
    }
    for (int i = 0; i < 32; ++i)
        packet.push_back(static_cast<uint8_t>(numberFill + i));
    return packet;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

class Assembler : public ::testing::Test {
protected:
    // Appends each datagram and drains after each, as the search thread does.
    bool feed(const std::vector<Bytes>& datagrams) {
        for (const auto& datagram : datagrams) {
            if (!assembler.append(datagram.data(), datagram.size()))
                return false;
            assembler.drain([&](ReplyKind kind, const uint8_t* data, size_t size) {
                got.push_back({kind, Bytes(data, data + size)});
                return true;
            });
        }
        return true;
    }

    ReplyAssembler assembler;
    std::vector<Delivery> got;
};

TEST(SearchRequest, IsTheTwentySevenBytesCamerasListenFor) {
    const Bytes expected = {'M', 'O', '_', 'I', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                            0,   4,   0,   0,   0, 4, 0, 0, 0, 0, 0, 0, 1};
    const auto request = searchRequest();
    EXPECT_EQ(Bytes(request.begin(), request.end()), expected);
}

TEST_F(Assembler, TwoRepliesInOneDatagramGiveTwoDeliveries) {
    const Bytes first(70, 0x11), second(80, 0x22);
    ASSERT_TRUE(feed({concat({moiPacket(1, first), moiPacket(1, second)})}));
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].kind, kReplyContent);
    EXPECT_EQ(got[0].data, first);
    EXPECT_EQ(got[1].data, second);
    EXPECT_EQ(assembler.buffered(), 0u);
}

TEST_F(Assembler, RecordSplitOverThreeDatagramsIsDeliveredOnceAfterTheLast) {
    const Bytes packet = recordPacket({"00CA5E5E0001", "10.0.0.1", "255.255.255.0", "door"}, 40);
    // Cuts inside the magic, inside a length byte's string and inside the numbers.
    ASSERT_TRUE(feed({Bytes(packet.begin(), packet.begin() + 2)}));
    ASSERT_TRUE(feed({Bytes(packet.begin() + 2, packet.begin() + 20)}));
    EXPECT_TRUE(got.empty());
    ASSERT_TRUE(feed({Bytes(packet.begin() + 20, packet.end())}));
    ASSERT_EQ(got.size(), 1u);
    const Bytes& record = got[0].data;
    ASSERT_EQ(got[0].kind, kReplyRecord);
    ASSERT_EQ(record.size(), 1060u);
    EXPECT_EQ(Bytes(record.begin(), record.begin() + 4), Bytes({0xB4, 0x9A, 0x70, 0x4D}));
    EXPECT_STREQ(reinterpret_cast<const char*>(&record[4]), "00CA5E5E0001");
    EXPECT_STREQ(reinterpret_cast<const char*>(&record[260]), "10.0.0.1");
    EXPECT_STREQ(reinterpret_cast<const char*>(&record[516]), "255.255.255.0");
    EXPECT_STREQ(reinterpret_cast<const char*>(&record[772]), "door");
    // Padding stays zero up to the next string.
    EXPECT_EQ(record[4 + 12], 0);
    EXPECT_EQ(record[771], 0);
    for (size_t i = 0; i < 32; ++i)
        EXPECT_EQ(record[1028 + i], 40 + i) << "number byte " << i;
}

TEST_F(Assembler, OwnRequestAndNoiseAreSkippedWithoutLosingTheReplyAfterThem) {
    const auto request = searchRequest();
    const Bytes content(66, 0x5A);
    ASSERT_TRUE(
        feed({concat({Bytes{'x', 'M', 'O', 0xB4, 0x9A}, Bytes(request.begin(), request.end()),
                      Bytes{'M', 'O', '_'}, moiPacket(1, content)})}));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].data, content);
}

TEST_F(Assembler, ImpossibleLengthsAreNoiseNotAWait) {
    // A negative content length, one that could never fit, and a record whose strings add up past
    // the buffer: none may stall the stream; the real reply behind them still arrives.
    Bytes negative = moiPacket(1, {});
    negative[15] = negative[16] = negative[17] = negative[18] = 0xFF;
    Bytes huge = moiPacket(1, {});
    huge[16] = 0x04; // 1024 bytes
    Bytes longRecord = {0xB4, 0x9A, 0x70, 0x4D, 0, 255};
    longRecord.resize(6 + 255, 'a');
    for (int i = 0; i < 3; ++i) {
        longRecord.push_back(255);
        longRecord.resize(longRecord.size() + 255, 'b');
    }
    const Bytes content(70, 0x33);
    ASSERT_TRUE(feed({negative, huge}));
    // Its last length byte arrives while the fill is still far from full.
    for (size_t at = 0; at < longRecord.size(); at += 150)
        ASSERT_TRUE(feed({Bytes(longRecord.begin() + static_cast<std::ptrdiff_t>(at),
                                longRecord.begin() + static_cast<std::ptrdiff_t>(
                                                         std::min(at + 150, longRecord.size())))}))
            << "at " << at;
    ASSERT_TRUE(feed({moiPacket(1, content)}));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].data, content);
}

TEST_F(Assembler, FillMayReachNineHundredNinetyNineAndNoFurther) {
    const Bytes content(976, 7);
    const Bytes packet = moiPacket(1, content); // 999 bytes
    ASSERT_TRUE(feed({Bytes(packet.begin(), packet.begin() + 500)}));
    ASSERT_TRUE(feed({Bytes(packet.begin() + 500, packet.end() - 1)}));
    EXPECT_EQ(assembler.buffered(), 998u);
    const uint8_t two[2] = {packet.back(), 0};
    EXPECT_FALSE(assembler.append(two, 2));
    EXPECT_EQ(assembler.buffered(), 998u);
    EXPECT_TRUE(got.empty());
    ASSERT_TRUE(feed({Bytes(1, packet.back())}));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].data, content);
}

TEST_F(Assembler, StopKeepsTheRestForLater) {
    const Bytes both = concat({moiPacket(1, Bytes(70, 1)), moiPacket(1, Bytes(71, 2))});
    ASSERT_TRUE(assembler.append(both.data(), both.size()));
    int calls = 0;
    EXPECT_FALSE(assembler.drain([&](ReplyKind, const uint8_t*, size_t) { return ++calls > 1; }));
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(assembler.drain([&](ReplyKind, const uint8_t*, size_t size) {
        EXPECT_EQ(size, 71u);
        return ++calls > 0;
    }));
    EXPECT_EQ(calls, 2);
}

// Content laid out by hand at the offsets the client reads.
Bytes content(uint8_t flag, size_t size) {
    Bytes c(size, 0);
    std::memcpy(&c[0], "00CA5E5E0042", 12);
    std::memcpy(&c[13], "porch", 5);
    const uint8_t address[] = {192, 168, 7, 21};
    std::memcpy(&c[34], address, 4);
    c[50] = flag;
    c[52] = 0x60; // 0x2260 = 8800 as the camera stores it
    c[53] = 0x22;
    const uint8_t mask[] = {255, 255, 255, 0}, gateway[] = {192, 168, 7, 1};
    std::memcpy(&c[54], mask, 4);
    std::memcpy(&c[58], gateway, 4);
    c[62] = 0x22; // 8880 in network order
    c[63] = 0xB0;
    if (size >= 65 + 18)
        std::memcpy(&c[65], "VSTR-123456-ABCDE", 18);
    return c;
}

TEST(ParseContent, ReadsEveryFieldAtItsOffset) {
    const Bytes c = content(1, 72);
    const auto answer = parseContent(c.data(), c.size());
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->mac, "00CA5E5E0042");
    EXPECT_EQ(answer->name, "porch");
    EXPECT_EQ(answer->address, "192.168.7.21");
    EXPECT_EQ(answer->extra1, "255.255.255.0");
    EXPECT_EQ(answer->extra2, "192.168.7.1");
    EXPECT_EQ(answer->mediaPort, 8800);
    EXPECT_EQ(answer->webPort, 8880);
    EXPECT_EQ(answer->type, kTypeH264);
    EXPECT_EQ(answer->uid, "");
}

TEST(ParseContent, FlagDecidesTypePortsAndIdentifier) {
    const Bytes mjpeg = content(0, 72);
    const auto a = parseContent(mjpeg.data(), mjpeg.size());
    ASSERT_TRUE(a);
    EXPECT_EQ(a->type, kTypeMjpeg);
    EXPECT_EQ(a->mediaPort, 8880) << "an MJPEG camera serves media on its web port";

    const Bytes withUid = content(2, 98);
    const auto b = parseContent(withUid.data(), withUid.size());
    ASSERT_TRUE(b);
    EXPECT_EQ(b->uid, "VSTR-123456-ABCDE");

    // At 97 bytes the identifier flag does not count yet.
    const Bytes shortUid = content(2, 97);
    EXPECT_EQ(parseContent(shortUid.data(), shortUid.size())->uid, "");

    const Bytes tiny = content(1, 64);
    EXPECT_FALSE(parseContent(tiny.data(), tiny.size()));
}

TEST(ParseContent, UnterminatedTextStaysInsideItsField) {
    Bytes c = content(2, 98);
    std::memset(&c[0], 'M', 13);
    std::memset(&c[13], 'N', 21);
    std::memset(&c[65], 'U', 98 - 65);
    const auto answer = parseContent(c.data(), c.size());
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->mac, std::string(13, 'M'));
    EXPECT_EQ(answer->name, std::string(21, 'N'));
    EXPECT_EQ(answer->uid, std::string(33, 'U'));
}

TEST(ParseRecord, RefusesWrongSizeOrMagic) {
    Bytes record(1060, 0);
    EXPECT_FALSE(parseRecord(record.data(), record.size()));
    record[0] = 0xB4, record[1] = 0x9A, record[2] = 0x70, record[3] = 0x4D;
    EXPECT_TRUE(parseRecord(record.data(), record.size()));
    EXPECT_FALSE(parseRecord(record.data(), 1059));
}

// The simulator's replies, cut and batched as it sends them, read back by the client's code.
class SimulatorReplies
    : public ::testing::TestWithParam<std::tuple<camsim::SearchReplyFormat, size_t, bool>> {};

TEST_P(SimulatorReplies, ReassembleToTheCamerasTheyDescribe) {
    const auto [format, parts, batch] = GetParam();
    camsim::SearchResponderConfig config;
    config.format = format;
    config.parts = parts;
    config.batch = batch;
    config.cameras.clear();
    for (int i = 0; i < 3; ++i) {
        camsim::SearchCamera camera;
        camera.mac = "00CA5E5E000" + std::to_string(i);
        camera.name = "cam-" + std::to_string(i);
        camera.address = "10.1.2." + std::to_string(30 + i);
        camera.mediaPort = static_cast<uint16_t>(9000 + i);
        camera.webPort = static_cast<uint16_t>(9100 + i);
        camera.flag = format == camsim::SearchReplyFormat::Moi ? static_cast<uint8_t>(i) : 1;
        camera.uid = "VSTR-000000-SIM" + std::to_string(i);
        config.cameras.push_back(camera);
    }
    const auto datagrams = camsim::SearchResponder::replyDatagrams(config);
    for (const auto& datagram : datagrams)
        EXPECT_LE(datagram.size(), kMaxDatagram);
    if (batch && parts == 1) {
        EXPECT_LT(datagrams.size(), config.cameras.size()) << "replies share datagrams";
    }
    if (!batch) {
        EXPECT_EQ(datagrams.size(), config.cameras.size() * parts);
    }

    ReplyAssembler assembler;
    std::vector<SearchAnswer> answers;
    for (const auto& datagram : datagrams) {
        ASSERT_TRUE(assembler.append(datagram.data(), datagram.size()));
        assembler.drain([&](ReplyKind kind, const uint8_t* data, size_t size) {
            const auto answer =
                kind == kReplyContent ? parseContent(data, size) : parseRecord(data, size);
            EXPECT_TRUE(answer);
            if (answer)
                answers.push_back(*answer);
            return true;
        });
    }
    ASSERT_EQ(answers.size(), config.cameras.size());
    for (size_t i = 0; i < answers.size(); ++i) {
        const auto& camera = config.cameras[i];
        const bool record = format == camsim::SearchReplyFormat::Record;
        EXPECT_EQ(answers[i].mac, camera.mac);
        EXPECT_EQ(answers[i].name, camera.name);
        EXPECT_EQ(answers[i].address, camera.address);
        EXPECT_EQ(answers[i].webPort, camera.webPort);
        EXPECT_EQ(answers[i].mediaPort,
                  record || camera.flag == 0 ? camera.webPort : camera.mediaPort);
        EXPECT_EQ(answers[i].uid, !record && camera.flag == 2 ? camera.uid : "");
        EXPECT_EQ(answers[i].type, record ? kTypeRecordCamera : kTypeMjpeg + (camera.flag != 0));
        EXPECT_EQ(answers[i].extra1, camera.extra1);
        EXPECT_EQ(answers[i].extra2, camera.extra2);
    }
}

INSTANTIATE_TEST_SUITE_P(CutAndBatched, SimulatorReplies,
                         ::testing::Combine(::testing::Values(camsim::SearchReplyFormat::Moi,
                                                              camsim::SearchReplyFormat::Record),
                                            ::testing::Values(size_t{1}, size_t{3}),
                                            ::testing::Bool()));

} // namespace
