#pragma once

// Inside of Recorder (Recorder.h): the per-kind recording state and the operations on it, shared
// by the Recorder facade (UI and network threads) and the record thread (RecordThread.cpp).

#include "device/record/AlarmTimer.h"
#include "device/record/FrameQueue.h"
#include "device/record/Recorder.h"
#include "device/record/RecordingFile.h"

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace sys {
class Thread;
class WorkerContext;
} // namespace sys

namespace Device {

// Per kind. `lock` guards every field that is not atomic; the atomics are read without it by the
// status dots and the other threads' checks.
struct KindState {
    mutable std::mutex lock;
    std::atomic<bool> record{false};  // m_bRecord[kind]
    std::atomic<bool> restart{false}; // continue in a new file with the next video frame
    RecordingFile file;               // handle, chunk codes, the five header images, counts
    bool keySeen = false;             // the file has had its first key frame
    int frameRate = 0;                // mFrameRate[kind]: the rate the file was started with
    bool fileFull = false;            // the file refused a chunk: the next frame starts anew
    bool startFailed = false;         // the last start failed and was logged
    std::filesystem::path directory;
    std::string fileHost; // the camera the open file belongs to, for its row
};

// What one video frame did to a kind.
struct VideoStep {
    bool opened = false; // a file was opened where none was open
    bool wrote = false;
};

class RecorderCore {
public:
    RecorderCore(RecordSession& session, RecordServices services);
    ~RecorderCore();

    // ---- The session, through a link the Recorder cuts when it goes (see detachSession).
    std::string host() const;
    int port() const;
    bool sessionOpen() const;
    int classCode() const;
    bool recordingAllowed() const;
    std::string recordRoot() const;
    void setAlarmAllowed(bool allowed);
    // From now on the session counts as closed and is never called again.
    void detachSession();

    const RecordClock& clock() const { return *m_clock; }
    const RecordServices& services() const { return m_services; }

    // ---- Recording, per kind (each call takes the kind's lock).
    bool checkCanRecord(const std::filesystem::path& directory, int kind);
    bool startRecord(int frameRate, int kind);
    // True when the kind had a file open or was wanted.
    bool closeRecord(int kind);
    // Closes the kind's file but leaves it wanted (the manual disk guard).
    void closeFileOnly(int kind);
    // Restart rules, key-frame wait and write for one video frame. With `onlyWhenWanted` the
    // frame does nothing unless the kind is wanted (manual and alarm recording, which others
    // switch on); without it the frame starts the kind (schedule recording).
    VideoStep recordVideo(int kind, const VideoInput& frame, bool onlyWhenWanted);
    // Writes into the kind's file when one is open and the kind is wanted.
    bool recordAudio(int kind, const void* pcm, int length);
    // The next frames of the kind wait for a key frame again (frames were lost before them).
    void forgetKeyFrame(int kind);
    void setDirectory(int kind, const std::filesystem::path& directory);
    void changeRecordPath(const std::string& root);
    void makeHeaders(int frameRate, int kind, int totalFrames);
    bool fileOpen(int kind) const;

    // ---- Logs.
    void logLine(const char* function, const std::string& message) const;
    void logEvent(int code) const;

    // ---- The record thread. Posting never waits for a start or a stop in progress.
    bool startThread(const std::string& mac, const std::shared_ptr<RecorderCore>& self);
    void stopThread(unsigned waitMs);
    bool post(int message, intptr_t wParam, intptr_t lParam);
    bool threadRunning() const;

    KindState kinds[kRecordKinds];
    FrameQueue queue;
    AlarmTimer alarmTimer;
    std::atomic<bool> alarmEnable{false};    // aEnable
    std::atomic<bool> scheduleEnable{false}; // pEnable

private:
    struct FinishedFile {
        std::filesystem::path path;
        std::string host;
        int kind = 0;
        LocalTime start;
    };
    using Finished = std::vector<FinishedFile>;

    bool checkLocked(const std::filesystem::path& directory, int kind);
    bool startLocked(int frameRate, int kind, Finished& finished);
    void finishLocked(int kind, Finished& finished);
    std::filesystem::path freeFileName(const std::filesystem::path& directory, int kind,
                                       const LocalTime& start) const;
    void logRecordFlag(const char* function, int kind) const;
    // Enters finished files into recordfile, outside every kind lock.
    void enterRows(const Finished& finished, const char* function);

    const RecordServices m_services;
    const RecordClock* const m_clock;

    mutable std::mutex m_sessionLock; // guards m_session and m_lastHost; held across each call
    RecordSession* m_session;
    mutable std::string m_lastHost; // what host() said last, for after the session left

    std::mutex m_controlLock;      // serialises thread start and stop (UI thread)
    mutable std::mutex m_postLock; // guards m_thread, held only to post or swap it
    std::unique_ptr<sys::Thread> m_thread;
};

// The record thread's body (RecordThread.cpp).
void runRecordThread(const std::shared_ptr<RecorderCore>& core, sys::WorkerContext& context,
                     const std::string& mac);

} // namespace Device
