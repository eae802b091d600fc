#include "AudioTestSupport.h"
#include "zqaudio/zqaudio.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>

using namespace zqtest;

namespace {

// Records every block a capture device delivers and when it arrived.
struct Collector {
    std::mutex lock;
    std::vector<Bytes> blocks;   // guarded by lock
    std::vector<double> seconds; // arrival, since `start`; guarded by lock
    Clock::time_point start = Clock::now();
    std::atomic<int> count{0};
    std::atomic<int> strangeCalls{0}; // reserved not 0, or not on the library's capture thread
    std::function<void(int index)> onBlock; // runs inside the callback, after recording

    static void callback(int reserved, const char* pcm, int length, void* user) {
        auto& self = *static_cast<Collector*>(user);
        char name[16] = {};
        pthread_getname_np(pthread_self(), name, sizeof name);
        if (reserved != 0 || std::string(name) != "zqaudio_rec")
            ++self.strangeCalls;
        {
            std::lock_guard guard(self.lock);
            self.blocks.emplace_back(pcm, pcm + length);
            self.seconds.push_back(secondsSince(self.start));
        }
        const int index = self.count++;
        if (self.onBlock)
            self.onBlock(index);
    }

    Bytes joined() {
        std::lock_guard guard(lock);
        Bytes all;
        for (const Bytes& block : blocks)
            all.insert(all.end(), block.begin(), block.end());
        return all;
    }
};

ZQAudioDevice* openRecorder(Collector& collector, int blockBytes) {
    ZQAudioDevice* device = CreateRecDev();
    EXPECT_NE(device, nullptr);
    EXPECT_EQ(SetRecDataCallback(device, &Collector::callback, &collector), ZQAUDIO_OK);
    EXPECT_EQ(SetRecParam(device, ZQAUDIO_REC_BLOCK_SIZE, &blockBytes), ZQAUDIO_OK);
    EXPECT_EQ(OpenRecDev(device), ZQAUDIO_OK);
    return device;
}

bool allZero(const Bytes& bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return c == 0; });
}

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

class ZqaudioCaptureBlocks : public testing::TestWithParam<int> {};

TEST_P(ZqaudioCaptureBlocks, DeliversTheWavFileInExactBlocksInOrderThenSilence) {
    const int blockBytes = GetParam();
    const std::string in = scratchPath("in.wav");
    const Bytes pcm = noise(1500); // 3000 bytes: the last block is partly file, partly silence
    ffmpegWav(pcm, in);
    DeviceEnv env("wav", in);
    Collector collector;
    ZQAudioDevice* device = openRecorder(collector, blockBytes);
    const int wanted = static_cast<int>(pcm.size()) / blockBytes + 3;
    ASSERT_EQ(RestartRecDev(device), ZQAUDIO_OK);
    ASSERT_TRUE(waitFor([&] { return collector.count >= wanted; }));
    ASSERT_EQ(StopRecDev(device), ZQAUDIO_OK);
    ReleaseRecDev(device);

    for (size_t i = 0; i < collector.blocks.size(); ++i)
        EXPECT_EQ(collector.blocks[i].size(), static_cast<size_t>(blockBytes)) << i;
    EXPECT_EQ(collector.strangeCalls, 0);
    const Bytes all = collector.joined();
    ASSERT_GE(all.size(), pcm.size() + 2u * static_cast<size_t>(blockBytes));
    EXPECT_EQ(Bytes(all.begin(), all.begin() + static_cast<long>(pcm.size())), pcm);
    EXPECT_TRUE(allZero(Bytes(all.begin() + static_cast<long>(pcm.size()), all.end())));
}

INSTANTIATE_TEST_SUITE_P(ClientBlockSizes, ZqaudioCaptureBlocks, testing::Values(960, 640));

TEST(ZqaudioCapture, BlocksFlowOnlyBetweenRestartAndStopAndResumeInOrder) {
    const std::string in = scratchPath("in.wav");
    const Bytes pcm = noise(8000);
    ffmpegWav(pcm, in);
    DeviceEnv env("wav", in);
    Collector collector;
    std::atomic<bool> inCallback{false};
    std::atomic<bool> stopReturned{false};
    std::atomic<int> late{0};
    collector.onBlock = [&](int) {
        inCallback = true;
        late += stopReturned ? 1 : 0;
        sleepMs(25); // widens the window in which a stop meets a callback in progress
        inCallback = false;
    };
    ZQAudioDevice* device = openRecorder(collector, 640);
    sleepMs(100);
    EXPECT_EQ(collector.count, 0) << "delivered before RestartRecDev";

    for (int round = 0; round < 5; ++round) {
        stopReturned = false;
        const int before = collector.count;
        ASSERT_EQ(RestartRecDev(device), ZQAUDIO_OK);
        EXPECT_EQ(RestartRecDev(device), ZQAUDIO_OK) << "a second restart changes nothing";
        ASSERT_TRUE(waitFor([&] { return collector.count >= before + 2; }));
        sleepMs(9 * round);
        const auto stopStart = Clock::now();
        ASSERT_EQ(StopRecDev(device), ZQAUDIO_OK);
        stopReturned = true;
        EXPECT_FALSE(inCallback);
        EXPECT_LT(secondsSince(stopStart), 0.5);
        sleepMs(80);
    }
    ReleaseRecDev(device);
    EXPECT_EQ(late, 0) << "callbacks after StopRecDev returned";
    // A stopped WAV input resumes where it left off.
    const Bytes all = collector.joined();
    EXPECT_EQ(all, Bytes(pcm.begin(), pcm.begin() + static_cast<long>(all.size())));
}

