// The monitor session: video and audio through the time-ordered buffer, pictures decoded to the
// camera's colours, sound output, camera reports, and a video channel that misbehaves.

#include "Heap.h"
#include "RawCamera.h"
#include "SdkFixture.h"

#include "sys/Tick.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>

using namespace sdktest;

namespace {

const std::array<uint8_t, 3> kColours[] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}};

bool isFrame(const Note& note) {
    return note.frame.has_value();
}

// Time stamps of every picture and audio block in the order they were handed to the host.
std::vector<uint32_t> deliveredStamps(const std::vector<Note>& notes) {
    std::vector<uint32_t> stamps;
    for (const Note& note : notes) {
        if (isFrame(note))
            stamps.push_back(note.frame->timeStamp);
    }
    return stamps;
}

size_t countOf(const std::vector<Note>& notes, unsigned message) {
    size_t count = 0;
    for (const Note& note : notes)
        count += note.message == message ? 1 : 0;
    return count;
}

class MonitorTest : public SdkFixture {
protected:
    camsim::SdkCameraConfig config() {
        camsim::SdkCameraConfig c;
        c.colours.assign(std::begin(kColours), std::end(kColours));
        c.framesPerSecond = 20;
        return c;
    }

    void useShortTimers() {
        settings.videoLoginRetryMs = 1000;
        settings.countersIntervalMs = 1000;
        moltrex::setTuning(settings);
    }
};

TEST_F(MonitorTest, FullSessionDeliversPicturesInOrderThatDecodeToTheCameraColours) {
    camsim::SdkCameraConfig c = config();
    c.scramble = true;
    c.shuffleStamps = true;
    c.ignoredVideoLogins = 1; // the login must be sent again a second later
    startCamera(c);
    useShortTimers();
    ASSERT_TRUE(connectMonitor());
    ASSERT_EQ(PlayVideo(kCameraId), MO_OK);
    const auto started = inbox().waitFor(MO_MSG_VIDEO_START);
    ASSERT_TRUE(started);
    EXPECT_EQ(started->lParam, MO_OK);
    ASSERT_TRUE(waitForCount(MO_MSG_PICTURE, 12, 20000));
    // The first second went by without pictures while the camera ignored the first login.
    EXPECT_TRUE(inbox().waitUntil(
        [](const std::vector<Note>& notes) {
            for (const Note& note : notes) {
                if (note.counters && note.counters->pictures > 0 && note.counters->videoBytes > 0)
                    return true;
            }
            return false;
        },
        5000));
    disconnectMonitor();

    const camsim::SdkCameraStats stats = camera.stats();
    EXPECT_EQ(stats.readyMessages, 1u) << "opcode 16 after the login";
    EXPECT_GE(stats.videoLogins, 2u);
    EXPECT_EQ(stats.servedVideoLogins, 1u);

    const auto notes = inbox().all();
    const auto stamps = deliveredStamps(notes);
    EXPECT_TRUE(std::is_sorted(stamps.begin(), stamps.end())) << "shuffled stamps put in order";
    std::vector<uint32_t> indexes;
    for (const Note& note : notes) {
        if (!isFrame(note))
            continue;
        ASSERT_FALSE(note.frame->isAudio);
        indexes.push_back(note.frame->frameTime);
        const MO_PICTURE picture{static_cast<uint32_t>(note.data.size()), note.data.data()};
        uint8_t* rgb = nullptr;
        int width = 0;
        int height = 0;
        int bits = 0;
        ASSERT_EQ(JpegToRGB(&picture, &rgb, &width, &height, &bits, 0), 1);
        EXPECT_EQ(width, 64);
        EXPECT_EQ(height, 48);
        EXPECT_EQ(bits, 24);
        const auto& colour = kColours[note.frame->frameTime % std::size(kColours)];
        for (const size_t pixel : {size_t{0}, size_t{64 * 24 + 32}, size_t{64 * 48 - 1}}) {
            for (size_t channel = 0; channel < 3; ++channel)
                EXPECT_NEAR(rgb[pixel * 3 + channel], colour[channel], 6)
                    << "picture " << note.frame->frameTime << " pixel " << pixel;
        }
        FreeMemory(rgb);
    }
    // Every picture the camera sent reached the host, the last ones when the session ended.
    ASSERT_FALSE(indexes.empty());
    for (size_t i = 0; i < indexes.size(); ++i)
        EXPECT_EQ(indexes[i], i) << "picture missing or twice";
    EXPECT_GT(countOf(notes, MO_MSG_PICTURE_FLUSH), 0u) << "the buffer was emptied at the end";
}

