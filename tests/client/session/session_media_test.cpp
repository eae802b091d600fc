// What an operator does with a live camera, through the session: record by hand, take a
// snapshot, talk. Real simulated camera, a copy of the delivered database, the disk guard.

#include "AviTestSupport.h"
#include "ControlTestSupport.h"
#include "DeviceFactory.h"
#include "camsim/H264Camera.h"
#include "db/Statements.h"
#include "db/sqlite3x.h"
#include "device/PubFun.h"

#include "video/DDraw.h"

#include <QApplication>
#include <QImage>
#include <QWidget>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

bool waitUntil(std::chrono::milliseconds timeout, const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (done())
            return true;
        std::this_thread::sleep_for(20ms);
    }
    return done();
}

std::vector<fs::path> filesIn(const fs::path& folder, const std::string& extension) {
    std::vector<fs::path> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
        if (entry.path().extension() == extension)
            found.push_back(entry.path());
    return found;
}

class SessionMedia : public controltest::WavMicrophone {
protected:
    void SetUp() override {
        WavMicrophone::SetUp();
        root = fs::temp_directory_path() / ("vistaro-session-media-" + std::to_string(::getpid()));
        fs::remove_all(root);
        fs::create_directories(root / "records");
        fs::create_directories(root / "pictures");
        fs::copy_file(VISTARO_DELIVERED_DB, root / "doDAV.db");
        database.open(root / "doDAV.db");
        // The delivered database has no path row yet: the client writes it on first use.
        sqlite3x::sqlite3_command paths(
            database, "insert into path(autologpath, picturepath, logHistory, captureMode, "
                      "recordpath) values('', ?, 0, 0, ?);");
        paths.bind(1, (root / "pictures").string());
        paths.bind(2, (root / "records").string());
        paths.executenonquery();
        pubFun = std::make_unique<client::CPubFun>(database, databaseLock, nullptr);
        ASSERT_TRUE(pubFun->SelectPathfromDB());

        environment.pubFun = pubFun.get();
        environment.record.database = &database;
        environment.record.databaseLock = &databaseLock;

        camsim::CameraConfig config;
        config.listenAddress = "127.0.0.1";
        config.udt = false;
        const auto ports = camera.start(config);
        ASSERT_TRUE(ports);
        session = Device::createDevice(environment, nullptr, Device::kClassH264);
        session->SetAddress("127.0.0.1", ports->port, ports->webPort);
        session->SetUser("admin", "admin");
        session->SetStreamType(session->SwitchStream());
        session->OpenDevice(nullptr, false);
        ASSERT_TRUE(waitUntil(10s, [&] { return session->online(); }));
    }
    void TearDown() override {
        session.reset();
        camera.stop();
        pubFun.reset();
        database.close();
        fs::remove_all(root);
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

    const auto files = filesIn(root / "records" / "Recordfiles_127.0.0.1", ".avi");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files.front().filename().string().rfind("Alarm_", 0), 0u);
    const auto probe = avitest::probe(files.front());
    ASSERT_EQ(probe.exitCode, 0) << probe.warnings;
    EXPECT_GE(std::stoi(probe.streams.at(0).at("nb_read_frames")), 25);
    std::lock_guard lock(databaseLock);
    const auto rows = db::selectRecordFiles(database);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows.front().filetype, 2);
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

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
