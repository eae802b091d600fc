// Camera sessions headless: real simulated cameras, the drawing grid on the offscreen platform,
// the WAV sound device.

#include "DeviceFactory.h"
#include "H264Device.h"
#include "MJDevice.h"
#include "camsim/H264Camera.h"
#include "camsim/MjpegCamera.h"
#include "video/DDraw.h"
#include "zqaudio/zqaudio.h"

#include <QApplication>
#include <QImage>
#include <QWidget>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr QRgb kEmptyPane = 0xff101216; // what the view fills a pane with before any picture

struct Posted {
    unsigned message;
    intptr_t wParam;
    intptr_t lParam;
};

// Window messages the sessions post, as a test waits for them.
class MessageLog {
public:
    Device::DeviceEnvironment::Post sink() {
        return [this](unsigned message, intptr_t w, intptr_t l) {
            std::lock_guard lock(m_lock);
            m_posted.push_back({message, w, l});
        };
    }
    bool waitFor(unsigned message, intptr_t w, intptr_t l, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            if (count(message, w, l) > 0)
                return true;
            QApplication::processEvents();
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }
    size_t count(unsigned message, intptr_t w, intptr_t l) {
        std::lock_guard lock(m_lock);
        size_t n = 0;
        for (const auto& p : m_posted)
            n += p.message == message && p.wParam == w && p.lParam == l;
        return n;
    }
    size_t count(unsigned message, intptr_t w) {
        std::lock_guard lock(m_lock);
        size_t n = 0;
        for (const auto& p : m_posted)
            n += p.message == message && p.wParam == w;
        return n;
    }

private:
    std::mutex m_lock;
    std::vector<Posted> m_posted;
};

// Pixels of a pane that are neither the empty-pane colour nor black (a cleared pane), in the
// back buffer.
int paintedPixels(CDDrawView& view, int pane) {
    RECT r{};
    if (!view.GetPaneRect(pane, &r))
        return -1;
    const QImage image = view.grabBackBuffer();
    int painted = 0;
    for (long y = r.top; y < r.bottom; y += 4)
        for (long x = r.left; x < r.right; x += 4)
        {
            const QRgb pixel = image.pixel(int(x), int(y)) | 0xff000000;
            painted += pixel != kEmptyPane && pixel != 0xff000000;
        }
    return painted;
}

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        window.resize(800, 600);
        ASSERT_TRUE(view.InitDDraw7(&window, 1920, 1080));
        window.show();
        QApplication::processEvents();
        environment.view = &view;
        environment.postTree = tree.sink();
        environment.postMain = main.sink();
        for (int i = 0; i < 4; ++i) {
            panes[i].paneId = static_cast<int16_t>(i);
            panes[i].treeId = 1000 + i;
        }
    }
    void TearDown() override {
        sessions.clear();
        h264.stop();
        mjpeg.stop();
        if (environment.playDevice)
            ReleasePlayDev(environment.playDevice);
    }

    Device::CSigleDevice& openH264(Device::ViewPane* pane, const char* password = "admin") {
        camsim::CameraConfig config;
        config.listenAddress = "127.0.0.1";
        config.udt = false;
        const auto ports = h264.start(config);
        EXPECT_TRUE(ports);
        auto session = Device::createDevice(environment, nullptr, Device::kClassH264);
        session->SetAddress("127.0.0.1", ports->port, ports->webPort);
        session->SetUser("admin", password);
        session->SetStreamType(session->SwitchStream());
        session->OpenDevice(pane, false);
        sessions.push_back(std::move(session));
        return *sessions.back();
    }

    Device::CSigleDevice& openMjpeg(Device::ViewPane* pane) {
        camsim::MjpegCameraConfig config;
        config.listenAddress = "127.0.0.1";
        const auto ports = mjpeg.start(config);
        EXPECT_TRUE(ports);
        auto session = Device::createDevice(environment, nullptr, Device::kClassMjpeg);
        session->SetAddress("127.0.0.1", ports->port, ports->webPort);
        session->SetUser("admin", "admin");
        session->SetStreamType(session->SwitchStream());
        session->OpenDevice(pane, false);
        sessions.push_back(std::move(session));
        return *sessions.back();
    }

    bool waitPainted(int pane, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            QApplication::processEvents();
            if (paintedPixels(view, pane) > 100)
                return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

    QWidget window;
    CDDrawView view;
    Device::DeviceEnvironment environment;
    MessageLog tree;
    MessageLog main;
    Device::ViewPane panes[4];
    camsim::H264Camera h264;
    camsim::MjpegCamera mjpeg;
    std::vector<std::unique_ptr<Device::CSigleDevice>> sessions;
};

