#include "camsim/CommandLine.h"
#include "camsim/Console.h"
#include "camsim/H264Camera.h"
#include "camsim/PacketReader.h"
#include "camsim/PacketWriter.h"
#include "camsim/UrlQuery.h"

#include "CameraFixture.h"

#include <gtest/gtest.h>

namespace camtest {
namespace {

using camsim::PacketReader;
using camsim::PacketWriter;

std::vector<uint8_t> packet(int32_t command, std::vector<uint8_t> payload) {
    PacketWriter writer(command, payload.size());
    std::copy(payload.begin(), payload.end(), writer.payload());
    return writer.take();
}

// The command line of a simulator: values reach their targets only when they pass their checks,
// and every refusal ends the program with 2 before anything starts.
TEST(CommandLineTest, ValuesAreCheckedAndRefusalsStopTheProgram) {
    const auto run = [](std::vector<std::string> words, uint16_t& port, std::string& user,
                        bool& quiet) {
        std::vector<char*> argv;
        for (std::string& word : words)
            argv.push_back(word.data());
        return camsim::CommandLine("test", "usage\n")
            .flag("--quiet", quiet)
            .number("--port", port)
            .text("--user", user)
            .parse(static_cast<int>(argv.size()), argv.data());
    };
    uint16_t port = 1;
    std::string user;
    bool quiet = false;
    EXPECT_EQ(run({"--port", "65535", "--user", "x y", "--quiet"}, port, user, quiet),
              std::nullopt);
    EXPECT_EQ(port, 65535);
    EXPECT_EQ(user, "x y");
    EXPECT_TRUE(quiet);
    for (const char* bad : {"65536", "-1", "12ab", "", " 8"}) {
        port = 7;
        EXPECT_EQ(run({"--port", bad}, port, user, quiet), 2) << bad;
        EXPECT_EQ(port, 7) << bad;
    }
    EXPECT_EQ(run({"--user"}, port, user, quiet), 2);           // value missing
    EXPECT_EQ(run({"--other"}, port, user, quiet), 2);          // unknown
    EXPECT_EQ(run({"--port", "80", "-h"}, port, user, quiet), 0); // usage asked for
    EXPECT_EQ(port, 80);
}

TEST(PacketReaderTest, SplitDeliveryGarbageAndBadLengths) {
    PacketReader reader(16);
    const std::vector<uint8_t> first = packet(15, {1, 2, 3, 4});
    // Garbage that contains the start of the magic, then a packet fed one byte at a time.
    const std::vector<uint8_t> junk = {'Z', 'Q', 'N', 'T', 'Z', 'Q', 'N'};
    reader.feed(junk.data(), junk.size());
    for (const uint8_t byte : first) {
        EXPECT_FALSE(reader.next().has_value());
        reader.feed(&byte, 1);
    }
    auto got = reader.next();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->command, 15);
    EXPECT_EQ(got->payload, (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(reader.skippedBytes(), junk.size());

    // Two packets in one read come out in order; an empty payload is fine.
    std::vector<uint8_t> both = packet(14, {});
    const std::vector<uint8_t> second = packet(3, {9});
    both.insert(both.end(), second.begin(), second.end());
    reader.feed(both.data(), both.size());
    EXPECT_EQ(reader.next()->command, 14);
    EXPECT_EQ(reader.next()->command, 3);
    EXPECT_FALSE(reader.next());
    EXPECT_FALSE(reader.broken());

    // A length beyond the bound breaks the stream instead of waiting for it.
    const std::vector<uint8_t> huge = packet(6, std::vector<uint8_t>(17, 0));
    reader.feed(huge.data(), huge.size());
    EXPECT_FALSE(reader.next());
    EXPECT_TRUE(reader.broken());
}

TEST(PacketReaderTest, BufferedBytesStayBounded) {
    PacketReader reader(16);
    const std::vector<uint8_t> noise(1000, 0xAA); // never a header, so nothing is consumed
    bool accepted = true;
    for (int i = 0; i < 100 && accepted; ++i) {
        accepted = reader.feed(noise.data(), noise.size());
        reader.next(); // skips what it can
    }
    EXPECT_LE(reader.buffered(), 2u * (12 + 16) + 4096);
}

TEST(UrlQueryTest, DecodesPercentEscapesAndRefusesBrokenOnes) {
    const auto params = camsim::parseQuery("usr=ad%6Din&pwd=a%26b%3Dc&cmd=x+y&&cmd=second&flag");
    ASSERT_TRUE(params);
    EXPECT_EQ(params->at("usr"), "admin");
    EXPECT_EQ(params->at("pwd"), "a&b=c");
    EXPECT_EQ(params->at("cmd"), "x+y") << "'+' is literal and the first value wins";
    EXPECT_EQ(params->at("flag"), "");
    EXPECT_FALSE(camsim::parseQuery("a=%4"));
    EXPECT_FALSE(camsim::parseQuery("a=%g0"));
    EXPECT_FALSE(camsim::parseQuery("a=%00"));
    std::string many;
    for (size_t i = 0; i <= camsim::kMaxQueryParams; ++i) {
        many += "k" + std::to_string(i) + "=v&";
    }
    EXPECT_FALSE(camsim::parseQuery(many));
}

TEST(ConsoleTest, CommandsReachEveryCamera) {
    camsim::H264Camera first(testStreams());
    camsim::H264Camera second(testStreams());
    camsim::CameraConfig config;
    config.listenAddress = "127.0.0.1";
    config.udt = false;
    const auto firstPorts = first.start(config);
    const auto secondPorts = second.start(config);
    ASSERT_TRUE(firstPorts && secondPorts);
    const std::vector<camsim::CameraControls*> cameras = {&first, &second};
    bool quit = false;

    EXPECT_NE(camsim::runConsoleCommand("refuse on", cameras, quit).find("on"), std::string::npos);
    for (const auto& ports : {*firstPorts, *secondPorts}) {
        RawClient client;
        ASSERT_TRUE(client.connect(ports.port));
        client.sendPacket(12, controlLoginPayload("admin", "admin", 1));
        const auto reply = client.readPacket(2000);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->word(0), -2);
    }
    EXPECT_NE(camsim::runConsoleCommand("bytes maybe", cameras, quit).find("usage"),
              std::string::npos);
    EXPECT_NE(camsim::runConsoleCommand("frobnicate", cameras, quit).find("unknown"),
              std::string::npos);
    EXPECT_NE(camsim::runConsoleCommand("stats", cameras, quit).find("camera 1:"),
              std::string::npos);
    EXPECT_FALSE(quit);
    camsim::runConsoleCommand("quit", cameras, quit);
    EXPECT_TRUE(quit);
}

} // namespace
} // namespace camtest
