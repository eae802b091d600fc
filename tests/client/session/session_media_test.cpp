// What an operator does with a live camera, through the session: record by hand, take a
// snapshot, talk. Real simulated camera, a copy of the delivered database, the disk guard.

#include "AviTestSupport.h"
#include "ControlTestSupport.h"
#include "SessionTestSupport.h"
#include "db/Statements.h"
#include "db/sqlite3x.h"
#include "device/PubFun.h"
#include "device/record/RecordRescan.h"
#include "video/DDraw.h"

#include <QApplication>
#include <QImage>
#include <QWidget>

#include <gtest/gtest.h>

#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

using sessiontest::waitUntil;

std::vector<fs::path> filesIn(const fs::path& folder, const std::string& extension) {
    std::vector<fs::path> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
        if (entry.path().extension() == extension)
            found.push_back(entry.path());
    return found;
}

// A data folder as the client keeps it: the delivered database with its path row (the client
// writes it on first use), record and picture folders.
void seedDataFolder(const fs::path& root) {
    fs::remove_all(root);
    fs::create_directories(root / "records");
    fs::create_directories(root / "pictures");
    fs::copy_file(VISTARO_DELIVERED_DB, root / "doDAV.db");
    sqlite3x::sqlite3_connection database;
    database.open(root / "doDAV.db");
    sqlite3x::sqlite3_command paths(database,
                                    "insert into path(autologpath, picturepath, logHistory, "
                                    "captureMode, recordpath) values('', ?, 0, 0, ?);");
    paths.bind(1, (root / "pictures").string());
    paths.bind(2, (root / "records").string());
    paths.executenonquery();
}

// A weekly plan for `mac`: every day the same three words of half-hour bits.
void insertPlan(sqlite3x::sqlite3_connection& database, const std::string& mac,
                const std::string& day) {
    sqlite3x::sqlite3_command plan(database,
                                   "insert into recordplan(day0,day1,day2,day3,day4,day5,day6,"
                                   "pEnable,aEnable,mac) values(?,?,?,?,?,?,?,1,0,?);");
    for (int column = 1; column <= 7; ++column)
        plan.bind(column, day);
    plan.bind(8, mac);
    plan.executenonquery();
}

class SessionMedia : public controltest::WavMicrophone {
protected:
    void SetUp() override {
        WavMicrophone::SetUp();
        root = fs::temp_directory_path() / ("vistaro-session-media-" + std::to_string(::getpid()));
        seedDataFolder(root);
        database.open(root / "doDAV.db");
        pubFun = std::make_unique<client::CPubFun>(database, databaseLock, nullptr);
        ASSERT_TRUE(pubFun->SelectPathfromDB());

        environment.pubFun = pubFun.get();
        environment.record.database = &database;
        environment.record.databaseLock = &databaseLock;

        const auto ports = sessiontest::startLoopbackH264(camera);
        ASSERT_TRUE(ports);
        session = sessiontest::openSession(environment, Device::kClassH264, "127.0.0.1",
                                           ports->port, ports->webPort);
        ASSERT_TRUE(waitUntil(10s, [&] { return session->online(); }));
    }
    void TearDown() override {
        session.reset();
        camera.stop();
        pubFun.reset();
        database.close();
        fs::remove_all(root);
    }

    // The camera's folder holds one recording, named for its kind, that ffprobe reads with at
    // least `frames` pictures, and the table one row of that kind.
    void expectOneRecording(const std::string& prefix, int frames, int kind) {
        const auto files = filesIn(root / "records" / "Recordfiles_127.0.0.1", ".avi");
        ASSERT_EQ(files.size(), 1u);
        EXPECT_EQ(files.front().filename().string().rfind(prefix, 0), 0u);
        const auto probe = avitest::probe(files.front());
        ASSERT_EQ(probe.exitCode, 0) << probe.warnings;
        EXPECT_GE(std::stoi(probe.streams.at(0).at("nb_read_frames")), frames);
        std::lock_guard lock(databaseLock);
        const auto rows = db::selectRecordFiles(database);
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows.front().filetype, kind);
    }

    fs::path root;
    sqlite3x::sqlite3_connection database;
    std::mutex databaseLock;
    std::unique_ptr<client::CPubFun> pubFun;
    Device::DeviceEnvironment environment;
    camsim::H264Camera camera;
    std::unique_ptr<Device::CSigleDevice> session;
};

