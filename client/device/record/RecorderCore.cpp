#include "device/record/RecorderCore.h"

#include "avi/Avi.h"
#include "avi/AviRepair.h"
#include "common/AppLog.h"
#include "common/EventLog.h"
#include "db/Failure.h"
#include "db/Statements.h"
#include "device/record/RecordSession.h"
#include "sys/Thread.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <system_error>

namespace Device {

namespace fs = std::filesystem;

namespace {

constexpr const char* kCheckCanRecord = "Device::CSigleDevice::CheckCanRecord";
constexpr const char* kStartRecord = "Device::CSigleDevice::StartRecord";
constexpr const char* kCloseRecord = "Device::CSigleDevice::CloseRecord";
constexpr const char* kFrameCallback = "Device::CSigleDevice::frameCallback";
constexpr const char* kThreadRecord = "Device::CSigleDevice::ThreadRecord";
constexpr const char* kStopPlanThread = "Device::CSigleDevice::StopPlanThread";

constexpr int kMaxRateChange = 10;
// Names NN = 01 … 99 after the seconds of a name taken in the same second.
constexpr int kMaxSequence = 99;

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
    char text[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    return text;
}

bool validKind(int kind) {
    return kind >= 0 && kind < kRecordKinds;
}

fs::path directoryUnder(const std::string& root, const std::string& host) {
    // No record path configured: no directory, so no recording lands relative to the working
    // directory of the program.
    return root.empty() ? fs::path() : recordFolder(pathFromUtf8(root), host);
}

} // namespace

RecorderCore::RecorderCore(RecordSession& session, RecordServices services)
    : alarmTimer({[this] {
                      if (m_services.alarmSound)
                          m_services.alarmSound();
                      alarmEnable.store(true);
                  },
                  [this](int wParam) { post(kMsgRecordAlarm, wParam, 0); }}),
      m_services(std::move(services)),
      m_clock(m_services.clock != nullptr ? m_services.clock : &systemRecordClock()),
      m_session(&session) {}

RecorderCore::~RecorderCore() = default;

// ---- The session -------------------------------------------------------------------------------

std::string RecorderCore::host() const {
    std::lock_guard guard(m_sessionLock);
    if (m_session != nullptr)
        m_lastHost = m_session->recordHost();
    return m_lastHost;
}

int RecorderCore::port() const {
    std::lock_guard guard(m_sessionLock);
    return m_session != nullptr ? m_session->recordPort() : 0;
}

bool RecorderCore::sessionOpen() const {
    std::lock_guard guard(m_sessionLock);
    return m_session != nullptr && m_session->sessionOpen();
}

int RecorderCore::classCode() const {
    std::lock_guard guard(m_sessionLock);
    return m_session != nullptr ? m_session->classCode() : 0;
}

bool RecorderCore::recordingAllowed() const {
    std::lock_guard guard(m_sessionLock);
    return m_session != nullptr && m_session->recordingAllowed();
}

std::string RecorderCore::recordRoot() const {
    std::lock_guard guard(m_sessionLock);
    return m_session != nullptr ? m_session->currentRecordRoot() : std::string();
}

void RecorderCore::setAlarmAllowed(bool allowed) {
    std::lock_guard guard(m_sessionLock);
    if (m_session != nullptr)
        m_session->setAlarmAllowed(allowed);
}

void RecorderCore::detachSession() {
    // Not even a last question: the session may be half destroyed already.
    std::lock_guard guard(m_sessionLock);
    m_session = nullptr;
}

// ---- Logs --------------------------------------------------------------------------------------

void RecorderCore::logLine(const char* function, const std::string& message) const {
    LOG_WRITE(m_services.appLog, function, message);
}

void RecorderCore::logEvent(int code) const {
    if (m_services.eventLog == nullptr)
        return;
    const int type = code == client::kEventAlarmStart || code == client::kEventAlarmStop
                         ? client::kEventTypeAlarm
                         : client::kEventTypeSystem;
    m_services.eventLog->eventLog(host(), code, type, "");
}

void RecorderCore::logRecordFlag(const char* function, int kind) const {
    logLine(function, format("%s%d:m_bRecord[%d]=%s", host().c_str(), port(), kind,
                             kinds[kind].record.load() ? "true" : "false"));
}

// ---- Recording ---------------------------------------------------------------------------------

bool RecorderCore::checkCanRecord(const fs::path& directory, int kind) {
    if (!validKind(kind))
        return false;
    std::lock_guard guard(kinds[kind].lock);
    return checkLocked(directory, kind);
}

bool RecorderCore::checkLocked(const fs::path& directory, int kind) {
    if (directory.empty() || !sessionOpen() || !recordingAllowed())
        return false;
    std::error_code error;
    fs::create_directories(directory, error);
    if (error || !fs::is_directory(directory, error))
        return false;
    KindState& state = kinds[kind];
    state.directory = directory;
    state.record = true;
    logRecordFlag(kCheckCanRecord, kind);
    return true;
}

bool RecorderCore::startRecord(int frameRate, int kind) {
    if (!validKind(kind))
        return false;
    Finished finished;
    bool started = false;
    {
        std::lock_guard guard(kinds[kind].lock);
        started = startLocked(frameRate, kind, finished);
    }
    enterRows(finished, kStartRecord);
    return started;
}

bool RecorderCore::startLocked(int frameRate, int kind, Finished& finished) {
    KindState& state = kinds[kind];
    if (!sessionOpen())
        return true;
    const uint32_t now = m_clock->tickMs();
    if (state.file.isOpen()) {
        // The measured rate divides by the time since the start.
        if (now == state.file.startTick())
            return false;
        finishLocked(kind, finished);
    }
    if (!checkLocked(state.directory, kind)) {
        if (state.restart)
            return false;
        const bool wasWanted = state.record.exchange(false);
        // One line per failure spell: the record thread retries with every frame.
        if (wasWanted || !state.startFailed)
            logRecordFlag(kStartRecord, kind);
        state.startFailed = true;
        state.frameRate = 0;
        return false;
    }
    const LocalTime start = m_clock->localNow();
    const fs::path path = freeFileName(state.directory, kind, start);
    state.file.headers = makeAviHeaders(classCode(), frameRate, 0);
    // Registered before the file exists, so a rescan never mistakes it for a cut recording.
    if (!path.empty())
        OpenRecordings::instance().add(path);
    if (!path.empty() && state.file.open(path, now, start)) {
        state.fileHost = host();
        state.frameRate = frameRate;
        state.record = true;
        state.restart = false;
        state.fileFull = false;
        state.keySeen = false;
        state.startFailed = false;
        logRecordFlag(kStartRecord, kind);
        return true;
    }
    if (!path.empty())
        OpenRecordings::instance().remove(path);
    state.frameRate = 0;
    state.record = false;
    if (!state.startFailed)
        logRecordFlag(kStartRecord, kind);
    state.startFailed = true;
    return false;
}

fs::path RecorderCore::freeFileName(const fs::path& directory, int kind,
                                    const LocalTime& start) const {
    // aviOpen truncates: a second recording started in the same second (a restart, a clock
    // set back) must not land on the first one.
    for (int sequence = 0; sequence <= kMaxSequence; ++sequence) {
        const fs::path path = directory / recordFileName(kind, start, sequence);
        std::error_code error;
        if (!fs::exists(path, error) && !error &&
            !fs::exists(pathFromUtf8(utf8Path(path) + "_idx"), error) && !error &&
            !OpenRecordings::instance().contains(path)) {
            return path;
        }
    }
    return {};
}

void RecorderCore::finishLocked(int kind, Finished& finished) {
    KindState& state = kinds[kind];
    if (!state.file.isOpen())
        return;
    const fs::path path = state.file.path();
    const LocalTime start = state.file.startTime();
    const int result = state.file.finish(m_clock->tickMs());
    state.keySeen = false;
    const std::string text = utf8Path(path);
    if (result == kAviOk) {
        std::error_code ignored;
        fs::remove(pathFromUtf8(text + "_idx"), ignored);
    } else {
        // The index or the sizes did not reach the disk; the side file still has the index.
        const AviRepairResult repaired = aviRepair(text.c_str());
        logLine(kCloseRecord, "close of " + text + " failed (" + std::to_string(result) +
                                  "); repair: " + aviRepairResultName(repaired));
    }
    // Stays registered until its row is in (enterRows), or a rescan could enter it as well.
    finished.push_back({path, state.fileHost, kind, start});
}

void RecorderCore::enterRows(const Finished& finished, const char* function) {
    for (const FinishedFile& file : finished) {
        // The start time, as the name says and as the rescan would enter it: searches by time
        // then find a recording by when it began.
        const db::RecordFileRow row{file.host, utf8Path(file.path), file.kind,
                                    recordFileDate(file.start)};
        bool entered = false;
        if (m_services.database != nullptr) {
            std::unique_lock<std::mutex> guard;
            if (m_services.databaseLock != nullptr)
                guard = std::unique_lock(*m_services.databaseLock);
            entered = db::inTransaction(*m_services.database,
                                        [&] { db::insertRecordFile(*m_services.database, row); });
        }
        // The file stays on disk; the next rescan of the record folders enters it.
        if (!entered)
            logLine(function, "DATABASE FAIL");
        OpenRecordings::instance().remove(file.path);
    }
}

bool RecorderCore::closeRecord(int kind) {
    if (!validKind(kind))
        return false;
    Finished finished;
    bool hadFile = false;
    {
        KindState& state = kinds[kind];
        std::lock_guard guard(state.lock);
        hadFile = state.file.isOpen();
        // Cleared even without a file: a stop before the first frame, or an alarm that ends
        // before its recording opened, must not start a recording afterwards.
        const bool wasWanted = state.record.exchange(false);
        state.keySeen = false;
        state.frameRate = 0;
        state.restart = false;
        state.fileFull = false;
        finishLocked(kind, finished);
        if (hadFile || wasWanted)
            logRecordFlag(kCloseRecord, kind);
    }
    enterRows(finished, kCloseRecord);
    return hadFile;
}

void RecorderCore::closeFileOnly(int kind) {
    Finished finished;
    {
        std::lock_guard guard(kinds[kind].lock);
        finishLocked(kind, finished);
    }
    enterRows(finished, kCloseRecord);
}

VideoStep RecorderCore::recordVideo(int kind, const VideoInput& frame, bool onlyWhenWanted) {
    VideoStep step;
    Finished finished;
    {
        KindState& state = kinds[kind];
        std::lock_guard guard(state.lock);
        // Checked again under the lock: a stop that came between the caller's look and here
        // must not be undone by the start below.
        if (onlyWhenWanted && !state.record)
            return step;
        if (state.restart) {
            startLocked(frame.frameRate, kind, finished);
        } else {
            if (!state.file.isOpen() && startLocked(frame.frameRate, kind, finished))
                step.opened = state.file.isOpen();
            const long long change =
                std::llabs(static_cast<long long>(frame.frameRate) - state.frameRate);
            if (state.file.isOpen() && (state.fileFull || change > kMaxRateChange)) {
                const int previous = state.frameRate;
                if (kind == kRecordManual) {
                    logLine(kFrameCallback,
                            format("Restart Record: videoFrameRate=%u, mFrameRate[0]=%d",
                                   static_cast<unsigned>(frame.frameRate), previous));
                } else if (kind == kRecordSchedule) {
                    logLine(kThreadRecord, format("Restart Plan: nFrameRate=%d, mFrameRate[1]=%d",
                                                  frame.frameRate, previous));
                } else {
                    logLine(kThreadRecord, format("Restart Alarm: nFrameRate=%d, mFrameRate[2]=%d",
                                                  frame.frameRate, previous));
                }
                startLocked(frame.frameRate, kind, finished);
            }
        }
        if (state.record && state.file.isOpen()) {
            if (!state.keySeen && frame.keyFrame)
                state.keySeen = true;
            if (state.keySeen) {
                const int result = state.file.writeVideo(frame);
                step.wrote = result == kAviOk;
                if (result == kAviNoRoom) {
                    state.frameRate = 0;
                    state.fileFull = true;
                }
            }
        }
    }
    enterRows(finished, kStartRecord);
    return step;
}

bool RecorderCore::recordAudio(int kind, const void* pcm, int length) {
    KindState& state = kinds[kind];
    std::lock_guard guard(state.lock);
    if (!state.record || !state.file.isOpen() || pcm == nullptr || length <= 0)
        return false;
    const int result = state.file.writeAudio(pcm, length);
    if (result == kAviNoRoom) {
        state.frameRate = 0;
        state.fileFull = true;
    }
    return result == kAviOk;
}

void RecorderCore::forgetKeyFrame(int kind) {
    std::lock_guard guard(kinds[kind].lock);
    kinds[kind].keySeen = false;
}

void RecorderCore::setDirectory(int kind, const fs::path& directory) {
    std::lock_guard guard(kinds[kind].lock);
    kinds[kind].directory = directory;
}

void RecorderCore::changeRecordPath(const std::string& root) {
    const fs::path directory = directoryUnder(root, host());
    for (KindState& state : kinds) {
        std::lock_guard guard(state.lock);
        state.directory = directory;
        if (state.file.isOpen() && state.record)
            state.restart = true;
    }
}

void RecorderCore::makeHeaders(int frameRate, int kind, int totalFrames) {
    if (!validKind(kind))
        return;
    std::lock_guard guard(kinds[kind].lock);
    if (!kinds[kind].file.isOpen())
        kinds[kind].file.headers = makeAviHeaders(classCode(), frameRate, totalFrames);
}

bool RecorderCore::fileOpen(int kind) const {
    std::lock_guard guard(kinds[kind].lock);
    return kinds[kind].file.isOpen();
}

// ---- The record thread -------------------------------------------------------------------------

bool RecorderCore::startThread(const std::string& mac, const std::shared_ptr<RecorderCore>& self) {
    std::lock_guard control(m_controlLock);
    {
        std::unique_ptr<sys::Thread> old;
        {
            std::lock_guard guard(m_postLock);
            old = std::move(m_thread);
        }
        if (old && !old->stop(500))
            logLine(kStopPlanThread, "record thread did not stop within 500 ms");
    }
    try {
        queue.allocate();
    } catch (const std::bad_alloc&) {
        logLine(kThreadRecord, "no memory for the frame queue");
        return false;
    }
    // Accepting from here on, not only once the thread runs: frames of the first moments
    // are kept.
    queue.setAccepting(true);
    auto thread = std::make_unique<sys::Thread>();
    const bool started = thread->start("RecordThread", [self, mac](sys::WorkerContext& context) {
        runRecordThread(self, context, mac);
    });
    if (!started) {
        queue.setAccepting(false);
        return false;
    }
    std::lock_guard guard(m_postLock);
    m_thread = std::move(thread);
    return true;
}

void RecorderCore::stopThread(unsigned waitMs) {
    std::lock_guard control(m_controlLock);
    queue.setAccepting(false);
    std::unique_ptr<sys::Thread> thread;
    {
        std::lock_guard guard(m_postLock);
        thread = std::move(m_thread);
    }
    if (thread && !thread->stop(waitMs))
        logLine(kStopPlanThread, format("record thread did not stop within %u ms", waitMs));
    queue.release();
}

bool RecorderCore::post(int message, intptr_t wParam, intptr_t lParam) {
    std::lock_guard guard(m_postLock);
    return m_thread && m_thread->post(message, wParam, lParam);
}

bool RecorderCore::threadRunning() const {
    std::lock_guard guard(m_postLock);
    return m_thread && m_thread->running();
}

} // namespace Device