TEST_F(MonitorTest, AudioAndPicturesLeaveInOneTimeOrderAndStoppingEmptiesTheBuffer) {
    camsim::SdkCameraConfig c = config();
    c.shuffleStamps = true;
    startCamera(c);
    useShortTimers();
    ASSERT_TRUE(connectMonitor());
    ASSERT_EQ(PlayAudio(kCameraId), MO_OK);
    ASSERT_EQ(PlayVideo(kCameraId), MO_OK);
    const auto audioStart = inbox().waitFor(MO_MSG_AUDIO_START);
    const auto videoStart = inbox().waitFor(MO_MSG_VIDEO_START);
    ASSERT_TRUE(audioStart && videoStart);
    EXPECT_EQ(audioStart->lParam, MO_OK);
    EXPECT_EQ(videoStart->lParam, MO_OK);
    ASSERT_TRUE(waitForCount(MO_MSG_PICTURE, 10, 20000));
    ASSERT_TRUE(waitForCount(MO_MSG_AUDIO, 20, 20000));

    ASSERT_EQ(StopVideo(kCameraId), MO_OK);
    ASSERT_EQ(StopAudio(kCameraId), MO_OK);
    ASSERT_TRUE(waitForCount(MO_MSG_AUDIO_STOP, 1));
    const size_t atStop = inbox().all().size();
    sys::sleepMs(300);
    const auto notes = inbox().all();
    EXPECT_EQ(notes.size(), atStop) << "nothing arrives after both streams stopped";

    const auto stamps = deliveredStamps(notes);
    EXPECT_TRUE(std::is_sorted(stamps.begin(), stamps.end()));
    // Audio blocks carry their serial: none lost, none twice.
    std::vector<uint32_t> serials;
    bool flushed = false;
    for (const Note& note : notes) {
        if (note.message == MO_MSG_PICTURE_FLUSH || note.message == MO_MSG_AUDIO_FLUSH) {
            flushed = true;
        } else if (isFrame(note)) {
            EXPECT_FALSE(flushed) << "time-ordered frames after the buffer was emptied";
        }
        if (isFrame(note) && note.frame->isAudio) {
            serials.push_back(note.frame->frameTime);
            EXPECT_EQ(note.data.size(), 640u);
            EXPECT_EQ(note.frame->format, 0);
        }
    }
    EXPECT_TRUE(flushed);
    for (size_t i = 0; i < serials.size(); ++i)
        ASSERT_EQ(serials[i], i);
    EXPECT_EQ(countOf(notes, MO_MSG_VIDEO_STOP), 1u);
    EXPECT_EQ(inbox().of(MO_MSG_VIDEO_STOP)[0].lParam, MO_OK);
    disconnectMonitor();
}

