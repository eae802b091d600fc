#pragma once

// What the recording tests share: a clock the test sets, a session the test steers, a copy of
// the delivered database with the event log and an application log beside it, and camera frames
// from libx264 (tests/client/avi) with ffprobe and ffmpeg as the judges of what was written.

#include "AviTestSupport.h"

#include "common/AppLog.h"
#include "common/EventLog.h"
#include "db/Statements.h"
#include "db/sqlite3x.h"
#include "device/record/RecordClock.h"
#include "device/record/RecordSession.h"
#include "device/record/Recorder.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace recordtest {

namespace fs = std::filesystem;
using avitest::Frame;

// A clock that only moves when the test moves it.
class ManualClock final : public Device::RecordClock {
public:
    Device::LocalTime localNow() const override;
    uint32_t tickMs() const override;
    void set(const Device::LocalTime& time);
    void setMinute(int hour, int minute);
    void advanceMs(uint32_t ms);

private:
    mutable std::mutex m_lock;
    Device::LocalTime m_time{2026, 12, 8, 10, 15, 0, 2}; // a Tuesday
    uint32_t m_tick = 1000;
};

// A session as the recorder sees it. recordingAllowed() can be made to wait at a gate, which
// holds the record thread at the top of its next pass.
class FakeSession final : public Device::RecordSession {
public:
    std::string recordHost() const override;
    int recordPort() const override { return 80; }
    bool sessionOpen() const override { return open.load(); }
    int classCode() const override { return classCodeValue.load(); }
    // The record thread calls this once per pass: `passes` tells a test how far it got.
    void setAlarmAllowed(bool allowed) override {
        alarmAllowed.store(allowed ? 1 : 0);
        passes.fetch_add(1);
    }
    std::string currentRecordRoot() const override;
    bool recordingAllowed() const override;

    void setHost(const std::string& host);
    void setRoot(const fs::path& root);
    void closeGate();
    void openGate();

    std::atomic<bool> open{true};
    std::atomic<bool> allowed{true};
    std::atomic<int> classCodeValue{17};
    std::atomic<int> alarmAllowed{-1}; // -1: never told
    std::atomic<int> passes{0};
    mutable std::atomic<int> atGate{0}; // threads waiting at the closed gate

private:
    mutable std::mutex m_lock;
    std::string m_host = "192.168.1.64";
    fs::path m_root;
    mutable std::condition_variable m_gateChanged;
    bool m_gateClosed = false;
};

// A temporary data folder with a copy of the delivered database, its event log, an application
// log, a record root, a clock, a session and the recorder of that session.
class RecordFixture {
public:
    RecordFixture();
    ~RecordFixture();

    Device::RecordServices services();
    // Makes `recorder` anew (after the session was set up).
    void makeRecorder();

    std::vector<db::RecordFileRow> rows();
    std::vector<db::LogRow> events();
    std::string appLogText() const;

    avitest::TempFolder folder;
    fs::path data;
    fs::path recordRoot;
    sqlite3x::sqlite3_connection database;
    std::mutex databaseLock;
    std::unique_ptr<client::EventLog> eventLog;
    std::unique_ptr<client::AppLog> appLog;
    ManualClock clock;
    FakeSession session;
    std::unique_ptr<Device::Recorder> recorder;
};

// H.264 access units from libx264, 320×180, a key frame every 25 (at 0, 25, 50, 75).
const std::vector<Frame>& h264Frames();
// JPEG pictures, 320×240.
const std::vector<Frame>& mjpegFrames();

FRAME_HEAD headOf(const Frame& frame, int frameRate, int type = ZQ_MEDIA_VIDEO);
FRAME_HEAD audioHead(const avitest::Bytes& pcm);

// Feeds frames [first, last) to manual recording, each followed by one 40 ms PCM block.
void feedManual(Device::Recorder& recorder, const std::vector<Frame>& frames, size_t first,
                size_t last, int frameRate, int width = 320, int height = 180);
// The same into the record thread's queue.
void feedQueue(Device::Recorder& recorder, const std::vector<Frame>& frames, size_t first,
               size_t last, int frameRate, int width = 320, int height = 180);

// Polls `done` every 10 ms for up to `timeoutMs`.
bool waitFor(const std::function<bool()>& done, int timeoutMs = 5000);

// The AVI files in a folder, by name.
std::vector<fs::path> aviFiles(const fs::path& folder);

// ffprobe of a finished recording: stream 0 `videoCodec` with `videoFrames` decoded frames,
// stream 1 PCM with `audioPackets` packets, nothing said on the error stream, and ffmpeg
// decoding every picture without a complaint.
void expectPlayable(const fs::path& file, const std::string& videoCodec, int videoFrames,
                    int audioPackets);

// The key flag of the first video chunk, and the number of video and audio chunks, as our own
// reader sees them.
struct ChunkCounts {
    int video = 0;
    int audio = 0;
    bool firstVideoKey = false;
    int audioBeforeFirstVideo = 0;
};
ChunkCounts countChunks(const fs::path& file);

} // namespace recordtest