TEST_F(SessionMedia, ManualRecordingIsPlayableAndIndexed) {
    session->OpenAudio(); // main stream: PCM sound goes into the file too
    ASSERT_TRUE(session->StartManualRecord()) << "record path: " << pubFun->GetRecordPath();
    EXPECT_TRUE(session->IsRecording());
    // The file starts at the next key frame (one a second); then two seconds of pictures.
    ASSERT_TRUE(waitUntil(10s, [&] { return session->recorder().framesWritten(0) >= 50; }));
    session->CloseRecord(0);
    EXPECT_FALSE(session->IsRecording());

    const auto files = filesIn(root / "records" / "Recordfiles_127.0.0.1", ".avi");
    ASSERT_EQ(files.size(), 1u);
    const auto probe = avitest::probe(files.front());
    ASSERT_EQ(probe.exitCode, 0) << probe.warnings;
    ASSERT_EQ(probe.streams.size(), 2u);
    EXPECT_EQ(probe.streams[0].at("codec_name"), "h264");
    EXPECT_GE(std::stoi(probe.streams[0].at("nb_read_frames")), 50);
    EXPECT_EQ(probe.streams[1].at("codec_name"), "pcm_s16le");

    std::lock_guard lock(databaseLock);
    const auto rows = db::selectRecordFiles(database);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows.front().ip, "127.0.0.1");
    EXPECT_EQ(rows.front().filetype, 0);
    EXPECT_EQ(fs::path(rows.front().filename), files.front());
}

TEST_F(SessionMedia, SnapshotLandsAsAJpegInTheCamerasPictureFolder) {
    session->SendPtz(25);
    const fs::path folder = root / "pictures" / "Images_127.0.0.1";
    // The writer creates the file and fills it in one go; wait until it holds the whole picture.
    ASSERT_TRUE(waitUntil(10s, [&] {
        const auto found = filesIn(folder, ".jpg");
        return !found.empty() && fs::file_size(found.front()) > 1000;
    }));
    const auto bytes = avitest::readFile(filesIn(folder, ".jpg").front());
    ASSERT_GT(bytes.size(), 1000u);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xD8);
}

TEST_F(SessionMedia, TalkCarriesTheMicrophonesToneToTheCamera) {
    ASSERT_TRUE(session->OpenTalk());
    ASSERT_TRUE(waitUntil(10s, [&] { return session->IsTalkOpen(); })) << "talk never granted";
    ASSERT_TRUE(waitUntil(10s, [&] { return camera.talkPcm().size() >= 8000; }));
    EXPECT_NEAR(controltest::dominantFrequency(camera.talkPcm()), 1000, 30);
    session->CloseTalk();
}

// A camera alarm that asks for recording makes an alarm file for the alarm's duration.
TEST_F(SessionMedia, CameraAlarmRecordsForItsDuration) {
    ASSERT_TRUE(session->StartPlanThread("00:CA:5E:5E:00:01"));
    camsim::AlarmNotice alarm;
    alarm.recordOnAlarm = 1;
    alarm.durationSeconds = 3;
    ASSERT_TRUE(waitUntil(5s, [&] { return camera.sendAlarm(alarm) == 1; }));
    ASSERT_TRUE(waitUntil(5s, [&] { return session->recorder().IsRecording(2); }))
        << "the alarm did not start alarm recording";
    ASSERT_TRUE(waitUntil(10s, [&] { return !session->recorder().IsRecording(2); }))
        << "the alarm never ended";
    session->StopPlanThread();

    expectOneRecording("Alarm_", 25, 2);
}

// A plan that covers the whole week records while the plan thread runs; one that covers nothing
// never starts a file.
TEST_F(SessionMedia, ScheduleRecordingFollowsTheCamerasPlan) {
    {
        std::lock_guard lock(databaseLock);
        insertPlan(database, "00:CA:5E:5E:00:02", "4294967295,4294967295,4294967295-0,0,0");
        insertPlan(database, "00:CA:5E:5E:00:03", "0,0,0-0,0,0");
    }
    session->SetRecordEnable(false, true);
    ASSERT_TRUE(session->StartPlanThread("00:CA:5E:5E:00:03"));
    std::this_thread::sleep_for(2500ms);
    EXPECT_FALSE(session->recorder().IsRecording(1)) << "recording outside the plan";
    session->StopPlanThread();

    ASSERT_TRUE(session->StartPlanThread("00:CA:5E:5E:00:02"));
    ASSERT_TRUE(waitUntil(10s, [&] { return session->recorder().framesWritten(1) >= 50; }))
        << "the plan did not start schedule recording";
    session->StopPlanThread();
    EXPECT_FALSE(session->recorder().IsRecording(1)) << "the plan thread left its file open";

    expectOneRecording("Schedule_", 50, 1);
}

