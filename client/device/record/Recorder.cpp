#include "device/record/Recorder.h"

#include "device/record/RecorderCore.h"
#include "sys/Thread.h"

namespace Device {

namespace {

// Stop waits: a restart of the thread from the UI, and the session going away.
constexpr unsigned kStopWaitMs = 500;
constexpr unsigned kDestroyWaitMs = 5000;
constexpr size_t kMacChars = 32;

} // namespace

Recorder::Recorder(RecordSession& session, RecordServices services)
    : m_core(std::make_shared<RecorderCore>(session, std::move(services))) {}

Recorder::~Recorder() {
    // The session is being destroyed around us: its overrides may already be gone, so it is
    // never called again, by us or by a record thread that outlives the wait below.
    m_core->detachSession();
    m_core->stopThread(kDestroyWaitMs);
    for (int kind = 0; kind < kRecordKinds; ++kind)
        m_core->closeRecord(kind);
}

void Recorder::Shutdown() {
    m_core->stopThread(kDestroyWaitMs);
    for (int kind = 0; kind < kRecordKinds; ++kind)
        m_core->closeRecord(kind);
}

bool Recorder::CheckCanRecord(const std::filesystem::path& directory, int kind) {
    return m_core->checkCanRecord(directory, kind);
}

bool Recorder::StartRecord(int frameRate, int kind) {
    return m_core->startRecord(frameRate, kind);
}

bool Recorder::CloseRecord(int kind) {
    m_core->closeRecord(kind);
    return true;
}

bool Recorder::IsRecording(int kind) const {
    return kind >= 0 && kind < kRecordKinds && m_core->kinds[kind].record.load();
}

void Recorder::onManualVideo(const FRAME_HEAD& frame, int pictureWidth, int pictureHeight) {
    RecorderCore& core = *m_core;
    // Out of disk space: the file is finished now; the start the next frame attempts fails and
    // ends the manual recording.
    if (!core.recordingAllowed())
        core.closeFileOnly(kRecordManual);
    if (!core.kinds[kRecordManual].record || frame.length < 0 ||
        (frame.length > 0 && frame.data == nullptr)) {
        return;
    }
    const VideoInput input{frame.data,   frame.length,  frame.keyFrame != 0, frame.frameRate,
                           pictureWidth, pictureHeight, frame.cameraWord8};
    core.recordVideo(kRecordManual, input, true);
}

void Recorder::onManualAudio(const void* pcm, int length) {
    m_core->recordAudio(kRecordManual, pcm, length);
}

void Recorder::queueFrame(int mediaType, const FRAME_HEAD& frame, const void* data, int length,
                          int width, int height) {
    m_core->queue.append(mediaType, frame, data, length, width, height);
}

void Recorder::ChangeRecordPath(const std::string& root) {
    m_core->changeRecordPath(root);
}

void Recorder::SetRecordEnable(bool alarm, bool schedule) {
    m_core->alarmEnable = alarm;
    m_core->scheduleEnable = schedule;
}

bool Recorder::alarmEnabled() const {
    return m_core->alarmEnable.load();
}

bool Recorder::scheduleEnabled() const {
    return m_core->scheduleEnable.load();
}

bool Recorder::StartPlanThread(const std::string& mac) {
    return m_core->startThread(mac.substr(0, kMacChars), m_core);
}

void Recorder::StopPlanThread() {
    m_core->stopThread(kStopWaitMs);
}

bool Recorder::PostPlanMessage(int message, intptr_t wParam, intptr_t lParam) {
    return m_core->post(message, wParam, lParam);
}

void Recorder::MakeAviHeaders(int frameRate, int kind, int totalFrames) {
    m_core->makeHeaders(frameRate, kind, totalFrames);
}

void Recorder::onH264AlarmEvent(const void* data, int length) {
    m_core->alarmTimer.onEvent(static_cast<const uint8_t*>(data), length, m_core->clock().tickMs());
}

void Recorder::onMjpegAlarmEvent(const void* data, int length) {
    const int message = mjpegAlarmMessage(static_cast<const uint8_t*>(data), length);
    if (message < 0)
        return;
    if (message == 0 && m_core->services().alarmSound)
        m_core->services().alarmSound();
    m_core->post(kMsgRecordAlarm, message, 0);
}

bool Recorder::cameraRecordOnAlarm() const {
    return m_core->alarmTimer.recordOnAlarm();
}

std::filesystem::path Recorder::recordDirectory(int kind) const {
    if (kind < 0 || kind >= kRecordKinds)
        return {};
    std::lock_guard guard(m_core->kinds[kind].lock);
    return m_core->kinds[kind].directory;
}

std::filesystem::path Recorder::currentFile(int kind) const {
    if (kind < 0 || kind >= kRecordKinds)
        return {};
    std::lock_guard guard(m_core->kinds[kind].lock);
    const RecordingFile& file = m_core->kinds[kind].file;
    return file.isOpen() ? file.path() : std::filesystem::path();
}

int Recorder::frameRate(int kind) const {
    if (kind < 0 || kind >= kRecordKinds)
        return 0;
    std::lock_guard guard(m_core->kinds[kind].lock);
    return m_core->kinds[kind].frameRate;
}

bool Recorder::restartPending(int kind) const {
    return kind >= 0 && kind < kRecordKinds && m_core->kinds[kind].restart.load();
}

int Recorder::framesWritten(int kind) const {
    if (kind < 0 || kind >= kRecordKinds)
        return 0;
    std::lock_guard guard(m_core->kinds[kind].lock);
    return m_core->kinds[kind].file.framesWritten();
}

AviHeaderSet Recorder::headers(int kind) const {
    if (kind < 0 || kind >= kRecordKinds)
        return {};
    std::lock_guard guard(m_core->kinds[kind].lock);
    return m_core->kinds[kind].file.headers;
}

bool Recorder::planThreadRunning() const {
    return m_core->threadRunning();
}

uint64_t Recorder::queueDroppedFrames() const {
    return m_core->queue.droppedFrames();
}

size_t Recorder::queuedBytes() const {
    return m_core->queue.queuedBytes();
}

} // namespace Device