TEST_F(SessionTest, FactoryMakesTheThreeClassesOnly) {
    for (int code : {16, 17, 19}) {
        auto session = Device::createDevice(environment, nullptr, code);
        ASSERT_TRUE(session);
        EXPECT_EQ(session->GetClassCode(), code);
    }
    EXPECT_FALSE(Device::createDevice(environment, nullptr, 18));
    EXPECT_FALSE(Device::createDevice(environment, nullptr, 0));
    auto mjpegSession = Device::createDevice(environment, nullptr, 16);
    mjpegSession->SetStreamType(0);
    EXPECT_EQ(mjpegSession->param().streamType, 1) << "MJPEG cameras have one stream";
    // The first toggle starts a session on the main stream.
    auto h264Session = Device::createDevice(environment, nullptr, 17);
    EXPECT_EQ(h264Session->SwitchStream(), 0);
}

TEST_F(SessionTest, BothFamiliesDrawIntoTheirOwnPanesAndReportOnlineAndClosed) {
    auto& first = openH264(&panes[0]);
    auto& second = openMjpeg(&panes[1]);
    ASSERT_TRUE(tree.waitFor(Device::kMsgDeviceState, 0, 1000, 10s)) << "H.264 never online";
    ASSERT_TRUE(tree.waitFor(Device::kMsgDeviceState, 0, 1001, 10s)) << "MJPEG never online";
    EXPECT_EQ(panes[0].state.load(), Device::ViewPane::kPlaying);
    EXPECT_EQ(panes[1].state.load(), Device::ViewPane::kPlaying);
    EXPECT_TRUE(first.online());
    EXPECT_TRUE(second.online());

    ASSERT_TRUE(waitPainted(0, 10s)) << "no H.264 picture in pane 0";
    ASSERT_TRUE(waitPainted(1, 10s)) << "no MJPEG picture in pane 1";
    EXPECT_EQ(paintedPixels(view, 2), 0) << "pictures leaked into a pane of no camera";

    first.CloseDevice(true);
    EXPECT_EQ(tree.count(Device::kMsgDeviceState, 1, 1000), 1u);
    EXPECT_EQ(panes[0].state.load(), Device::ViewPane::kClosed);
    QApplication::processEvents();
    EXPECT_EQ(paintedPixels(view, 0), 0) << "a closed camera's pane is cleared";
    EXPECT_FALSE(first.IsAttached());
}

TEST_F(SessionTest, OpeningAnOpenSessionOnlyAttachesThePane) {
    auto& session = openH264(nullptr);
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!session.online() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(session.online());
    EXPECT_EQ(tree.count(Device::kMsgDeviceState, 0), 0u) << "no pane, no notice";

    session.OpenDevice(&panes[2], false);
    EXPECT_EQ(tree.count(Device::kMsgDeviceState, 0, 1002), 1u) << "attached at once";
    EXPECT_EQ(panes[2].state.load(), Device::ViewPane::kPlaying);
    EXPECT_TRUE(waitPainted(2, 10s));
    EXPECT_EQ(h264.stats().liveLogins, 1u) << "the camera was not logged into again";
}

