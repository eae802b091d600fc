#pragma once

// The recording manager of one camera session: manual, schedule and alarm recording (kinds 0,
// 1, 2) into AVI files indexed in the recordfile table.
//
// Manual recording is written on the network frame thread (onManualVideo, onManualAudio).
// Schedule and alarm recording run on the session's record thread, which takes the frames the
// frame callback queued (queueFrame) and follows the camera's weekly plan and its alarms. The UI
// thread starts and stops recordings; the disk guard's thread moves them (ChangeRecordPath).
// Each kind has its own lock, so those threads never see a file half closed.
//
// The session owns the Recorder and must outlive it. Everything the record thread touches lives
// in a shared core, so a record thread that overruns its stop wait finds its data still there;
// it then sees the session as closed.

#include "avi/AviRecords.h"
#include "device/record/RecordClock.h"
#include "device/record/RecordNames.h"
#include "zqnet/zqtypes.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace sqlite3x {
class sqlite3_connection;
}
namespace client {
class AppLog;
class EventLog;
} // namespace client

namespace Device {

class RecordSession;
class RecorderCore;

// Record-thread messages besides the quit code (sys::kQuitCode).
enum RecordThreadMessage : int {
    kMsgRecordSettings = 101, // wParam: alarm enable, lParam: schedule enable
    kMsgRecordAlarm = 102,    // wParam 0: alarm started, otherwise: alarm ended
};

// What every session's recorder shares with the rest of the program. All of it must outlive
// every Recorder (and its record thread).
struct RecordServices {
    sqlite3x::sqlite3_connection* database = nullptr; // recordfile rows, the weekly plan
    std::mutex* databaseLock = nullptr;               // the process-wide database lock
    client::EventLog* eventLog = nullptr;             // events 10 … 13; none when null
    client::AppLog* appLog = nullptr;                 // none when null
    const RecordClock* clock = nullptr;               // null: the system clock
    // The main window's alarm sound; it decides itself whether "AlarmSound" is on. Called on
    // the thread that reported the alarm.
    std::function<void()> alarmSound;
};

class Recorder {
public:
    Recorder(RecordSession& session, RecordServices services);
    // Stops the record thread (bounded wait) and closes every recording, without calling the
    // session any more (its overrides may be gone by then).
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // The same while the session is still whole: its destructor calls this first, so the last
    // rows and events name the camera through the session itself.
    void Shutdown();

    // Succeeds when the session is open, the disk guard allows recording and every missing
    // folder of `directory` could be created; then `directory` becomes the kind's record
    // directory and the kind is wanted (m_bRecord).
    bool CheckCanRecord(const std::filesystem::path& directory, int kind);
    // Opens a new file for the kind in its record directory, first closing (and entering) the
    // one open. False when that happens within the millisecond the open file was started, or
    // when no file could be made.
    bool StartRecord(int frameRate, int kind);
    // Closes and enters the kind's file, if any, and clears the kind's flags. Always true.
    bool CloseRecord(int kind);
    // m_bRecord[kind]: the kind is wanted (and, once frames came, running).
    bool IsRecording(int kind) const;

    // Manual recording from the frame callback (network thread): starts the file with the
    // first frame, restarts it on a restart request, a full file or a frame rate change of more
    // than 10, waits for a key frame and writes. The picture size is the decoded one.
    void onManualVideo(const FRAME_HEAD& frame, int pictureWidth, int pictureHeight);
    // Audio goes into the manual file whenever one is open, before the first key frame too.
    void onManualAudio(const void* pcm, int length);
    // The frame callback's hand-off to the record thread; dropped unless the thread runs.
    void queueFrame(int mediaType, const FRAME_HEAD& frame, const void* data, int length, int width,
                    int height);

    // The disk guard moved recording to `root`: every kind's directory becomes
    // root/Recordfiles_<host>, and every running recording continues in a new file there with
    // its next video frame.
    void ChangeRecordPath(const std::string& root);

    void SetRecordEnable(bool alarm, bool schedule);
    bool alarmEnabled() const;    // aEnable
    bool scheduleEnabled() const; // pEnable

    // Starts (or restarts) the record thread for the camera with `mac`. False when the thread or
    // its queue could not be made.
    bool StartPlanThread(const std::string& mac);
    void StopPlanThread();
    bool PostPlanMessage(int message, intptr_t wParam, intptr_t lParam);

    // Builds the kind's header images for the session's class (the session's MakeAviHeaders
    // slot calls this). Ignored while the kind has a file open: its images describe that file.
    void MakeAviHeaders(int frameRate, int kind, int totalFrames);

    // H.264 control event 111 (alarm state); MJPEG control event 8 with 23 bytes.
    void onH264AlarmEvent(const void* data, int length);
    void onMjpegAlarmEvent(const void* data, int length);
    // The camera's record-on-alarm flag (H.264), which the yellow status dot shows.
    bool cameraRecordOnAlarm() const;

    // What the kind is doing, for the status dots, the windows and tests.
    std::filesystem::path recordDirectory(int kind) const;
    std::filesystem::path currentFile(int kind) const; // empty when no file is open
    int frameRate(int kind) const;                     // mFrameRate[kind]
    bool restartPending(int kind) const;
    int framesWritten(int kind) const;
    AviHeaderSet headers(int kind) const;
    bool planThreadRunning() const;
    uint64_t queueDroppedFrames() const;
    size_t queuedBytes() const;

private:
    std::shared_ptr<RecorderCore> m_core;
};

} // namespace Device
