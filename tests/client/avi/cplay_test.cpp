// CPlay as the playback view uses it: open for the summary, read frames, seek by time.

#include "AviTestSupport.h"

#include "avi/CPlay.h"

#include <gtest/gtest.h>

#include <climits>

using namespace avitest;

namespace {

// 75 frames at 25 fps (3 s), key frames 0, 25, 50, one audio block after each frame.
class CPlayTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<int> lengths;
        for (int i = 0; i < 75; ++i) {
            lengths.push_back(100 + i);
        }
        frames = syntheticFrames(lengths, 25);
        path = folder.file("play.avi");
        ASSERT_EQ(writeRecording(path, {}, frames), kAviOk);
        std::string codec;
        int width = 0, height = 0, total = 0, duration = 0;
        ASSERT_EQ(play.open(path.c_str(), codec, width, height, total, duration), 0);
    }
    // The next chunk must be video frame `index`.
    void expectFrame(size_t index) {
        int isKey = 0, length = static_cast<int>(buf.size()), isAudio = -1;
        ASSERT_EQ(play.readFrame(buf.data(), isKey, length, isAudio), 0);
        EXPECT_EQ(isAudio, 0);
        EXPECT_EQ(isKey, frames[index].key ? 1 : 0);
        EXPECT_EQ(Bytes(buf.begin(), buf.begin() + length), frames[index].data);
    }
    TempFolder folder;
    std::vector<Frame> frames;
    fs::path path;
    CPlay play;
    Bytes buf = Bytes(4096);
};

TEST_F(CPlayTest, OpenReportsCodecSizeFramesAndDuration) {
    std::string codec;
    int width = 0, height = 0, total = 0, duration = 0;
    ASSERT_EQ(play.open(path.c_str(), codec, width, height, total, duration), 0);
    EXPECT_EQ(codec, "H264");
    EXPECT_EQ(width, 640);
    EXPECT_EQ(height, 360);
    EXPECT_EQ(total, 75);
    EXPECT_EQ(duration, 3000);

    const fs::path mjpeg = folder.file("mjpeg.avi");
    ASSERT_EQ(writeRecording(mjpeg, {.handler = kAviHandlerMjpeg, .width = 320, .height = 240},
                             syntheticFrames({10}, 1)),
              kAviOk);
    ASSERT_EQ(play.open(mjpeg.c_str(), codec, width, height, total, duration), 0);
    EXPECT_EQ(codec, "MJPG");
    EXPECT_EQ(width, 320);

    EXPECT_EQ(play.open(nullptr, codec, width, height, total, duration), 1);
    EXPECT_EQ(play.open(folder.file("missing.avi").c_str(), codec, width, height, total, duration),
              1);
    writeFile(folder.file("notes.avi"), Bytes(500, 'x'));
    testing::internal::CaptureStdout();
    EXPECT_EQ(play.open(folder.file("notes.avi").c_str(), codec, width, height, total, duration),
              2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "AVI tag fail!\n");
}

TEST_F(CPlayTest, ReadsVideoAndAudioInFileOrderThenTheEnd) {
    for (size_t i = 0; i < frames.size(); ++i) {
        expectFrame(i);
        int isKey = 0, length = static_cast<int>(buf.size()), isAudio = -1;
        ASSERT_EQ(play.readFrame(buf.data(), isKey, length, isAudio), 0);
        EXPECT_EQ(isAudio, 1);
        EXPECT_EQ(Bytes(buf.begin(), buf.begin() + length), pcmBlock(320, static_cast<int>(i)));
    }
    int isKey = 0, length = static_cast<int>(buf.size()), isAudio = 0;
    EXPECT_EQ(play.readFrame(buf.data(), isKey, length, isAudio), 1);
    EXPECT_EQ(play.readFrame(nullptr, isKey, length, isAudio), 2);
    CPlay closed;
    EXPECT_EQ(closed.readFrame(buf.data(), isKey, length, isAudio), 3);
}

TEST_F(CPlayTest, BufferTooSmallIsAnUnreadableChunk) {
    int isKey = 0, length = 10, isAudio = 0;
    EXPECT_EQ(play.readFrame(buf.data(), isKey, length, isAudio), 3);
    expectFrame(0);
}

TEST_F(CPlayTest, SeekTimeLandsOnTheNextKeyFrameAndReportsItsTime) {
    int actual = -1;
    testing::internal::CaptureStdout();
    ASSERT_EQ(play.seekTime(1000, actual), 0);
    EXPECT_EQ(actual, 1000);
    expectFrame(25);
    // 1100 ms is frame 27; the next key frame is 50, 46 entries further.
    ASSERT_EQ(play.seekTime(1100, actual), 0);
    EXPECT_EQ(actual, 2000);
    expectFrame(50);
    // Back to the start after reading on.
    ASSERT_EQ(play.seekTime(0, actual), 0);
    EXPECT_EQ(actual, 0);
    expectFrame(0);

    EXPECT_EQ(play.seekTime(2900, actual), -1); // frame 72: no key frame follows
    EXPECT_EQ(play.seekTime(3001, actual), -1); // past the end
    EXPECT_EQ(play.seekTime(-1, actual), -1);
    CPlay closed;
    EXPECT_EQ(closed.seekTime(0, actual), -1);
    testing::internal::GetCapturedStdout();
}

TEST_F(CPlayTest, ForgedHeaderValuesAreClampedNotOverflowed) {
    Bytes bytes = readFile(path);
    putU32(bytes, 32, 0xfe000000); // microseconds per frame
    putU32(bytes, 48, 0xfe000000); // total frames
    const fs::path forged = folder.file("forged.avi");
    writeFile(forged, bytes);
    std::string codec;
    int width = 0, height = 0, total = 0, duration = 0;
    ASSERT_EQ(play.open(forged.c_str(), codec, width, height, total, duration), 0);
    EXPECT_EQ(total, INT_MAX);
    EXPECT_EQ(duration, INT_MAX);
    int actual = 0;
    testing::internal::CaptureStdout();
    EXPECT_EQ(play.seekTime(1000, actual), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(actual, 25LL * 0xfe000000 / 1000); // frame 25 at the forged frame time
}

} // namespace
