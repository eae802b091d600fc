// Manual recording on the frame thread, starts, restarts and closes, with real H.264 and MJPEG
// frames, ffprobe and ffmpeg as the judges and a copy of the delivered database.

#include "RecordTestSupport.h"

#include "avi/Avi.h"
#include "device/record/RecordNames.h"
#include "device/record/RecordRescan.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

using namespace recordtest;
using Device::kRecordManual;

class ManualRecording : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(h264Frames().size(), 100u);
        fixture.makeRecorder();
        folder = Device::recordFolder(fixture.recordRoot, "192.168.1.64");
    }
    Device::Recorder& recorder() { return *fixture.recorder; }
    bool startManual() { return recorder().CheckCanRecord(folder, kRecordManual); }

    RecordFixture fixture;
    fs::path folder;
};

TEST_F(ManualRecording, StartsOnAKeyFrameKeepsEarlierAudioAndIsEntered) {
    ASSERT_TRUE(startManual());
    EXPECT_TRUE(recorder().IsRecording(kRecordManual));
    EXPECT_TRUE(fs::is_directory(folder));
    // Frames 10 … 49: the first 15 wait for the key frame at 25; their audio is written.
    feedManual(recorder(), h264Frames(), 10, 50, 25);
    const fs::path file = recorder().currentFile(kRecordManual);
    EXPECT_EQ(file, folder / "Manual_20261208101500.avi");
    EXPECT_EQ(recorder().framesWritten(kRecordManual), 25);
    fixture.clock.advanceMs(1000);
    EXPECT_TRUE(recorder().CloseRecord(kRecordManual));
    EXPECT_FALSE(recorder().IsRecording(kRecordManual));
    EXPECT_TRUE(recorder().currentFile(kRecordManual).empty());

    EXPECT_FALSE(fs::exists(file.string() + "_idx"));
    const ChunkCounts chunks = countChunks(file);
    EXPECT_TRUE(chunks.firstVideoKey);
    EXPECT_EQ(chunks.video, 25);
    EXPECT_EQ(chunks.audio, 40);
    EXPECT_EQ(chunks.audioBeforeFirstVideo, 15);
    expectPlayable(file, "h264", 25, 40);

    const auto rows = fixture.rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].ip, "192.168.1.64");
    EXPECT_EQ(rows[0].filename, file.string());
    EXPECT_EQ(rows[0].filetype, 0);
    EXPECT_EQ(rows[0].filedate, "2026-12-08 10:15:00");
    const std::string log = fixture.appLogText();
    EXPECT_NE(log.find("192.168.1.6480:m_bRecord[0]=true"), std::string::npos) << log;
    EXPECT_NE(log.find("192.168.1.6480:m_bRecord[0]=false"), std::string::npos) << log;
}

TEST_F(ManualRecording, RateChangeOfTenKeepsTheFileAndElevenStartsANewOne) {
    ASSERT_TRUE(startManual());
    feedManual(recorder(), h264Frames(), 0, 10, 25);
    const fs::path first = recorder().currentFile(kRecordManual);
    fixture.clock.advanceMs(400);
    feedManual(recorder(), h264Frames(), 10, 25, 35);
    feedManual(recorder(), h264Frames(), 25, 26, 15);
    EXPECT_EQ(recorder().currentFile(kRecordManual), first);
    EXPECT_EQ(recorder().framesWritten(kRecordManual), 26);
    fixture.clock.advanceMs(400);
    // 36 against the 25 the file started with; the new file waits for the key frame at 50.
    feedManual(recorder(), h264Frames(), 26, 60, 36);
    const fs::path second = recorder().currentFile(kRecordManual);
    EXPECT_NE(second, first);
    EXPECT_EQ(recorder().frameRate(kRecordManual), 36);
    EXPECT_EQ(recorder().framesWritten(kRecordManual), 10);
    fixture.clock.advanceMs(400);
    recorder().CloseRecord(kRecordManual);

    // Both began in the same second: the second one has its own name.
    EXPECT_EQ(second, folder / "Manual_2026120810150001.avi");
    expectPlayable(first, "h264", 26, 26);
    expectPlayable(second, "h264", 10, 34);
    EXPECT_EQ(fixture.rows().size(), 2u);
    EXPECT_NE(fixture.appLogText().find("Restart Record: videoFrameRate=36, mFrameRate[0]=25"),
              std::string::npos);
}

