// The talk path against a recording sink: what is sent when and in which sizes, and that a stop
// waits for the block on its way.

#include "ControlTestSupport.h"

#include "audio/ImaAdpcm.h"
#include "device/control/BroadcastTalk.h"
#include "device/control/TalkChannel.h"

namespace {

using namespace std::chrono_literals;
using controltest::RecordingSink;
using controltest::waitFor;
using Device::TalkChannel;
using Device::TalkProfile;

class Talk : public controltest::WavMicrophone {
protected:
    RecordingSink sink;
    const TalkProfile g726 = *Device::talkProfileForClass(17);
};

TEST_F(Talk, AudioFlowsFromTheGrantAndNothingFollowsCloseTalk) {
    TalkChannel talk(sink, g726);
    ASSERT_TRUE(talk.openTalk());
    ASSERT_TRUE(talk.openTalk()) << "a reconnect opens talk again on the same device";
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(sink.count(4), 0u) << "nothing before the camera grants talk";

    ASSERT_TRUE(talk.startCapture());
    ASSERT_TRUE(waitFor([&] { return sink.count(4) >= 3; }));
    talk.closeTalk();
    std::this_thread::sleep_for(150ms);
    const auto sent = sink.sent();
    EXPECT_EQ(sent.back().code, 7) << "audio after the close";
    for (const auto& s : sent) {
        if (s.code == 4) {
            EXPECT_EQ(s.param2, 120) << "one G.726 block per 960 bytes";
        }
    }

    // The camera confirms; a later grant talks again with a fresh encoder.
    talk.stopCapture();
    sink.clear();
    ASSERT_TRUE(talk.startCapture());
    ASSERT_TRUE(waitFor([&] { return sink.count(4) >= 1; }));
}

TEST_F(Talk, StopWaitsForTheBlockBeingSent) {
    struct SlowSink final : Device::CommandSink {
        bool sendCommand(int code, intptr_t, intptr_t) override {
            if (code == 4) {
                inside = true;
                std::this_thread::sleep_for(80ms);
                inside = false;
                ++blocks;
            }
            return true;
        }
        std::atomic<bool> inside{false};
        std::atomic<int> blocks{0};
    } slow;
    auto talk = std::make_unique<TalkChannel>(slow, g726);
    ASSERT_TRUE(talk->openTalk());
    ASSERT_TRUE(talk->startCapture());
    ASSERT_TRUE(waitFor([&] { return slow.inside.load(); }));
    talk->stopCapture();
    EXPECT_FALSE(slow.inside) << "stop returned while a block was still being sent";
    const int blocks = slow.blocks;
    talk.reset();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(slow.blocks, blocks);
}

TEST_F(Talk, AMemberDestroyedDuringABroadcastLeavesItSafely) {
    RecordingSink other;
    Device::BroadcastTalk broadcast;
    auto leaving = std::make_unique<TalkChannel>(sink, g726);
    TalkChannel staying(other, g726);
    for (TalkChannel* talk : {leaving.get(), &staying}) {
        ASSERT_TRUE(talk->startCapture());
        ASSERT_TRUE(broadcast.add(*talk));
    }
    ASSERT_TRUE(broadcast.start());
    ASSERT_TRUE(waitFor([&] { return sink.count(4) >= 2; }));
    leaving.reset();
    EXPECT_EQ(broadcast.size(), 1u);
    const size_t before = other.count(4);
    EXPECT_TRUE(waitFor([&] { return other.count(4) >= before + 2; }));
}

TEST(TalkPackets, MjpegAudioIsCutIntoExactPacketsWithNothingLost) {
    RecordingSink sink;
    // 960-byte blocks make 240 ADPCM bytes each: one and a half of the 160-byte packets.
    TalkChannel talk(sink, TalkProfile{257, 960, 160});
    ASSERT_TRUE(talk.startCapture());
    std::vector<int16_t> pcm(480 * 5);
    for (size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<int16_t>(8000 * std::sin(0.55 * static_cast<double>(i)));
    for (size_t block = 0; block < 5; ++block)
        talk.sendBlock(reinterpret_cast<const char*>(pcm.data() + block * 480), 960);

    std::string heard;
    for (const auto& s : sink.sent()) {
        EXPECT_EQ(s.param2, 160);
        heard += s.text;
    }
    EXPECT_EQ(sink.count(4), 7u) << "1200 bytes: seven packets, 80 bytes waiting";
    codec::ImaAdpcmState state;
    std::string expected(pcm.size() / 2, '\0');
    codec::imaEncode(state, pcm.data(), pcm.size(), reinterpret_cast<uint8_t*>(expected.data()));
    EXPECT_EQ(heard, expected.substr(0, heard.size())) << "the encoder's stream, unchanged";
}

} // namespace
