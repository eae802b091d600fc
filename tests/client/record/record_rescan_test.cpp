// The rescan of the record folders: which folders and files count, what is entered, and the
// repair of recordings cut by a crash.

#include "RecordTestSupport.h"

#include "avi/Avi.h"
#include "device/record/RecordNames.h"
#include "device/record/RecordRescan.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <map>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace recordtest;

std::map<std::string, db::RecordFileRow> rowsByName(RecordFixture& fixture) {
    std::map<std::string, db::RecordFileRow> rows;
    for (auto& row : fixture.rows())
        rows[row.filename] = row;
    return rows;
}

void writeRecordingAt(const fs::path& file) {
    fs::create_directories(file.parent_path());
    std::vector<Frame> frames(h264Frames().begin(), h264Frames().begin() + 5);
    ASSERT_EQ(avitest::writeRecording(file, {.width = 320, .height = 180}, frames), kAviOk);
    fs::remove(file.string() + "_idx");
}

TEST(RecordRescan, FolderAndFileRulesDecideWhatIsEntered) {
    RecordFixture fixture;
    const fs::path root = fixture.recordRoot;
    const fs::path other = fixture.folder.file("other-disk");
    const fs::path byIp = root / "Recordfiles_192.168.1.64";
    const fs::path byUid = other / "Recordfiles_ABCDEFGHIJ0123456789";
    writeRecordingAt(byIp / "Manual_20261208101500.avi");
    writeRecordingAt(byIp / "Schedule_2026120810150001.avi");
    writeRecordingAt(byUid / "Alarm_20270102030405.avi");
    // Names that are not recordings, in a camera folder.
    for (const char* name : {"Manual_2026.avi", "Manual_20261208101500.avi.bak", "notes.txt",
                             "Manual_20261208101500_1.avi", "Snapshot_20261208101500.avi"}) {
        std::ofstream(byIp / name) << "x";
    }
    // Folders that do not name a camera, holding a recording each.
    for (const char* folder :
         {"Recordfiles_256.1.1.1", "Recordfiles_abcdefghij0123456789", "Recordfiles_1.2.3",
          "Recordfiles_ABCDEFGHIJ012345678", "recordfiles_1.2.3.4", "Other_1.2.3.4"}) {
        writeRecordingAt(root / folder / "Manual_20261208101500.avi");
    }
    // A link to a camera folder is not followed; a recording's name on a folder is no file.
    fs::create_directory_symlink(byIp, root / "Recordfiles_10.0.0.1");
    fs::create_directories(root / "Recordfiles_10.0.0.2" / "Manual_20261208101500.avi");
    // A row that exists already.
    db::insertRecordFile(
        fixture.database,
        {"192.168.1.64", (byIp / "Manual_20261208101500.avi").string(), 0, "2026-12-08 10:15:00"});

    const std::vector<std::string> paths{root.string(), "", fixture.folder.file("absent").string(),
                                         other.string() + "/"};
    const Device::RescanReport report = Device::rescanRecordFolders(fixture.database, paths);
    EXPECT_EQ(report.cameraFolders, 3);
    EXPECT_EQ(report.recordings, 3);
    EXPECT_EQ(report.inserted, 2);
    EXPECT_EQ(report.repaired, 0);
    EXPECT_EQ(report.failed, 0);

    const auto rows = rowsByName(fixture);
    ASSERT_EQ(rows.size(), 3u);
    const auto& schedule = rows.at((byIp / "Schedule_2026120810150001.avi").string());
    EXPECT_EQ(schedule.ip, "192.168.1.64");
    EXPECT_EQ(schedule.filetype, 1);
    EXPECT_EQ(schedule.filedate, "2026-12-08 10:15:00");
    const auto& alarm = rows.at((byUid / "Alarm_20270102030405.avi").string());
    EXPECT_EQ(alarm.ip, "ABCDEFGHIJ0123456789");
    EXPECT_EQ(alarm.filetype, 2);
    EXPECT_EQ(alarm.filedate, "2027-01-02 03:04:05");

    // A second rescan finds everything known.
    const Device::RescanReport again = Device::rescanRecordFolders(fixture.database, paths);
    EXPECT_EQ(again.recordings, 3);
    EXPECT_EQ(again.inserted, 0);
    EXPECT_EQ(fixture.rows().size(), 3u);
}