// A restart within the millisecond of the start is refused (the measured rate would divide by
// zero); restarts within one second keep every file under a name of its own.
TEST_F(ManualRecording, RestartsInOneSecondKeepEveryFile) {
    ASSERT_TRUE(startManual());
    ASSERT_TRUE(recorder().StartRecord(25, kRecordManual));
    const fs::path first = recorder().currentFile(kRecordManual);
    EXPECT_FALSE(recorder().StartRecord(25, kRecordManual));
    EXPECT_EQ(recorder().currentFile(kRecordManual), first);
    std::vector<fs::path> files{first};
    feedManual(recorder(), h264Frames(), 0, 5, 25);
    for (int i = 0; i < 2; ++i) {
        fixture.clock.advanceMs(1);
        ASSERT_TRUE(recorder().StartRecord(25, kRecordManual));
        feedManual(recorder(), h264Frames(), 0, 5, 25);
        files.push_back(recorder().currentFile(kRecordManual));
    }
    fixture.clock.advanceMs(5);
    recorder().CloseRecord(kRecordManual);
    EXPECT_EQ(files[0].filename(), "Manual_20261208101500.avi");
    EXPECT_EQ(files[1].filename(), "Manual_2026120810150001.avi");
    EXPECT_EQ(files[2].filename(), "Manual_2026120810150002.avi");
    for (const fs::path& file : files)
        EXPECT_EQ(countChunks(file).video, 5) << file;
    const auto rows = fixture.rows();
    ASSERT_EQ(rows.size(), 3u);
    for (const auto& row : rows)
        EXPECT_EQ(row.filedate, "2026-12-08 10:15:00");
    // The rescan reads the names the same way and finds nothing to add.
    const auto report =
        Device::rescanRecordFolders(fixture.database, {fixture.recordRoot.string()});
    EXPECT_EQ(report.recordings, 3);
    EXPECT_EQ(report.inserted, 0);
}

TEST_F(ManualRecording, PathChangeContinuesInANewFileUnderTheNewRoot) {
    ASSERT_TRUE(startManual());
    feedManual(recorder(), h264Frames(), 0, 30, 25);
    const fs::path first = recorder().currentFile(kRecordManual);
    const fs::path newRoot = fixture.folder.file("second-disk");
    fixture.clock.advanceMs(1000);
    recorder().ChangeRecordPath(newRoot.string());
    EXPECT_TRUE(recorder().restartPending(kRecordManual));
    EXPECT_FALSE(recorder().restartPending(Device::kRecordSchedule)); // not recording
    EXPECT_EQ(recorder().recordDirectory(Device::kRecordAlarm),
              newRoot / "Recordfiles_192.168.1.64");
    feedManual(recorder(), h264Frames(), 30, 60, 25);
    const fs::path second = recorder().currentFile(kRecordManual);
    EXPECT_FALSE(recorder().restartPending(kRecordManual));
    EXPECT_EQ(second.parent_path(), newRoot / "Recordfiles_192.168.1.64");
    fixture.clock.advanceMs(1000);
    recorder().CloseRecord(kRecordManual);
    expectPlayable(first, "h264", 30, 30);
    // The new file begins with the key frame at 50.
    expectPlayable(second, "h264", 10, 30);
    EXPECT_EQ(fixture.rows().size(), 2u);
}

TEST_F(ManualRecording, StopBeforeTheFirstFrameStopsForGood) {
    ASSERT_TRUE(startManual());
    recorder().CloseRecord(kRecordManual);
    EXPECT_FALSE(recorder().IsRecording(kRecordManual));
    feedManual(recorder(), h264Frames(), 0, 30, 25);
    EXPECT_TRUE(aviFiles(folder).empty());
    EXPECT_TRUE(fixture.rows().empty());
}

