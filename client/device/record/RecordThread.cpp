// ThreadRecord: one per session, from StartPlanThread to StopPlanThread. It follows the camera's
// weekly plan and its alarms, takes the frames the frame callback queued and writes them into
// the schedule (kind 1) and alarm (kind 2) recordings.

#include "device/record/RecordPlan.h"
#include "device/record/RecorderCore.h"

#include "common/EventLog.h"
#include "sys/Thread.h"

#include <cstdio>
#include <deque>
#include <optional>
#include <vector>

namespace Device {

namespace {

constexpr const char* kThreadRecord = "Device::CSigleDevice::ThreadRecord";

// The work buffer a queued frame is copied into; a larger frame is refused.
constexpr size_t kWorkBytes = 1024 * 1024;
constexpr unsigned kIdleMs = 100;
// After each alarm frame: the alarm recording never takes the whole disk bandwidth.
constexpr unsigned kAlarmFramePauseMs = 20;
constexpr int kClassH264 = 17;

class RecordLoop {
public:
    RecordLoop(const std::shared_ptr<RecorderCore>& core, sys::WorkerContext& context,
               const std::string& mac)
        : m_core(core), m_context(context), m_mac(mac) {}

    void run();

private:
    void loadPlan();
    // Handles every waiting message; false when the thread is to end.
    bool drainMessages();
    bool handle(const sys::ThreadMessage& message);
    // Waits up to `ms`; a message that arrives ends the wait and is handled on the next pass.
    void idle(unsigned ms);
    // Closes a planned kind, with its stop event when its start event was logged.
    void closePlanned(int kind);
    void restartAfterGap();
    // One frame from the queue, into the recordings that want it.
    void onVideo(const QueuedFrame& frame, bool inSchedule, bool alarmAllowed);
    void onAudio(const QueuedFrame& frame, bool inSchedule, bool alarmAllowed);
    void reportDrops();

    RecorderCore& core() { return *m_core; }