// A child process records manually and is killed mid-recording, as a crash or a power cut
// leaves the file: no index, zero sizes, the last buffered chunks lost.
TEST(RecordRescan, RecordingCutByACrashIsRepairedEnteredAndPlays) {
    RecordFixture fixture;
    const std::vector<Frame>& frames = h264Frames();
    ASSERT_EQ(frames.size(), 100u);
    const fs::path folder = Device::recordFolder(fixture.recordRoot, "192.168.1.64");
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(report[0]);
        Device::RecordServices services;
        services.clock = &fixture.clock;
        auto* recorder = new Device::Recorder(fixture.session, services);
        if (recorder->CheckCanRecord(folder, Device::kRecordManual)) {
            for (int i = 0; i < static_cast<int>(frames.size()); ++i) {
                feedManual(*recorder, frames, static_cast<size_t>(i), static_cast<size_t>(i) + 1,
                           25);
                (void)!::write(report[1], &i, sizeof i);
                usleep(2000);
            }
        }
        for (;;)
            pause();
    }
    close(report[1]);
    int last = -1;
    while (last < 69 && read(report[0], &last, sizeof last) > 0) {
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(report[0]);
    ASSERT_GE(last, 69);

    const fs::path file = folder / "Manual_20261208101500.avi";
    ASSERT_TRUE(fs::exists(file.string() + "_idx"));
    EXPECT_EQ(countChunks(file).video, 0); // unreadable as it is

    const Device::RescanReport rescan =
        Device::rescanRecordFolders(fixture.database, {fixture.recordRoot.string()},
                                    {&fixture.databaseLock, fixture.appLog.get(), {}});
    EXPECT_EQ(rescan.repaired, 1);
    EXPECT_EQ(rescan.inserted, 1);
    EXPECT_FALSE(fs::exists(file.string() + "_idx"));
    const ChunkCounts chunks = countChunks(file);
    // At most the 64 KiB the writer buffers is lost; the frames are 1-3 KB.
    EXPECT_GE(chunks.video, 30);
    EXPECT_LE(chunks.video, last + 1);
    EXPECT_TRUE(chunks.firstVideoKey);
    expectPlayable(file, "h264", chunks.video, chunks.audio);
    const auto rows = fixture.rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].filename, file.string());
    EXPECT_EQ(rows[0].filetype, 0);
    EXPECT_NE(fixture.appLogText().find("repaired " + file.string()), std::string::npos);
}

// A recording whose close failed keeps its side file and may have its row already: the rescan
// repairs it without entering it twice.
TEST(RecordRescan, SideFileBesideAKnownRecordingIsRepaired) {
    RecordFixture fixture;
    const fs::path folder = Device::recordFolder(fixture.recordRoot, "10.1.2.3");
    const fs::path file = folder / "Alarm_20261208101500.avi";
    fs::create_directories(folder);
    {
        const fs::path scratch = fixture.folder.file("scratch.avi");
        avitest::RecordingWriter writer(scratch, {.width = 320, .height = 180});
        ASSERT_TRUE(writer.opened());
        for (size_t i = 0; i < 40; ++i)
            writer.write(h264Frames()[i]);
        std::fflush(writer.handle()->file);
        std::fflush(writer.handle()->indexFile);
        fs::copy_file(scratch, file);
        fs::copy_file(scratch.string() + "_idx", file.string() + "_idx");
    }
    db::insertRecordFile(fixture.database, {"10.1.2.3", file.string(), 2, "2026-12-08 10:15:00"});
    const Device::RescanReport report =
        Device::rescanRecordFolders(fixture.database, {fixture.recordRoot.string()});
    EXPECT_EQ(report.repaired, 1);
    EXPECT_EQ(report.inserted, 0);
    expectPlayable(file, "h264", 40, 40);
    EXPECT_EQ(fixture.rows().size(), 1u);
}

// A recording this process is writing is neither repaired nor entered by the rescan; it is
// entered once, when it is closed, and plays whole.
TEST(RecordRescan, RecordingsBeingWrittenAreLeftAlone) {
    RecordFixture fixture;
    fixture.makeRecorder();
    const fs::path folder = Device::recordFolder(fixture.recordRoot, "192.168.1.64");
    ASSERT_TRUE(fixture.recorder->CheckCanRecord(folder, Device::kRecordManual));
    feedManual(*fixture.recorder, h264Frames(), 0, 30, 25);
    const Device::RescanReport report =
        Device::rescanRecordFolders(fixture.database, {fixture.recordRoot.string()});
    EXPECT_EQ(report.recordings, 1);
    EXPECT_EQ(report.skippedOpen, 1);
    EXPECT_EQ(report.repaired, 0);
    EXPECT_TRUE(fixture.rows().empty());
    feedManual(*fixture.recorder, h264Frames(), 30, 60, 25);
    const fs::path file = fixture.recorder->currentFile(Device::kRecordManual);
    fixture.clock.advanceMs(1000);
    fixture.recorder->CloseRecord(Device::kRecordManual);
    expectPlayable(file, "h264", 60, 60);
    EXPECT_EQ(fixture.rows().size(), 1u);
    EXPECT_EQ(Device::rescanRecordFolders(fixture.database, {fixture.recordRoot.string()}).inserted,
              0);
}

} // namespace
