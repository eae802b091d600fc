// The alarm sound: its tone, rings during a sequence, a bounded stop, and what actually comes
// out of the playback device.

#include "ControlTestSupport.h"

#include "device/control/AlarmSound.h"
#include "zqaudio/zqaudio.h"

#include <cstring>

namespace {

using namespace std::chrono_literals;
using controltest::dominantFrequency;
using controltest::waitFor;
using Device::AlarmSound;

TEST(AlarmSound, FiveKilohertzBecomesTheHighestCleanPitchNotItsAlias) {
    const auto tone = Device::makeTone(5000, 300, 8000);
    ASSERT_EQ(tone.size(), 2400u);
    EXPECT_NEAR(dominantFrequency(tone), 3600, 10);
    // Samples of a 5 kHz sine taken 8000 times a second are those of a 3 kHz one.
    EXPECT_LT(controltest::tonePower(tone, 3000, 8000),
              controltest::tonePower(tone, 3600, 8000) / 1000);
    EXPECT_NEAR(dominantFrequency(Device::makeTone(5000, 300, 16000), 16000), 5000, 10);
    EXPECT_LT(std::abs(tone.front()) + std::abs(tone.back()), 300) << "clicks at the edges";
}

TEST(AlarmSound, RingsDuringASequenceAreAbsorbedAndStopEndsItBetweenBeeps) {
    std::atomic<int> writes{0};
    AlarmSound alarm([&](const int16_t*, size_t) { ++writes; }, {5, 40, 20, 5000, 8000});
    ASSERT_TRUE(alarm.start());
    for (int i = 0; i < 20; ++i)
        alarm.ring();
    ASSERT_TRUE(waitFor([&] { return writes >= 5; }));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(writes, 5);

    alarm.ring();
    ASSERT_TRUE(waitFor([&] { return writes >= 6; }));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(alarm.stop());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
    const int written = writes;
    EXPECT_LT(written, 10);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(writes, written);
}

// The device keeps only 0.54 s queued and drops the oldest audio when a write overflows it, so
// each beep must be written once the previous one has played.
TEST(AlarmSound, AllFiveBeepsComeOutOfThePlaybackDeviceWhole) {
    const auto out = controltest::scratchDir("alarm") / "played.wav";
    controltest::ScopedEnv device("ZQAUDIO_DEVICE", "wav");
    controltest::ScopedEnv output("ZQAUDIO_WAV_OUT", out.string());
    ZQAudioDevice* play = CreatePlayDev();
    const int bufferBytes = 8640;
    ASSERT_EQ(SetPlayParam(play, ZQAUDIO_PLAY_BUFFER_SIZE, &bufferBytes), ZQAUDIO_OK);
    ASSERT_EQ(OpenPlayDev(play), ZQAUDIO_OK);
    std::mutex audioLock;
    {
        std::atomic<int> writes{0};
        AlarmSound alarm([&, toDevice = Device::playDeviceWriter(play, audioLock)](
                             const int16_t* samples, size_t count) {
            ++writes;
            toDevice(samples, count);
        });
        ASSERT_TRUE(alarm.start());
        alarm.ring();
        ASSERT_TRUE(waitFor([&] { return writes >= 5; }));
        std::this_thread::sleep_for(600ms); // the last beep plays out
    }
    ReleasePlayDev(play);

    const std::string raw =
        controltest::run("ffmpeg -v error -i '" + out.string() + "' -f s16le -ac 1 -ar 8000 -");
    std::vector<int16_t> samples(raw.size() / 2);
    std::memcpy(samples.data(), raw.data(), samples.size() * 2);
    // 10 ms windows carrying the tone: 5 × 300 ms is 150 of them.
    size_t loud = 0;
    for (size_t at = 0; at + 80 <= samples.size(); at += 80)
        loud += controltest::rms(samples.data() + at, 80) > 4000 ? 1 : 0;
    EXPECT_GE(loud, 140u);
    EXPECT_LE(loud, 152u);
    EXPECT_NEAR(dominantFrequency(samples), 3600, 10);
}

} // namespace
