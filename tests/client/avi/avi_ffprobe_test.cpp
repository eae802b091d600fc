// Recordings as FFmpeg's own tools see them: ffprobe reads them without a word of warning and
// with the right streams, and ffmpeg decodes every picture exactly as from the camera's stream.

#include "AviTestSupport.h"

#include "avi/Avi.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace avitest;

namespace {

struct Case {
    const char* name;
    uint32_t handler;
    const char* codec; // ffmpeg's name, also the raw stream format
    int width;
    int height;
    int frames;
};

class AviFfmpegReads : public ::testing::TestWithParam<Case> {};

TEST_P(AviFfmpegReads, RecordingWithoutWarningAndEveryPictureAsSent) {
    const Case& c = GetParam();
    const std::vector<Frame> frames = cameraFrames(c.codec, c.width, c.height, c.frames);
    ASSERT_EQ(frames.size(), static_cast<size_t>(c.frames));
    // Odd lengths must be among them, or the pad byte goes untested here.
    ASSERT_TRUE(std::any_of(frames.begin(), frames.end(),
                            [](const Frame& f) { return f.data.size() % 2 == 1; }));
    TempFolder folder;
    const fs::path path = folder.file("recording.avi");
    ASSERT_EQ(
        writeRecording(path, {.handler = c.handler, .width = c.width, .height = c.height}, frames),
        kAviOk);

    const Probe result = probe(path);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.warnings, "");
    ASSERT_EQ(result.streams.size(), 2u);
    auto video = result.streams[0];
    EXPECT_EQ(video["codec_name"], c.codec);
    EXPECT_EQ(video["width"], std::to_string(c.width));
    EXPECT_EQ(video["height"], std::to_string(c.height));
    EXPECT_EQ(video["nb_read_frames"], std::to_string(c.frames));
    EXPECT_EQ(video["nb_frames"], std::to_string(c.frames)); // the stream length
    EXPECT_EQ(video["r_frame_rate"], "25/1");
    auto audio = result.streams[1];
    EXPECT_EQ(audio["codec_name"], "pcm_s16le");
    EXPECT_EQ(audio["sample_rate"], "8000");
    EXPECT_EQ(audio["channels"], "1");
    EXPECT_EQ(audio["nb_read_packets"], std::to_string(c.frames));
    EXPECT_EQ(audio["nb_frames"], std::to_string(c.frames * 320)); // the stream length: samples

    const ToolRun decode =
        runTool("ffmpeg -hide_banner -nostdin -v error -i '" + path.string() + "' -f null -");
    EXPECT_EQ(decode.exitCode, 0);
    EXPECT_EQ(decode.err, "");

    // The camera's stream as one raw file: ffmpeg must see the same pictures in both.
    Bytes raw;
    for (const Frame& frame : frames) {
        raw.insert(raw.end(), frame.data.begin(), frame.data.end());
    }
    const fs::path rawPath = folder.file("camera.raw");
    writeFile(rawPath, raw);
    const auto expected = pictureHashes(rawPath, c.codec);
    ASSERT_EQ(expected.size(), static_cast<size_t>(c.frames));
    EXPECT_EQ(pictureHashes(path), expected);
}

INSTANTIATE_TEST_SUITE_P(Codecs, AviFfmpegReads,
                         ::testing::Values(Case{"H264", kAviHandlerH264, "h264", 640, 360, 60},
                                           Case{"MJPEG", kAviHandlerMjpeg, "mjpeg", 320, 240, 30}),
                         [](const auto& param) { return std::string(param.param.name); });

} // namespace
