#include "RecordTestSupport.h"

#include "avi/Avi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

namespace recordtest {

// ---- ManualClock ------------------------------------------------------------------------------

Device::LocalTime ManualClock::localNow() const {
    std::lock_guard guard(m_lock);
    return m_time;
}

uint32_t ManualClock::tickMs() const {
    std::lock_guard guard(m_lock);
    return m_tick;
}

void ManualClock::set(const Device::LocalTime& time) {
    std::lock_guard guard(m_lock);
    m_time = time;
}

void ManualClock::setMinute(int hour, int minute) {
    std::lock_guard guard(m_lock);
    m_time.hour = hour;
    m_time.minute = minute;
}

void ManualClock::advanceMs(uint32_t ms) {
    std::lock_guard guard(m_lock);
    m_tick += ms;
}

// ---- FakeSession ------------------------------------------------------------------------------

std::string FakeSession::recordHost() const {
    std::lock_guard guard(m_lock);
    return m_host;
}

std::string FakeSession::currentRecordRoot() const {
    std::lock_guard guard(m_lock);
    return m_root.string();
}

bool FakeSession::recordingAllowed() const {
    std::unique_lock guard(m_lock);
    if (m_gateClosed) {
        atGate.fetch_add(1);
        m_gateChanged.wait(guard, [this] { return !m_gateClosed; });
        atGate.fetch_sub(1);
    }
    return allowed.load();
}

void FakeSession::setHost(const std::string& host) {
    std::lock_guard guard(m_lock);
    m_host = host;
}

void FakeSession::setRoot(const fs::path& root) {
    std::lock_guard guard(m_lock);
    m_root = root;
}

void FakeSession::closeGate() {
    std::lock_guard guard(m_lock);
    m_gateClosed = true;
}

void FakeSession::openGate() {
    {
        std::lock_guard guard(m_lock);
        m_gateClosed = false;
    }
    m_gateChanged.notify_all();
}

// ---- RecordFixture ----------------------------------------------------------------------------

RecordFixture::RecordFixture() : data(folder.file("data")), recordRoot(folder.file("records")) {
    fs::create_directories(data / "log");
    fs::create_directories(recordRoot);
    fs::copy_file(VISTARO_DELIVERED_DB, data / "doDAV.db");
    database.open(data / "doDAV.db");
    eventLog = std::make_unique<client::EventLog>(database, databaseLock,
                                                  [] { return std::string("admin"); });
    appLog = client::AppLog::open(data / "log");
    session.setRoot(recordRoot);
}

RecordFixture::~RecordFixture() {
    session.openGate();
    recorder.reset();
}

Device::RecordServices RecordFixture::services() {
    Device::RecordServices services;
    services.database = &database;
    services.databaseLock = &databaseLock;
    services.eventLog = eventLog.get();
    services.appLog = appLog.get();
    services.clock = &clock;
    return services;
}

void RecordFixture::makeRecorder() {
    recorder.reset();
    recorder = std::make_unique<Device::Recorder>(session, services());
}

std::vector<db::RecordFileRow> RecordFixture::rows() {
    std::lock_guard guard(databaseLock);
    return db::selectRecordFiles(database);
}

std::vector<db::LogRow> RecordFixture::events() {
    std::lock_guard guard(databaseLock);
    return db::selectLogs(database);
}

std::string RecordFixture::appLogText() const {
    if (!appLog)
        return {};
    std::ifstream in(appLog->path(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// ---- Frames -----------------------------------------------------------------------------------

const std::vector<Frame>& h264Frames() {
    static const std::vector<Frame> frames = avitest::cameraFrames("h264", 320, 180, 100);
    return frames;
}

const std::vector<Frame>& mjpegFrames() {
    static const std::vector<Frame> frames = avitest::cameraFrames("mjpeg", 320, 240, 12);
    return frames;
}

FRAME_HEAD headOf(const Frame& frame, int frameRate, int type) {
    FRAME_HEAD head{};
    head.type = type;
    head.frameRate = frameRate;
    head.length = static_cast<int32_t>(frame.data.size());
    head.keyFrame = frame.key ? 1 : 0;
    head.keyFrame2 = head.keyFrame;
    head.cameraWord8 = 512000;
    head.data = reinterpret_cast<char*>(const_cast<uint8_t*>(frame.data.data()));
    return head;
}

FRAME_HEAD audioHead(const avitest::Bytes& pcm) {
    FRAME_HEAD head{};
    head.type = ZQ_MEDIA_AUDIO;
    head.length = static_cast<int32_t>(pcm.size());
    head.data = reinterpret_cast<char*>(const_cast<uint8_t*>(pcm.data()));
    return head;
}

void feedManual(Device::Recorder& recorder, const std::vector<Frame>& frames, size_t first,
                size_t last, int frameRate, int width, int height) {
    for (size_t i = first; i < last && i < frames.size(); ++i) {
        recorder.onManualVideo(headOf(frames[i], frameRate), width, height);
        const avitest::Bytes pcm = avitest::pcmBlock(320, static_cast<int>(i));
        recorder.onManualAudio(pcm.data(), static_cast<int>(pcm.size()));
    }
}

void feedQueue(Device::Recorder& recorder, const std::vector<Frame>& frames, size_t first,
               size_t last, int frameRate, int width, int height) {
    for (size_t i = first; i < last && i < frames.size(); ++i) {
        const FRAME_HEAD head = headOf(frames[i], frameRate);
        recorder.queueFrame(ZQ_MEDIA_VIDEO, head, frames[i].data.data(),
                            static_cast<int>(frames[i].data.size()), width, height);
        const avitest::Bytes pcm = avitest::pcmBlock(320, static_cast<int>(i));
        recorder.queueFrame(ZQ_MEDIA_AUDIO, audioHead(pcm), pcm.data(),
                            static_cast<int>(pcm.size()), width, height);
    }
}

bool waitFor(const std::function<bool()>& done, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::vector<fs::path> aviFiles(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        if (entry.path().extension() == ".avi")
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

void expectPlayable(const fs::path& file, const std::string& videoCodec, int videoFrames,
                    int audioPackets) {
    avitest::Probe probe = avitest::probe(file);
    EXPECT_EQ(probe.exitCode, 0) << file;
    EXPECT_EQ(probe.warnings, "") << file;
    ASSERT_EQ(probe.streams.size(), 2u) << file;
    EXPECT_EQ(probe.streams[0]["codec_name"], videoCodec);
    EXPECT_EQ(probe.streams[0]["nb_read_frames"], std::to_string(videoFrames));
    EXPECT_EQ(probe.streams[1]["codec_name"], "pcm_s16le");
    EXPECT_EQ(probe.streams[1]["sample_rate"], "8000");
    EXPECT_EQ(probe.streams[1]["nb_read_packets"], std::to_string(audioPackets));
    const avitest::ToolRun decode = avitest::runTool("ffmpeg -hide_banner -nostdin -v error -i '" +
                                                     file.string() + "' -f null -");
    EXPECT_EQ(decode.exitCode, 0) << file;
    EXPECT_EQ(decode.err, "") << file;
}

ChunkCounts countChunks(const fs::path& file) {
    ChunkCounts counts;
    testing::internal::CaptureStdout();
    AviFile* avi = aviOpen(file.c_str(), kAviRead);
    testing::internal::GetCapturedStdout();
    if (avi == nullptr)
        return counts;
    std::vector<uint8_t> buffer(1 << 20);
    for (;;) {
        int isKey = 0;
        uint32_t code = 0;
        int length = static_cast<int>(buffer.size());
        int before = 0;
        int after = 0;
        if (aviReadChunk(avi, buffer.data(), &isKey, &code, &length, &before, &after) != kAviOk)
            break;
        if (code == aviFourcc("00dc")) {
            if (counts.video == 0)
                counts.firstVideoKey = isKey != 0;
            ++counts.video;
        } else if (code == aviFourcc("01wb")) {
            if (counts.video == 0)
                ++counts.audioBeforeFirstVideo;
            ++counts.audio;
        }
    }
    aviClose(avi);
    return counts;
}

} // namespace recordtest