TEST_F(ManualRecording, NothingStartsWhenClosedOrOutOfDiskOrTheFolderCannotBeMade) {
    fixture.session.open = false;
    EXPECT_FALSE(startManual());
    fixture.session.open = true;
    fixture.session.allowed = false;
    EXPECT_FALSE(startManual());
    fixture.session.allowed = true;
    std::ofstream(fixture.folder.file("plain-file")) << "x";
    EXPECT_FALSE(recorder().CheckCanRecord(fixture.folder.file("plain-file") / "sub", 0));
    EXPECT_FALSE(recorder().IsRecording(kRecordManual));
    EXPECT_FALSE(recorder().CheckCanRecord(folder, 3));
}

TEST_F(ManualRecording, DatabaseFailureKeepsTheFileForTheRescan) {
    fixture.database.executenonquery("alter table recordfile rename to recordfile_away;");
    ASSERT_TRUE(startManual());
    feedManual(recorder(), h264Frames(), 0, 30, 25);
    const fs::path file = recorder().currentFile(kRecordManual);
    fixture.clock.advanceMs(1000);
    testing::internal::CaptureStderr();
    recorder().CloseRecord(kRecordManual);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Exception Occured: "),
              std::string::npos);
    EXPECT_NE(fixture.appLogText().find("DATABASE FAIL"), std::string::npos);
    expectPlayable(file, "h264", 30, 30);

    fixture.database.executenonquery("alter table recordfile_away rename to recordfile;");
    const auto report =
        Device::rescanRecordFolders(fixture.database, {fixture.recordRoot.string()});
    EXPECT_EQ(report.inserted, 1);
    const auto rows = fixture.rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].filename, file.string());
}

TEST_F(ManualRecording, MjpegCameraRecordsMjpg) {
    fixture.session.classCodeValue = 16;
    fixture.makeRecorder();
    ASSERT_EQ(mjpegFrames().size(), 12u);
    ASSERT_TRUE(startManual());
    feedManual(recorder(), mjpegFrames(), 0, 12, 12, 320, 240);
    EXPECT_EQ(recorder().headers(kRecordManual).videoHeader.handler, kAviHandlerMjpeg);
    const fs::path file = recorder().currentFile(kRecordManual);
    fixture.clock.advanceMs(1000);
    recorder().CloseRecord(kRecordManual);
    expectPlayable(file, "mjpeg", 12, 12);
    EXPECT_EQ(avitest::probe(file).streams.at(0)["height"], "240");
}

// A file that refuses further chunks (256 MiB of "movi") continues in a new file even at a
// frame rate of 10 or less, where a rate comparison against 0 would never restart it.
TEST_F(ManualRecording, FullFileContinuesInANewFileAtLowFrameRates) {
    ASSERT_TRUE(startManual());
    avitest::Bytes big(1 << 20, 0);
    big[0] = 0;
    big[1] = 0;
    big[2] = 1;
    big[3] = 0x65; // an IDR slice header, so the frame counts as a key frame
    Frame frame{big, true};
    int written = 0;
    const auto inFirstFile = [&] {
        const fs::path file = recorder().currentFile(kRecordManual);
        return file.empty() || file.filename() == "Manual_20261208101500.avi";
    };
    for (; written < 300 && inFirstFile(); ++written) {
        fixture.clock.advanceMs(200);
        recorder().onManualVideo(headOf(frame, 5), 320, 180);
    }
    // 256 chunks of 1 MiB fill the file, the 257th is refused, the 258th opens the next file.
    EXPECT_EQ(written, 258);
    EXPECT_EQ(recorder().framesWritten(kRecordManual), 1);
    recorder().onManualVideo(headOf(frame, 5), 320, 180);
    EXPECT_EQ(recorder().framesWritten(kRecordManual), 2);
    recorder().CloseRecord(kRecordManual);
    const auto files = aviFiles(folder);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(countChunks(files[0]).video, 256);
    fs::remove(files[0]);
}

} // namespace