TEST_F(MonitorTest, SoundIsPlayedAtTheLibrarysVolume) {
    const std::string wav =
        ::testing::TempDir() + "moltrex-sound-" + std::to_string(::getpid()) + ".wav";
    ::setenv("ZQAUDIO_DEVICE", "wav", 1);
    ::setenv("ZQAUDIO_WAV_OUT", wav.c_str(), 1);
    startCamera(config());
    ASSERT_EQ(SetVolume(MO_VOLUME_MAX + 1), MO_ERR_PARAM);
    ASSERT_EQ(SetVolume(0x4000), MO_OK);
    EXPECT_EQ(GetVolume(), 0x4000u);
    ASSERT_TRUE(connectMonitor());
    ASSERT_EQ(SetSoundOn(kCameraId), MO_OK);
    ASSERT_EQ(PlayAudio(kCameraId), MO_OK);
    ASSERT_TRUE(waitForCount(MO_MSG_AUDIO, 25, 20000));
    sys::sleepMs(300);
    ASSERT_EQ(SetSoundOff(kCameraId), MO_OK); // closes the device, which completes the file
    sys::sleepMs(200);
    disconnectMonitor();
    SetVolume(MO_VOLUME_MAX);
    ::unsetenv("ZQAUDIO_DEVICE");
    ::unsetenv("ZQAUDIO_WAV_OUT");

    std::ifstream file(wav, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), {});
    std::remove(wav.c_str());
    ASSERT_GT(bytes.size(), 44u + 16000 / 4) << "at least a quarter second was played";
    int peak = 0;
    for (size_t i = 44; i + 1 < bytes.size(); i += 2) {
        const auto sample = static_cast<int16_t>(static_cast<uint8_t>(bytes[i]) |
                                                 static_cast<uint8_t>(bytes[i + 1]) << 8);
        peak = std::max(peak, std::abs(static_cast<int>(sample)));
    }
    // The camera's tone peaks at 8000; a quarter of the volume leaves 2000.
    EXPECT_NEAR(peak, 2000, 60);
}

TEST_F(MonitorTest, CameraReportsAndControls) {
    startCamera(config());
    ASSERT_TRUE(connectMonitor());
    ASSERT_EQ(SetMaxVideoRate(kCameraId, 5), MO_OK);
    ASSERT_EQ(SensorControl(kCameraId, 1, 0x80000000u), MO_OK);
    ASSERT_EQ(DecoderControl(kCameraId, 25), MO_OK);
    ASSERT_EQ(camera.sendReport(17, {1, 2, 3, 4, 5}), 1u);
    ASSERT_EQ(camera.sendReport(18, {9}), 1u);
    ASSERT_EQ(camera.sendReport(25, {70}), 1u);
    ASSERT_EQ(camera.sendReport(26, {71}), 1u);
    ASSERT_EQ(camera.sendReport(27, {72}), 1u);
    ASSERT_TRUE(waitForCount(MO_MSG_REPORT_27, 1));
    std::vector<intptr_t> statuses;
    for (const Note& note : inbox().of(MO_MSG_STATUS))
        statuses.push_back(note.lParam);
    EXPECT_EQ(statuses, (std::vector<intptr_t>{1, 2, 3, 4, 5, 9}));
    EXPECT_EQ(inbox().of(MO_MSG_REPORT_25).at(0).lParam, 70);
    EXPECT_EQ(inbox().of(MO_MSG_REPORT_26).at(0).lParam, 71);
    EXPECT_EQ(inbox().of(MO_MSG_REPORT_27).at(0).lParam, 72);
    // The camera stores them as it reads them.
    const uint32_t start = sys::tickMs();
    while (camera.controls().decoder.empty() && sys::elapsedMs(start) < 10000)
        sys::sleepMs(10);
    const auto controls = camera.controls();
    EXPECT_EQ(controls.maxVideoRates, (std::vector<uint32_t>{5}));
    ASSERT_EQ(controls.sensor.size(), 1u);
    EXPECT_EQ(controls.sensor[0], (std::pair<uint32_t, uint32_t>{1, 0x80000000u}));
    EXPECT_EQ(controls.decoder, (std::vector<uint32_t>{25}));
    EXPECT_EQ(PlayVideo("0000000000AA"), MO_ERR_BUSY);
    EXPECT_EQ(
        MonitorConnect(kCameraId, "admin", "admin", kLoopback, ports.port, 0, 0, Inbox::callback),
        MO_ERR_BUSY);
    disconnectMonitor();
}

