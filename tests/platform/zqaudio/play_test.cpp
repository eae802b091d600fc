#include "AudioTestSupport.h"
#include "zqaudio/zqaudio.h"

#include <sys/stat.h>

#include <cstring>

using namespace zqtest;

namespace {

long fileSize(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<long>(info.st_size) : -1;
}

uint32_t le32(const Bytes& file, size_t offset) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(file[offset + static_cast<size_t>(i)]);
    return value;
}

uint16_t le16(const Bytes& file, size_t offset) {
    return static_cast<uint16_t>(le32(file, offset) & 0xFFFF);
}

// A playback handle on the WAV device, opened with `bufferBytes`.
ZQAudioDevice* openWavPlayer(int bufferBytes) {
    ZQAudioDevice* device = CreatePlayDev();
    EXPECT_NE(device, nullptr);
    EXPECT_EQ(SetPlayParam(device, ZQAUDIO_PLAY_BUFFER_SIZE, &bufferBytes), ZQAUDIO_OK);
    EXPECT_EQ(OpenPlayDev(device), ZQAUDIO_OK);
    return device;
}

// The samples of a WAV file the device wrote, after checking its canonical 44-byte header.
Bytes playedSamples(const std::string& path) {
    const Bytes file = readFile(path);
    if (file.size() < 44) {
        ADD_FAILURE() << "no WAV header in " << path;
        return {};
    }
    EXPECT_EQ(std::memcmp(file.data(), "RIFF", 4), 0);
    EXPECT_EQ(le32(file, 4), file.size() - 8);
    EXPECT_EQ(std::memcmp(file.data() + 8, "WAVEfmt ", 8), 0);
    EXPECT_EQ(le32(file, 16), 16u);
    EXPECT_EQ(le16(file, 20), 1);     // PCM
    EXPECT_EQ(le16(file, 22), 1);     // mono
    EXPECT_EQ(le32(file, 24), 8000u); // samples/s
    EXPECT_EQ(le32(file, 28), 16000u);
    EXPECT_EQ(le16(file, 32), 2);
    EXPECT_EQ(le16(file, 34), 16);
    EXPECT_EQ(std::memcmp(file.data() + 36, "data", 4), 0);
    EXPECT_EQ(le32(file, 40), file.size() - 44);
    return Bytes(file.begin() + 44, file.end());
}

TEST(ZqaudioPlay, WavDevicePlaysExactlyWhatWasWrittenAtRealTimePace) {
    const std::string out = scratchPath("out.wav");
    DeviceEnv env("wav", "", out);
    ZQAudioDevice* device = openWavPlayer(16000);
    // Idle time before the first write must not let the device rush through the audio later.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    const Bytes signal = noise(4000); // 0.5 s
    const auto start = Clock::now();
    for (size_t at = 0; at < signal.size(); at += 800)
        ASSERT_EQ(WriteData(device, signal.data() + at, 800), ZQAUDIO_OK);
    ASSERT_TRUE(waitFor([&] { return fileSize(out) == 44 + 8000; }));
    const double playSeconds = secondsSince(start);
    EXPECT_GE(playSeconds, 0.45);
    EXPECT_LE(playSeconds, 2.0);
    // While still open, the header catches up with what was played.
    ASSERT_TRUE(waitFor([&] { return le32(readFile(out), 40) == 8000; }, 1000));

    ClosePlayDev(device);
    ReleasePlayDev(device);
    EXPECT_EQ(playedSamples(out), signal);

    // An independent reader agrees on format and samples.
    const Bytes probe = run("ffprobe -v error -show_entries stream=codec_name,sample_rate,channels "
                            "-of default=nw=1 '" +
                            out + "'");
    EXPECT_EQ(std::string(probe.begin(), probe.end()),
              "codec_name=pcm_s16le\nsample_rate=8000\nchannels=1\n");
    EXPECT_EQ(run("ffmpeg -v error -i '" + out + "' -f s16le -"), signal);
}

