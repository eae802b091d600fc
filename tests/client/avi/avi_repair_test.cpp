// Recordings whose writer never reached aviClose: killed processes, files cut anywhere, lost or
// lying side files.

#include "AviTestSupport.h"

#include "avi/AviRepair.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace avitest;

namespace {

struct ReadBack {
    std::vector<Frame> video;
    int audio = 0;
};

ReadBack readRecording(const fs::path& path) {
    ReadBack back;
    AviFile* file = aviOpen(path.c_str(), kAviRead);
    if (file == nullptr) {
        return back;
    }
    Bytes buf(1 << 20);
    for (;;) {
        int isKey = 0, length = static_cast<int>(buf.size()), before = 0, after = 0;
        uint32_t code = 0;
        if (aviReadChunk(file, buf.data(), &isKey, &code, &length, &before, &after) != kAviOk) {
            break;
        }
        if (code == aviFourcc("00dc")) {
            back.video.push_back({Bytes(buf.begin(), buf.begin() + length), isKey != 0});
        } else {
            ++back.audio;
        }
    }
    aviClose(file);
    return back;
}

void expectFramesAsWritten(const ReadBack& back, const std::vector<Frame>& frames) {
    ASSERT_LE(back.video.size(), frames.size());
    for (size_t i = 0; i < back.video.size(); ++i) {
        EXPECT_EQ(back.video[i].data, frames[i].data) << i;
        EXPECT_EQ(back.video[i].key, frames[i].key) << i;
    }
}

// The files as a crash would leave them now, with everything handed to the writer on disk.
void snapshot(AviFile* file, const fs::path& from, const fs::path& to) {
    std::fflush(file->file);
    std::fflush(file->indexFile);
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    fs::copy_file(from.string() + "_idx", to.string() + "_idx",
                  fs::copy_options::overwrite_existing);
}

void expectProbeClean(const fs::path& path, const char* codec, int videoFrames, int audioChunks) {
    Probe result = probe(path);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.warnings, "");
    ASSERT_EQ(result.streams.size(), 2u);
    EXPECT_EQ(result.streams[0]["codec_name"], codec);
    EXPECT_EQ(result.streams[0]["nb_read_frames"], std::to_string(videoFrames));
    EXPECT_EQ(result.streams[1]["nb_read_packets"], std::to_string(audioChunks));
    const ToolRun decode =
        runTool("ffmpeg -hide_banner -nostdin -v error -i '" + path.string() + "' -f null -");
    EXPECT_EQ(decode.exitCode, 0);
    EXPECT_EQ(decode.err, "");
}

// The writer runs in a child process that reports each frame through a pipe and is killed
// mid-recording, its stdio buffers unwritten, as a crash or power-off of the program leaves it.
TEST(AviRepair, RecordingOfAKilledWriterProcessPlaysAfterRepair) {
    const std::vector<Frame> frames = cameraFrames("h264", 320, 180, 100);
    ASSERT_EQ(frames.size(), 100u);
    TempFolder folder;
    const fs::path path = folder.file("killed.avi");
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(report[0]);
        RecordingWriter writer(path, {.width = 320, .height = 180});
        for (int i = 0; writer.opened() && i < static_cast<int>(frames.size()); ++i) {
            writer.write(frames[static_cast<size_t>(i)]);
            (void)!::write(report[1], &i, sizeof i);
            usleep(2000);
        }
        for (;;) {
            pause();
        }
    }
    close(report[1]);
    int lastReported = -1;
    while (lastReported < 39 && read(report[0], &lastReported, sizeof lastReported) > 0) {
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    for (int more = 0; read(report[0], &more, sizeof more) > 0;) {
        lastReported = more;
    }
    close(report[0]);
    ASSERT_GE(lastReported, 39);

    testing::internal::CaptureStdout();
    EXPECT_EQ(aviOpen(path.c_str(), kAviRead), nullptr);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("tag fail!"), std::string::npos);

    AviRepairReport repaired;
    ASSERT_EQ(aviRepair(path.c_str(), &repaired), AviRepairResult::Repaired);
    // All but what the 64 KiB chunk buffer held may be lost; the frame being written at the
    // kill may have made it.
    const auto frameBytes = [&](int i) { // video chunk, padded, and its 640-byte audio chunk
        return 8 +
               static_cast<int64_t>((frames[static_cast<size_t>(i)].data.size() + 1) & ~size_t{1}) +
               8 + 640;
    };
    int64_t written = 0;
    for (int i = 0; i <= lastReported; ++i) {
        written += frameBytes(i);
    }
    int safe = 0;
    for (int64_t end = frameBytes(0); end <= written - 64 * 1024; end += frameBytes(++safe)) {
    }
    EXPECT_GE(repaired.videoFrames, safe);
    EXPECT_LE(repaired.videoFrames, lastReported + 2);
    EXPECT_FALSE(fs::exists(path.string() + "_idx"));

    const ReadBack back = readRecording(path);
    EXPECT_EQ(static_cast<int>(back.video.size()), repaired.videoFrames);
    expectFramesAsWritten(back, frames);
    expectProbeClean(path, "h264", repaired.videoFrames, repaired.audioChunks);
    EXPECT_EQ(aviRepair(path.c_str()), AviRepairResult::AlreadyComplete);
}