TEST(ZqaudioCapture, StopFromInsideTheCallbackMakesItTheLast) {
    DeviceEnv env("null");
    Collector collector;
    ZQAudioDevice* device = nullptr;
    std::vector<int> inside; // results of calls made from the callback
    collector.onBlock = [&](int index) {
        if (index != 2)
            return;
        int size = 640;
        inside = {SetRecParam(device, ZQAUDIO_REC_BLOCK_SIZE, &size), RestartRecDev(device),
                  OpenRecDev(device), SetRecDataCallback(device, &Collector::callback, nullptr),
                  StopRecDev(device)};
    };
    device = openRecorder(collector, 160);
    ASSERT_EQ(RestartRecDev(device), ZQAUDIO_OK);
    ASSERT_TRUE(waitFor([&] { return collector.count >= 3; }));
    sleepMs(100);
    EXPECT_EQ(collector.count, 3);
    EXPECT_EQ(inside, (std::vector<int>{ZQAUDIO_ERR_STATE, ZQAUDIO_ERR_STATE, ZQAUDIO_ERR_STATE,
                                        ZQAUDIO_ERR_STATE, ZQAUDIO_OK}));
    ASSERT_EQ(RestartRecDev(device), ZQAUDIO_OK);
    EXPECT_TRUE(waitFor([&] { return collector.count >= 5; }));
    ReleaseRecDev(device);
}

// Blocks of the null device come at real-time pace, counted from RestartRecDev, and a callback
// that takes time does not make the pace drift.
TEST(ZqaudioCapture, NullDeviceKeepsRealTimePaceWithoutDrift) {
    DeviceEnv env("null");
    for (const int blockBytes : {640, 960}) {
        Collector collector;
        // With 960-byte blocks a third of every period is spent in the callback: pacing that
        // sleeps a period after each delivery would fall 0.8 s behind over 40 blocks.
        if (blockBytes == 960)
            collector.onBlock = [](int) { sleepMs(20); };
        const int blocks = blockBytes == 640 ? 25 : 40;
        ZQAudioDevice* device = openRecorder(collector, blockBytes);
        collector.start = Clock::now();
        ASSERT_EQ(RestartRecDev(device), ZQAUDIO_OK);
        ASSERT_TRUE(waitFor([&] { return collector.count >= blocks; }, 5000));
        ReleaseRecDev(device);
        const double expected = blocks * blockBytes / 16000.0;
        std::printf("%d blocks of %d bytes (%.1f s of audio): first after %.3f s, last after "
                    "%.3f s\n",
                    blocks, blockBytes, expected, collector.seconds[0],
                    collector.seconds[blocks - 1]);
        EXPECT_GE(collector.seconds[0], blockBytes / 16000.0 * 0.9) << "delivered before captured";
        EXPECT_GE(collector.seconds[blocks - 1], expected - 0.05);
        EXPECT_LE(collector.seconds[blocks - 1], expected + (blockBytes == 640 ? 0.5 : 0.2));
        EXPECT_TRUE(allZero(collector.joined()));
    }
}

struct BadInput {
    const char* name;
    const char* ffmpegOptions; // null: `raw` is the file's content, or no file when empty
    const char* raw;
    const char* complaint;
};

void PrintTo(const BadInput& input, std::ostream* os) {
    *os << input.name;
}

class ZqaudioBadInput : public testing::TestWithParam<BadInput> {};

TEST_P(ZqaudioBadInput, IsRefusedWithAReasonAndGivesSilence) {
    const BadInput& input = GetParam();
    const std::string in = scratchPath("in.wav");
    if (input.ffmpegOptions)
        ffmpegWav(noise(800), in, input.ffmpegOptions);
    else if (*input.raw)
        writeFile(in, Bytes(input.raw, input.raw + std::strlen(input.raw)));
    DeviceEnv env("wav", in);
    Collector collector;
    testing::internal::CaptureStderr();
    ZQAudioDevice* device = openRecorder(collector, 160);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(input.complaint), std::string::npos) << err;

    ASSERT_EQ(RestartRecDev(device), ZQAUDIO_OK);
    ASSERT_TRUE(waitFor([&] { return collector.count >= 3; }));
    ReleaseRecDev(device);
    EXPECT_EQ(collector.blocks[0].size(), 160u);
    EXPECT_TRUE(allZero(collector.joined()));
}