    const std::shared_ptr<RecorderCore> m_core;
    sys::WorkerContext& m_context;
    const std::string m_mac;
    std::vector<uint8_t> m_work;
    DayIntervals m_plan;
    int m_planDay = -1;
    bool m_startLogged[kRecordKinds] = {};
    std::deque<sys::ThreadMessage> m_pending;
    uint64_t m_dropsReported = 0;
};

void RecordLoop::run() {
    m_work.resize(kWorkBytes);
    loadPlan();
    while (drainMessages()) {
        core().alarmTimer.poll(core().clock().tickMs());
        const LocalTime now = core().clock().localNow();
        // A running camera alarm keeps the day's plan until it ends.
        if (now.dayOfWeek != m_planDay && !core().alarmTimer.recordOnAlarm())
            loadPlan();
        const int minute = now.hour * 60 + now.minute;
        const bool inSchedule = insideAny(m_plan.schedule, minute);
        const bool alarmAllowed =
            core().classCode() == kClassH264 || insideAny(m_plan.alarm, minute);
        core().setAlarmAllowed(alarmAllowed);
        reportDrops();

        // Closed here rather than with the next frame, so a recording ends on time even while
        // the camera sends nothing.
        if (!inSchedule || !core().scheduleEnable)
            closePlanned(kRecordSchedule);
        if (!alarmAllowed || !core().alarmEnable)
            closePlanned(kRecordAlarm);

        // Nothing to record (or no room for it): what waits in the queue would only be stale
        // by the time recording begins, so it goes. No start is tried without room either,
        // which would only fail with every frame.
        if (!core().recordingAllowed() || (!inSchedule && !alarmAllowed)) {
            closePlanned(kRecordSchedule);
            closePlanned(kRecordAlarm);
            core().queue.clear();
            idle(kIdleMs);
            continue;
        }

        QueuedFrame frame;
        switch (core().queue.take(frame, m_work.data(), m_work.size())) {
        case FrameQueue::Take::Empty:
            if (!core().queue.swap())
                idle(kIdleMs);
            continue;
        case FrameQueue::Take::Malformed:
            core().logLine(kThreadRecord, "frame queue out of step; its rest was dropped");
            restartAfterGap();
            continue;
        case FrameQueue::Take::Oversize: {
            char line[160];
            std::snprintf(line, sizeof line,
                          "frame of %d bytes refused: larger than the %zu-byte record buffer",
                          frame.length, kWorkBytes);
            core().logLine(kThreadRecord, line);
            if (frame.mediaType == ZQ_MEDIA_VIDEO)
                restartAfterGap();
            continue;
        }
        case FrameQueue::Take::Frame:
            break;
        }
        if (frame.afterGap)
            restartAfterGap();
        // A frame no recording wants is dropped at once: idling on it would only let the queue
        // fall behind the camera.
        if (frame.mediaType == ZQ_MEDIA_VIDEO)
            onVideo(frame, inSchedule, alarmAllowed);
        else if (frame.mediaType == ZQ_MEDIA_AUDIO)
            onAudio(frame, inSchedule, alarmAllowed);
    }
    closePlanned(kRecordSchedule);
    closePlanned(kRecordAlarm);
    core().queue.setAccepting(false);
}

void RecordLoop::loadPlan() {
    const LocalTime now = core().clock().localNow();
    m_planDay = now.dayOfWeek;
    const std::string root = core().recordRoot();
    const std::filesystem::path directory =
        root.empty() ? std::filesystem::path() : recordFolder(pathFromUtf8(root), core().host());
    core().setDirectory(kRecordSchedule, directory);
    core().setDirectory(kRecordAlarm, directory);
    const RecordServices& services = core().services();
    m_plan = loadDayIntervals(services.database, services.databaseLock, m_planDay, m_mac);
}

bool RecordLoop::drainMessages() {
    if (m_context.cancelled())
        return false;
    while (!m_pending.empty()) {
        const sys::ThreadMessage message = m_pending.front();
        m_pending.pop_front();
        if (!handle(message))
            return false;
    }
    while (const std::optional<sys::ThreadMessage> message = m_context.queue().peek()) {
        if (!handle(*message))
            return false;
    }
    return true;
}

bool RecordLoop::handle(const sys::ThreadMessage& message) {
    switch (message.code) {
    case sys::kQuitCode:
        return false;
    case kMsgRecordSettings:
        closePlanned(kRecordSchedule);
        // An H.264 camera's alarm recording follows the camera's own alarms, not the settings.
        if (core().classCode() != kClassH264)
            closePlanned(kRecordAlarm);
        core().alarmEnable = message.param1 != 0;
        core().scheduleEnable = message.param2 != 0;
        loadPlan();
        return true;
    case kMsgRecordAlarm:
        if (message.param1 == 0) {
            core().kinds[kRecordAlarm].record = true;
            core().logLine(kThreadRecord, core().host() + " Alarming");
        } else {
            closePlanned(kRecordAlarm);
        }
        return true;
    default:
        return true;
    }
}

void RecordLoop::idle(unsigned ms) {
    if (std::optional<sys::ThreadMessage> message = m_context.queue().take(ms))
        m_pending.push_back(*message);
}

void RecordLoop::closePlanned(int kind) {
    core().closeRecord(kind);
    if (m_startLogged[kind]) {
        m_startLogged[kind] = false;
        core().logEvent(kind == kRecordSchedule ? client::kEventScheduleStop
                                                : client::kEventAlarmStop);
    }
}

void RecordLoop::restartAfterGap() {
    core().forgetKeyFrame(kRecordSchedule);
    core().forgetKeyFrame(kRecordAlarm);
}

void RecordLoop::onVideo(const QueuedFrame& frame, bool inSchedule, bool alarmAllowed) {
    const VideoInput input{m_work.data(), frame.length, frame.keyFrame,   frame.frameRate,
                           frame.width,   frame.height, frame.cameraWord8};
    if (inSchedule && core().scheduleEnable) {
        const VideoStep step = core().recordVideo(kRecordSchedule, input, false);
        if (step.opened && !m_startLogged[kRecordSchedule]) {
            m_startLogged[kRecordSchedule] = true;
            core().logEvent(client::kEventScheduleStart);
        }
    }
    if (alarmAllowed && core().alarmEnable && core().kinds[kRecordAlarm].record) {
        const VideoStep step = core().recordVideo(kRecordAlarm, input, true);
        if (step.opened && !m_startLogged[kRecordAlarm]) {
            m_startLogged[kRecordAlarm] = true;
            core().logEvent(client::kEventAlarmStart);
        }
        if (step.wrote)
            idle(kAlarmFramePauseMs);
    }
}

void RecordLoop::onAudio(const QueuedFrame& frame, bool inSchedule, bool alarmAllowed) {
    if (inSchedule)
        core().recordAudio(kRecordSchedule, m_work.data(), frame.length);
    if (alarmAllowed)
        core().recordAudio(kRecordAlarm, m_work.data(), frame.length);
}

void RecordLoop::reportDrops() {
    const uint64_t dropped = core().queue.droppedFrames();
    if (dropped == m_dropsReported)
        return;
    char line[128];
    std::snprintf(line, sizeof line, "frame queue full: %llu frames dropped so far",
                  static_cast<unsigned long long>(dropped));
    core().logLine(kThreadRecord, line);
    m_dropsReported = dropped;
}

} // namespace

void runRecordThread(const std::shared_ptr<RecorderCore>& core, sys::WorkerContext& context,
                     const std::string& mac) {
    RecordLoop loop(core, context, mac);
    loop.run();
}

} // namespace Device