// The status dots sit in the pane's bottom-right corner: green while recording by hand.
TEST_F(SessionMedia, StatusDotsShowWhatIsRecording) {
    QWidget window;
    window.resize(640, 480);
    CDDrawView view;
    ASSERT_TRUE(view.InitDDraw7(&window, 1280, 960));
    window.show();
    QApplication::processEvents();
    environment.view = &view;
    Device::ViewPane pane;
    pane.paneId = 0;
    session->OpenDevice(&pane, false);

    RECT r{};
    ASSERT_TRUE(view.GetPaneRect(0, &r));
    const auto pixel = [&](long fromRight) {
        QApplication::processEvents();
        return view.grabBackBuffer().pixel(int(r.right - fromRight), int(r.bottom - 30)) |
               0xff000000;
    };
    const auto seen = [&](long fromRight, QRgb colour) {
        return waitUntil(5s, [&] { return pixel(fromRight) == colour; });
    };
    ASSERT_TRUE(waitUntil(10s, [&] { return pixel(200) != 0xff101216; })) << "no picture";
    EXPECT_NE(pixel(15), 0xff00ff00u) << "a green dot before recording";

    ASSERT_TRUE(session->StartManualRecord());
    EXPECT_TRUE(seen(15, 0xff00ff00)) << "no green dot while recording by hand";
    EXPECT_NE(pixel(40), 0xff0000ffu) << "a blue dot without schedule recording";
    session->CloseRecord(0);
    EXPECT_TRUE(waitUntil(5s, [&] { return pixel(15) != 0xff00ff00; }));
    session->DetachPane();
    environment.view = nullptr;
}

// The child of the crash test: a client's session recording by hand from its own simulated
// camera into `root`. Prints "recording" once frames are on disk, then goes on until killed.
int recordUntilKilled(const fs::path& root) {
    sqlite3x::sqlite3_connection database;
    database.open(root / "doDAV.db");
    std::mutex databaseLock;
    client::CPubFun pubFun(database, databaseLock, nullptr);
    if (!pubFun.SelectPathfromDB())
        return 2;
    Device::DeviceEnvironment environment;
    environment.pubFun = &pubFun;
    environment.record.database = &database;
    environment.record.databaseLock = &databaseLock;
    camsim::H264Camera camera;
    const auto ports = sessiontest::startLoopbackH264(camera);
    if (!ports)
        return 3;
    auto session = sessiontest::openSession(environment, Device::kClassH264, "127.0.0.1",
                                            ports->port, ports->webPort);
    if (!waitUntil(10s, [&] { return session->online(); }))
        return 4;
    session->OpenAudio();
    if (!session->StartManualRecord() ||
        !waitUntil(10s, [&] { return session->recorder().framesWritten(0) >= 60; }))
        return 5;
    std::printf("recording\n");
    std::fflush(stdout);
    for (;;)
        pause();
}

std::string selfPath;

// The whole client is killed while it records (a crash, a power cut); at its next start the
// rescan finds the cut file, repairs it and enters it, and it plays.
TEST(SessionCrash, ARecordingCutByAKillIsRepairedAndIndexedAtTheNextStart) {
    const fs::path root =
        fs::temp_directory_path() / ("vistaro-session-crash-" + std::to_string(::getpid()));
    seedDataFolder(root);
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        const std::string rootArg = root.string();
        execl(selfPath.c_str(), selfPath.c_str(), "--record-until-killed", rootArg.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    FILE* report = fdopen(out[0], "r");
    char line[64] = {};
    const bool recording = std::fgets(line, sizeof line, report) != nullptr &&
                           std::strncmp(line, "recording", 9) == 0;
    std::this_thread::sleep_for(500ms);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    std::fclose(report);
    ASSERT_TRUE(recording) << "the child did not record; exit status " << WEXITSTATUS(status);

    const fs::path folder = root / "records" / "Recordfiles_127.0.0.1";
    const auto cut = filesIn(folder, ".avi");
    ASSERT_EQ(cut.size(), 1u);
    EXPECT_TRUE(fs::exists(cut.front().string() + "_idx")) << "the file was closed after all";

    sqlite3x::sqlite3_connection database;
    database.open(root / "doDAV.db");
    std::mutex databaseLock;
    client::CPubFun pubFun(database, databaseLock, nullptr);
    ASSERT_TRUE(pubFun.SelectPathfromDB());
    const Device::RescanReport rescan = Device::rescanRecordFolders(
        database, {pubFun.GetRecordPath()}, {&databaseLock, nullptr, {}});
    EXPECT_EQ(rescan.repaired, 1);
    EXPECT_FALSE(fs::exists(cut.front().string() + "_idx"));
    const auto probe = avitest::probe(cut.front());
    ASSERT_EQ(probe.exitCode, 0) << probe.warnings;
    ASSERT_EQ(probe.streams.size(), 2u);
    EXPECT_GE(std::stoi(probe.streams[0].at("nb_read_frames")), 40);
    EXPECT_EQ(probe.streams[1].at("codec_name"), "pcm_s16le");
    const auto rows = db::selectRecordFiles(database);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(fs::path(rows.front().filename), cut.front());
    EXPECT_EQ(rows.front().filetype, 0);
    database.close();
    fs::remove_all(root);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--record-until-killed") == 0)
        return recordUntilKilled(argv[2]);
    selfPath = fs::read_symlink("/proc/self/exe").string();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