TEST_F(SessionTest, SwitchingTheStreamLogsInAgainOnTheOtherStream) {
    auto& session = openH264(&panes[0]);
    ASSERT_TRUE(tree.waitFor(Device::kMsgDeviceState, 0, 1000, 10s));
    ASSERT_TRUE(waitPainted(0, 10s));
    EXPECT_EQ(session.param().streamType, 0);
    const auto stateNotices = [&] {
        return main.count(Device::kMsgDeviceParams, Device::kChangedH264State,
                          reinterpret_cast<intptr_t>(&session));
    };
    // The camera's picture values (sent after the login) come first, so they are not counted.
    ASSERT_TRUE(main.waitFor(Device::kMsgDeviceParams, Device::kChangedH264State,
                             reinterpret_cast<intptr_t>(&session), 10s));
    const size_t before = stateNotices();
    EXPECT_EQ(session.SwitchStream(), 1);
    EXPECT_EQ(session.param().streamType, 1);
    EXPECT_EQ(stateNotices(), before + 1) << "the main window is told at once";
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (h264.stats().liveLogins < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    EXPECT_GE(h264.stats().liveLogins, 2u) << "the media channel did not log in again";
    // Pictures of the sub stream keep coming into the same pane.
    view.ClearScreen(0, 0);
    EXPECT_TRUE(waitPainted(0, 10s));
}

TEST_F(SessionTest, ASessionTheLibraryCannotOpenReportsClosed) {
    // The second H.264 kind is reached only by peer-to-peer; its own type opens nothing.
    auto session = Device::createDevice(environment, nullptr, Device::kClassHx);
    session->SetAddress("127.0.0.1", 1, 1);
    session->OpenDevice(&panes[3], false);
    EXPECT_EQ(tree.count(Device::kMsgDeviceState, 1, 1003), 1u);
    EXPECT_EQ(panes[3].state.load(), Device::ViewPane::kClosed);
    EXPECT_FALSE(session->online());
}

TEST_F(SessionTest, CameraListsAndPictureValuesReachTheWindows) {
    auto& session = openH264(&panes[0]);
    auto& camera = static_cast<Device::CH264Device&>(session);
    ASSERT_TRUE(main.waitFor(Device::kMsgDeviceParams, Device::kChangedPresets,
                             reinterpret_cast<intptr_t>(&session), 10s));
    ASSERT_TRUE(main.waitFor(Device::kMsgDeviceParams, Device::kChangedCruises,
                             reinterpret_cast<intptr_t>(&session), 10s));
    char names[16 * 32];
    int count = -1, current = -2;
    EXPECT_EQ(camera.GetPresetList(names, count, current), 17);
    EXPECT_EQ(count, static_cast<int>(h264.cgiState().presets.size()));
    EXPECT_EQ(current, -1);
    Device::ImageParams image;
    ASSERT_TRUE(main.waitFor(Device::kMsgDeviceParams, Device::kChangedH264State,
                             reinterpret_cast<intptr_t>(&session), 10s));
    EXPECT_EQ(camera.GetImageParams(image), 17);
    EXPECT_EQ(image.brightness, h264.cgiState().image.brightness);
    EXPECT_TRUE(camera.hasParamBlock()) << "the 2219-byte login block is kept";
}

TEST_F(SessionTest, AWrongPasswordIsReportedToTheMainWindow) {
    auto& session = openH264(&panes[0], "wrong");
    EXPECT_TRUE(main.waitFor(Device::kMsgDeviceParams, Device::kChangedLoginRefused,
                             reinterpret_cast<intptr_t>(&session), 10s));
    EXPECT_FALSE(session.online());
}

// What the cameras report on their control channels, fed straight into the sessions.
TEST_F(SessionTest, MjpegParameterNoticesAreKeptAsThePanelShowsThem) {
    auto session = Device::createDevice(environment, nullptr, Device::kClassMjpeg);
    auto& camera = static_cast<Device::CMJDevice&>(*session);
    Device::MjpegParams params;
    EXPECT_EQ(camera.GetImageParams(params), -100) << "nothing before the camera's record";

    uint8_t record[8] = {8, 96, 4, 1, 0, 0, 0x01, 0x00};
    camera.OnEvent(256, 27, record, sizeof record);
    ASSERT_EQ(camera.GetImageParams(params), 16);
    EXPECT_EQ(params.resolution, 8);
    EXPECT_EQ(params.brightness, 6) << "the camera's 0-255 shown as 0-15";
    EXPECT_EQ(params.contrast, 4);
    EXPECT_EQ(params.mode, 1);
    EXPECT_EQ(params.flipMirror, 256) << "high byte first";

    const auto changed = [&](uint8_t which, uint8_t value) {
        uint8_t notice[22] = {which, value};
        camera.OnEvent(256, 8, notice, sizeof notice);
        camera.GetImageParams(params);
    };
    changed(5, 3);
    EXPECT_EQ(params.flipMirror, 257);
    changed(5, 2);
    EXPECT_EQ(params.flipMirror, 1);
    changed(5, 9);
    EXPECT_EQ(params.flipMirror, 0);
    changed(1, 160);
    EXPECT_EQ(params.brightness, 10);
    // A 23-byte notice is an alarm, not a parameter.
    uint8_t alarm[23] = {1, 1};
    camera.OnEvent(256, 8, alarm, sizeof alarm);
    camera.GetImageParams(params);
    EXPECT_EQ(params.brightness, 10);
    EXPECT_EQ(main.count(Device::kMsgDeviceParams, Device::kChangedParams), 1u);
    EXPECT_EQ(main.count(Device::kMsgDeviceParams, Device::kChangedH264State), 4u);
}

TEST_F(SessionTest, ShortNameListsCountOnlyTheNamesTheyHold) {
    auto session = Device::createDevice(environment, nullptr, Device::kClassH264);
    auto& camera = static_cast<Device::CH264Device&>(*session);
    char names[16 * 32];
    int count = 0, current = 0;
    EXPECT_EQ(camera.GetPresetList(names, count, current), -100);

    // A cut-off list has no count word: no name is believed.
    std::vector<uint8_t> shortList(2 * 32, 0);
    std::memcpy(shortList.data(), "door", 4);
    camera.OnEvent(256, 106, shortList.data(), static_cast<int>(shortList.size()));
    ASSERT_EQ(camera.GetPresetList(names, count, current), 17);
    EXPECT_EQ(count, 0);

    std::vector<uint8_t> list(16 * 32 + 4, 0);
    std::memcpy(list.data(), "door", 4);
    std::memcpy(list.data() + 32, "gate", 4);
    list[16 * 32] = 2;
    camera.OnEvent(256, 106, list.data(), static_cast<int>(list.size()));
    camera.SetPresetName("gate");
    ASSERT_EQ(camera.GetPresetList(names, count, current), 17);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(current, 1);
    EXPECT_STREQ(names, "door");
    list[16 * 32] = 99; // more than the list holds
    camera.OnEvent(256, 106, list.data(), static_cast<int>(list.size()));
    camera.GetPresetList(names, count, current);
    EXPECT_EQ(count, 16);

    // A name that fills its field is still terminated.
    std::vector<uint8_t> full(16 * 32 + 4, 'x');
    full[16 * 32] = 16;
    full[16 * 32 + 1] = full[16 * 32 + 2] = full[16 * 32 + 3] = 0;
    camera.OnEvent(256, 106, full.data(), static_cast<int>(full.size()));
    ASSERT_EQ(camera.GetPresetList(names, count, current), 17);
    EXPECT_EQ(count, 16);
    EXPECT_EQ(strnlen(names, 32), 31u);
}

// The sum of absolute sample values of a WAV file the sound device wrote (silence included).
long long wavEnergy(const fs::path& wav) {
    std::ifstream in(wav, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    long long energy = 0;
    for (size_t i = 44; i + 1 < bytes.size(); i += 2) {
        const int16_t sample = static_cast<int16_t>(
            static_cast<uint8_t>(bytes[i]) | (static_cast<uint8_t>(bytes[i + 1]) << 8));
        energy += std::abs(sample);
    }
    return energy;
}

// Only the camera in the selected pane is heard: with an empty pane selected the sound device
// plays silence, with the camera's pane selected it plays the camera's tone.
TEST_F(SessionTest, OnlyTheSelectedPaneIsHeard) {
    const fs::path wav = fs::temp_directory_path() /
                         ("vistaro-session-" + std::to_string(::getpid()) + ".wav");
    setenv("ZQAUDIO_DEVICE", "wav", 1);
    setenv("ZQAUDIO_WAV_OUT", wav.c_str(), 1);
    environment.playDevice = CreatePlayDev();
    ASSERT_NE(environment.playDevice, nullptr);

    auto& session = openH264(&panes[0]);
    ASSERT_TRUE(tree.waitFor(Device::kMsgDeviceState, 0, 1000, 10s));
    session.OpenAudio();
    const auto listen = [&](int selectedPane) {
        EXPECT_EQ(OpenPlayDev(environment.playDevice), 0);
        EXPECT_TRUE(view.DrawSelectBorder(selectedPane));
        std::this_thread::sleep_for(1500ms);
        ClosePlayDev(environment.playDevice);
        return wavEnergy(wav);
    };
    EXPECT_EQ(listen(3), 0) << "a camera in another pane was heard";
    EXPECT_GT(listen(0), 1000000) << "the selected camera was not heard";
    fs::remove(wav);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