TEST(ZqaudioPlay, WritesNeverWaitAndTheOldestQueuedAudioGivesWay) {
    const std::string out = scratchPath("out.wav");
    DeviceEnv env("wav", "", out);
    ZQAudioDevice* device = openWavPlayer(1600); // 50 ms
    const auto start = Clock::now();
    // One write of four buffers' worth keeps only its newest 800 samples...
    const Bytes large = ramp(0, 3200);
    ASSERT_EQ(WriteData(device, large.data(), static_cast<int>(large.size())), ZQAUDIO_OK);
    // ...and each of these pushes out what is still queued from before.
    for (int chunk = 4; chunk < 14; ++chunk) {
        const Bytes pcm = ramp(chunk * 800, 800);
        ASSERT_EQ(WriteData(device, pcm.data(), static_cast<int>(pcm.size())), ZQAUDIO_OK);
    }
    // 1.4 s of audio into a 50 ms buffer: a writer that waited for room would take 1.35 s.
    EXPECT_LT(secondsSince(start), 0.2);
    ASSERT_TRUE(waitFor([&] { return fileSize(out) >= 44 + 1600; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    ReleasePlayDev(device);

    const Bytes played = playedSamples(out);
    ASSERT_GE(played.size(), 1600u);
    EXPECT_LT(played.size(), 8000u) << "too little was dropped";
    EXPECT_GE(sampleAt(played, 0), 2400) << "the older part of the large write was played";
    for (size_t i = 1; i < played.size() / 2; ++i)
        ASSERT_LT(sampleAt(played, i - 1), sampleAt(played, i)) << "out of order at " << i;
    // The newest buffer-full survives whole, at the end.
    EXPECT_EQ(Bytes(played.end() - 1600, played.end()), ramp(13 * 800, 800));
}

TEST(ZqaudioPlay, RefusesBadHandlesParametersAndStates) {
    DeviceEnv env("null");
    int size = 8640;
    EXPECT_EQ(SetPlayParam(nullptr, ZQAUDIO_PLAY_BUFFER_SIZE, &size), ZQAUDIO_ERR_HANDLE);
    EXPECT_EQ(OpenPlayDev(nullptr), ZQAUDIO_ERR_HANDLE);
    EXPECT_EQ(WriteData(nullptr, &size, 2), ZQAUDIO_ERR_HANDLE);
    ClosePlayDev(nullptr);
    ReleasePlayDev(nullptr);

    ZQAudioDevice* recorder = CreateRecDev();
    EXPECT_EQ(OpenPlayDev(recorder), ZQAUDIO_ERR_HANDLE);
    EXPECT_EQ(WriteData(recorder, &size, 2), ZQAUDIO_ERR_HANDLE);
    ReleasePlayDev(recorder); // refused: still a valid capture handle
    EXPECT_EQ(OpenRecDev(recorder), ZQAUDIO_OK);
    ReleaseRecDev(recorder);

    ZQAudioDevice* device = CreatePlayDev();
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(WriteData(device, &size, 2), ZQAUDIO_ERR_STATE) << "not open yet";
    EXPECT_EQ(SetPlayParam(device, 2, &size), ZQAUDIO_ERR_PARAM);
    EXPECT_EQ(SetPlayParam(device, ZQAUDIO_PLAY_BUFFER_SIZE, nullptr), ZQAUDIO_ERR_PARAM);
    for (int bad : {8641, ZQAUDIO_PLAY_BUFFER_MIN - 2, ZQAUDIO_PLAY_BUFFER_MAX + 2, -8640})
        EXPECT_EQ(SetPlayParam(device, ZQAUDIO_PLAY_BUFFER_SIZE, &bad), ZQAUDIO_ERR_PARAM) << bad;

    ASSERT_EQ(OpenPlayDev(device), ZQAUDIO_OK);
    EXPECT_EQ(OpenPlayDev(device), ZQAUDIO_ERR_STATE);
    EXPECT_EQ(SetPlayParam(device, ZQAUDIO_PLAY_BUFFER_SIZE, &size), ZQAUDIO_ERR_STATE);
    EXPECT_EQ(WriteData(device, &size, 3), ZQAUDIO_ERR_PARAM);
    EXPECT_EQ(WriteData(device, &size, -2), ZQAUDIO_ERR_PARAM);
    EXPECT_EQ(WriteData(device, nullptr, 2), ZQAUDIO_ERR_PARAM);
    EXPECT_EQ(WriteData(device, nullptr, 0), ZQAUDIO_OK);
    EXPECT_EQ(WriteData(device, &size, 4), ZQAUDIO_OK);

    ClosePlayDev(device);
    EXPECT_EQ(WriteData(device, &size, 4), ZQAUDIO_ERR_STATE) << "closed";
    EXPECT_EQ(OpenPlayDev(device), ZQAUDIO_OK) << "reopens after a close";
    ReleasePlayDev(device);
}

TEST(ZqaudioPlay, UnusableChoicesFallBackToTheNullDevice) {
    const std::string out = scratchPath("no-such-dir/out.wav");
    for (const char* device : {"wav", "no-such-device", "portaudio"}) {
        DeviceEnv env(device, "", out);
        testing::internal::CaptureStderr();
        ZQAudioDevice* player = CreatePlayDev();
        EXPECT_EQ(OpenPlayDev(player), ZQAUDIO_OK) << device;
        const Bytes silence(160, 0);
        EXPECT_EQ(WriteData(player, silence.data(), 160), ZQAUDIO_OK) << device;
        ReleasePlayDev(player);
        const std::string err = testing::internal::GetCapturedStderr();
        if (std::string(device) == "wav") {
            EXPECT_NE(err.find("no-such-dir/out.wav"), std::string::npos) << err;
        }
    }
    EXPECT_EQ(fileSize(out), -1);
}

} // namespace