TEST(AviRepair, WithoutTheSideFileTheChunksAreFoundByScanning) {
    const std::vector<Frame> frames = cameraFrames("mjpeg", 320, 240, 12);
    TempFolder folder;
    const fs::path path = folder.file("live.avi");
    const fs::path lost = folder.file("lost.avi");
    RecordingWriter writer(path, {.handler = kAviHandlerMjpeg, .width = 320, .height = 240});
    for (const Frame& frame : frames) {
        ASSERT_EQ(writer.write(frame), kAviOk);
    }
    snapshot(writer.handle(), path, lost);
    fs::remove(lost.string() + "_idx");

    AviRepairReport repaired;
    ASSERT_EQ(aviRepair(lost.c_str(), &repaired), AviRepairResult::Repaired);
    EXPECT_EQ(repaired.fromSideFile, 0);
    EXPECT_EQ(repaired.fromScan, 24);
    EXPECT_EQ(repaired.droppedBytes, 0);
    expectFramesAsWritten(readRecording(lost), frames);
    expectProbeClean(lost, "mjpeg", 12, 12);
}

// Cut after every few bytes, with the side file of the whole recording beside it (it describes
// chunks the cut file no longer has): repaired, the file holds exactly the whole chunks.
TEST(AviRepair, FileCutAnywhereKeepsEveryWholeChunk) {
    const std::vector<Frame> frames = syntheticFrames({5, 300, 2, 17, 40, 1, 64, 9, 0, 33}, 3);
    TempFolder folder;
    const fs::path path = folder.file("live.avi");
    const fs::path whole = folder.file("whole.avi");
    RecordingWriter writer(path, {.audioSamples = 2});
    std::vector<int64_t> videoEnds; // where each frame's data ends
    int64_t end = 348;
    for (const Frame& frame : frames) {
        ASSERT_EQ(writer.write(frame), kAviOk);
        videoEnds.push_back(end + 8 + static_cast<int64_t>(frame.data.size()));
        end += 8 + static_cast<int64_t>((frame.data.size() + 1) & ~size_t{1}) + 12;
    }
    snapshot(writer.handle(), path, whole);
    const Bytes bytes = readFile(whole);
    const Bytes side = readFile(whole.string() + "_idx");
    ASSERT_EQ(static_cast<int64_t>(bytes.size()), end);

    const fs::path cut = folder.file("cut.avi");
    for (size_t length = 0; length <= bytes.size(); length += 3) {
        writeFile(cut, Bytes(bytes.begin(), bytes.begin() + static_cast<long>(length)));
        writeFile(cut.string() + "_idx", side);
        AviRepairReport repaired;
        const AviRepairResult result = aviRepair(cut.c_str(), &repaired);
        if (length < 348) {
            EXPECT_EQ(result, AviRepairResult::NotARecording) << length;
            continue;
        }
        ASSERT_EQ(result, AviRepairResult::Repaired) << length;
        const ReadBack back = readRecording(cut);
        const auto whole_frames =
            static_cast<size_t>(std::count_if(videoEnds.begin(), videoEnds.end(), [&](int64_t e) {
                return e <= static_cast<int64_t>(length);
            }));
        EXPECT_EQ(back.video.size(), whole_frames) << length;
        expectFramesAsWritten(back, frames);
    }
}

TEST(AviRepair, LeavesFilesItCannotOrNeedNotRepairAsTheyAre) {
    TempFolder folder;
    EXPECT_EQ(aviRepair(folder.file("missing.avi").c_str()), AviRepairResult::CannotOpen);
    EXPECT_EQ(aviRepair(nullptr), AviRepairResult::CannotOpen);

    const fs::path text = folder.file("text.avi");
    const Bytes notes(2000, 'x');
    writeFile(text, notes);
    EXPECT_EQ(aviRepair(text.c_str()), AviRepairResult::NotARecording);
    EXPECT_EQ(readFile(text), notes);

    const fs::path finished = folder.file("finished.avi");
    ASSERT_EQ(writeRecording(finished, {}, syntheticFrames({10, 11, 12}, 2)), kAviOk);
    const Bytes before = readFile(finished);
    EXPECT_EQ(aviRepair(finished.c_str()), AviRepairResult::AlreadyComplete);
    EXPECT_EQ(readFile(finished), before);
    EXPECT_FALSE(fs::exists(finished.string() + "_idx"));
}

} // namespace