TEST_F(MonitorTest, AVideoChannelThatNeverAnswersGivesUp) {
    camsim::SdkCameraConfig c = config();
    c.ignoredVideoLogins = 1000;
    startCamera(c);
    settings.videoLoginRetryMs = 200;
    settings.videoGiveUpMs = 1500;
    moltrex::setTuning(settings);
    ASSERT_TRUE(connectMonitor());
    ASSERT_EQ(PlayVideo(kCameraId), MO_OK);
    const auto stopped = inbox().waitFor(MO_MSG_VIDEO_STOP, 10000);
    ASSERT_TRUE(stopped);
    EXPECT_EQ(stopped->lParam, MO_ERR_TIMEOUT);
    EXPECT_GE(camera.stats().videoLogins, 4u) << "the login was sent again at the retry pace";
    EXPECT_TRUE(inbox().of(MO_MSG_PICTURE).empty());
    disconnectMonitor();
}

// The video channel of a scripted camera: one good picture, pictures whose lengths lie, then a
// broken header.
TEST_F(MonitorTest, LyingFramesAreDroppedAndBrokenFramingStopsTheStreams) {
    heapBefore = moltrex::heap::outstanding();
    inbox().clear();
    auto picture = [](uint32_t stamp, uint32_t declared, size_t actual) {
        Bytes payload;
        put32(payload, stamp);
        put32(payload, stamp);
        payload.push_back(0);
        put32(payload, declared);
        payload.insert(payload.end(), actual, 0xAB);
        return moMessage("MO_V", 1, payload);
    };
    RawCamera raw;
    raw.serve(2, [&](RawCamera& c, int fd, int index) {
        uint16_t opcode = 0;
        Bytes payload;
        if (index == 0) { // operation channel
            if (!c.login(fd, "MO_O", kCameraId) || !c.receive(fd, opcode, payload) ||
                !c.receive(fd, opcode, payload) || opcode != 4)
                return;
            Bytes answer = statusPayload(0);
            put32(answer, 77);
            c.send(fd, moMessage("MO_O", 9, answer));
            c.holdOpen(fd);
            return;
        }
        if (!c.receive(fd, opcode, payload) || opcode != 0 || payload.size() != 4 ||
            payload[0] != 77)
            return;
        c.send(fd, picture(100, 10, 10));
        c.send(fd, picture(101, 11, 10));             // claims more than it holds
        c.send(fd, picture(102, 0xFFFFFFFF, 10));     // claims everything
        c.send(fd, moMessage("MO_V", 2, {1, 2, 3}));  // audio block too short for its fields
        c.send(fd, moMessage("MO_V", 1, {}, 200000)); // beyond the receive buffer
        c.holdOpen(fd);
    });
    ASSERT_EQ(
        MonitorConnect(kCameraId, "admin", "admin", kLoopback, raw.port(), 0, 0, Inbox::callback),
        MO_OK);
    ASSERT_TRUE(inbox().waitFor(MO_MSG_MONITOR_LOGIN));
    ASSERT_EQ(PlayVideo(kCameraId), MO_OK);
    const auto stopped = inbox().waitFor(MO_MSG_VIDEO_STOP);
    ASSERT_TRUE(stopped);
    EXPECT_EQ(stopped->lParam, MO_ERR_PROTOCOL);
    const auto notes = inbox().all();
    std::vector<Note> frames;
    for (const Note& note : notes) {
        if (isFrame(note))
            frames.push_back(note);
    }
    ASSERT_EQ(frames.size(), 1u) << "only the honest picture";
    EXPECT_EQ(frames[0].frame->timeStamp, 100u);
    EXPECT_EQ(frames[0].data, Bytes(10, 0xAB));
    EXPECT_EQ(frames[0].message, static_cast<unsigned>(MO_MSG_PICTURE_FLUSH));
    EXPECT_TRUE(inbox().of(MO_MSG_MONITOR_END).empty()) << "the operation channel goes on";
    disconnectMonitor();
}

} // namespace