INSTANTIATE_TEST_SUITE_P(
    Files, ZqaudioBadInput,
    testing::Values(BadInput{"Stereo", "-ac 2", "", "2 channels, not mono"},
                    BadInput{"Wideband", "-ar 16000", "", "16000 samples/s, not 8000"},
                    BadInput{"EightBit", "-c:a pcm_u8", "", "8-bit samples"},
                    BadInput{"Float", "-c:a pcm_f32le", "", "not plain PCM"},
                    BadInput{"NotWav", nullptr, "RIFF\x04", "not a RIFF/WAVE file"},
                    BadInput{"Missing", nullptr, "", "cannot open"}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(ZqaudioCapture, RefusesBadHandlesParametersAndStates) {
    DeviceEnv env("null");
    Collector collector;
    int size = 960;
    EXPECT_EQ(SetRecDataCallback(nullptr, &Collector::callback, nullptr), ZQAUDIO_ERR_HANDLE);
    EXPECT_EQ(SetRecParam(nullptr, ZQAUDIO_REC_BLOCK_SIZE, &size), ZQAUDIO_ERR_HANDLE);
    EXPECT_EQ(OpenRecDev(nullptr), ZQAUDIO_ERR_HANDLE);
    EXPECT_EQ(RestartRecDev(nullptr), ZQAUDIO_ERR_HANDLE);
    EXPECT_EQ(StopRecDev(nullptr), ZQAUDIO_ERR_HANDLE);
    CloseRecDev(nullptr);
    ReleaseRecDev(nullptr);

    ZQAudioDevice* device = CreateRecDev();
    EXPECT_EQ(RestartRecDev(device), ZQAUDIO_ERR_STATE) << "not open";
    EXPECT_EQ(StopRecDev(device), ZQAUDIO_ERR_STATE) << "not open";
    EXPECT_EQ(SetRecDataCallback(device, nullptr, nullptr), ZQAUDIO_ERR_PARAM);
    EXPECT_EQ(SetRecParam(device, 4, &size), ZQAUDIO_ERR_PARAM);
    EXPECT_EQ(SetRecParam(device, ZQAUDIO_REC_BLOCK_SIZE, nullptr), ZQAUDIO_ERR_PARAM);
    for (int bad : {961, ZQAUDIO_REC_BLOCK_MIN - 2, ZQAUDIO_REC_BLOCK_MAX + 2, 0})
        EXPECT_EQ(SetRecParam(device, ZQAUDIO_REC_BLOCK_SIZE, &bad), ZQAUDIO_ERR_PARAM) << bad;

    ASSERT_EQ(OpenRecDev(device), ZQAUDIO_OK);
    EXPECT_EQ(OpenRecDev(device), ZQAUDIO_ERR_STATE);
    EXPECT_EQ(RestartRecDev(device), ZQAUDIO_ERR_STATE) << "no callback";
    EXPECT_EQ(StopRecDev(device), ZQAUDIO_OK) << "open and idle";
    EXPECT_EQ(SetRecParam(device, ZQAUDIO_REC_BLOCK_SIZE, &size), ZQAUDIO_ERR_STATE);
    ASSERT_EQ(SetRecDataCallback(device, &Collector::callback, &collector), ZQAUDIO_OK);
    ASSERT_EQ(RestartRecDev(device), ZQAUDIO_OK);
    EXPECT_EQ(SetRecDataCallback(device, &Collector::callback, &collector), ZQAUDIO_ERR_STATE);
    CloseRecDev(device);
    EXPECT_EQ(RestartRecDev(device), ZQAUDIO_ERR_STATE) << "closed";
    ReleaseRecDev(device);
}

TEST(ZqaudioCapture, DefaultAndUnusableChoicesStillDeliverBlocks) {
    // Whatever this machine has: real hardware, none (PortAudio falls back), or a bad name.
    for (const char* choice : {"", "portaudio", "no-such-device"}) {
        DeviceEnv env(choice);
        Collector collector;
        ZQAudioDevice* device = openRecorder(collector, 320);
        ASSERT_EQ(RestartRecDev(device), ZQAUDIO_OK) << choice;
        EXPECT_TRUE(waitFor([&] { return collector.count >= 2; })) << choice;
        ReleaseRecDev(device);
        EXPECT_EQ(collector.blocks[0].size(), 320u) << choice;
    }
}

} // namespace
