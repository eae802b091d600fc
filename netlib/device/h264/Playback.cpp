#include "device/h264/Playback.h"

#include "device/h264/Client.h"
#include "device/h264/Packet.h"
#include "sys/Tick.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace zq::h264 {

namespace {

constexpr int kDefaultFps = 30;
constexpr int kEmptyRoundsAtEnd = 100;
constexpr int kEndSlackFrames = 20;
constexpr unsigned kRoundMs = 10;

} // namespace

PlayTarget parsePlayFile(const char* playFile) {
    PlayTarget target;
    if (!playFile)
        return target;
    const std::string_view text(playFile, strnlen(playFile, 4096));
    if (text.size() < 3 || text[0] < '0' || text[0] > '9')
        return target;
    const size_t slash = text.rfind('/');
    // The name must follow a path of some length; a bare name is not a record.
    if (slash == std::string_view::npos || slash < 8)
        return target;
    const std::string_view name = text.substr(slash + 1);
    if (name.find('.') == std::string_view::npos)
        return target;
    target.valid = true;
    target.recordKind = text[0] - '0';
    target.fileName = std::string(name.substr(0, 63));
    return target;
}

CPlayback::CPlayback(CClient& client, int capacity, int prebuffer)
    : m_client(client), m_capacity(static_cast<size_t>(capacity)), m_prebuffer(prebuffer) {}

CPlayback::~CPlayback() = default;

bool CPlayback::start(std::shared_ptr<CClient> owner) {
    return m_thread.start("AVThread",
                          [owner](sys::WorkerContext& c) { owner->playback()->run(c); });
}

void CPlayback::stop(unsigned waitMs) {
    m_ring.post(kMsgQuit);
    m_thread.stop(waitMs);
}

size_t CPlayback::queued() const {
    std::lock_guard lock(m_queueLock);
    return m_queue.size();
}

bool CPlayback::wantsPause() const {
    return queued() >= m_capacity;
}

void CPlayback::onRecordInfo(const uint8_t* payload, size_t length) {
    const int index = m_client.index();
    if (length != m_recordInfo.size()) {
        m_client.report(kStatusPlayback, kPlaybackBadInfo, index);
        return;
    }
    std::memcpy(m_recordInfo.data(), payload, length);
    const int32_t available = readInt(payload);
    const int32_t total = readInt(payload + 12);
    m_totalFrames.store(total);
    m_durationMs.store(readInt(payload + 16));
    if (available != 0 && total < m_prebuffer.load())
        m_prebuffer.store(total);
    m_ring.post(kMsgRecordInfo);
    m_client.report(kStatusPlayback, available + kPlaybackInfoBase, index);
}

void CPlayback::onSeekReached(int32_t firstWord, int32_t reachedMs) {
    // Frames after this packet belong to the new position: accept them from here on, not only
    // once "AVThread" has looked at its ring, or the key frame that follows could be lost.
    m_seeking.store(false);
    m_ring.post(kMsgSeekReached, firstWord, reachedMs);
}

void CPlayback::enqueue(int32_t mediaType, const FRAME_HEAD& head) {
    if (m_seeking.load())
        return;
    auto data =
        std::unique_ptr<char[]>(new (std::nothrow) char[static_cast<size_t>(head.length) + 3]);
    if (!data)
        return; // no memory for the copy: drop this frame
    std::memcpy(data.get(), head.data, static_cast<size_t>(head.length));
    std::memset(data.get() + head.length, 0, 3);
    QueuedFrame frame{head, std::move(data)};
    frame.head.data = frame.data.get();
    {
        std::lock_guard lock(m_queueLock);
        m_queue.push_back(std::move(frame));
    }
    if (mediaType == ZQ_MEDIA_VIDEO && m_seekPending.exchange(false))
        m_ring.post(kMsgShowOneFrame);
}

int CPlayback::seek(double percent) {
    if (std::isnan(percent))
        return kSendFailed;
    percent = std::clamp(percent, 0.0, 100.0);
    std::lock_guard playLock(m_playLock);
    m_seeking.store(true);
    clearQueue();
    const auto target = static_cast<int32_t>(percent * m_durationMs.load() / 100.0);
    const int sent = m_client.sendMediaPacket(seekRequest(target));
    if (sent != kSendOk)
        m_seeking.store(false);
    else if (m_paused.load())
        m_seekPending.store(true);
    return sent;
}

int CPlayback::pause() {
    const int sent = m_client.sendMediaPacket(emptyRequest(kPlaybackPause));
    m_ring.post(kMsgPause);
    return sent;
}

int CPlayback::resume() {
    const int sent = m_client.sendMediaPacket(emptyRequest(kPlaybackResume));
    m_ring.post(kMsgResume);
    return sent;
}

void CPlayback::clearQueue() {
    std::lock_guard lock(m_queueLock);
    m_queue.clear();
}

void CPlayback::dropQueuedAudio() {
    std::lock_guard lock(m_queueLock);
    std::erase_if(m_queue, [](const QueuedFrame& f) { return f.head.type == ZQ_MEDIA_AUDIO; });
}

int32_t CPlayback::remainingFrames() const {
    return std::max<int32_t>(0, m_totalFrames.load() - m_played.load());
}

void CPlayback::reportPosition() {
    const int32_t total = m_totalFrames.load();
    const int32_t position =
        total > 0 ? static_cast<int32_t>(int64_t{m_played.load()} * 10000 / total) : 0;
    if (position != m_lastPosition) {
        m_lastPosition = position;
        m_client.report(kStatusPlayback, kPlaybackPosition, position);
    }
}

// One "AVThread" message; false on quit.
bool CPlayback::dispatch(const NetMessage& message) {
    switch (message.code) {
    case kMsgQuit:
        return false;
    case kMsgPause:
        m_paused.store(true);
        m_client.report(kStatusPlayback, kPlaybackPaused, 0);
        break;
    case kMsgResume:
        m_paused.store(false);
        m_refill = true;
        break;
    case kMsgSeekReached: {
        const int64_t played = int64_t{m_fps.load()} * message.param2 / 1000;
        m_played.store(static_cast<int32_t>(std::clamp<int64_t>(played, 0, m_totalFrames.load())));
        m_seeking.store(false);
        m_refill = true;
        reportPosition();
        break;
    }
    case kMsgShowOneFrame:
        m_showOne.store(true);
        break;
    default:
        break;
    }
    return true;
}

bool CPlayback::drainMessages() {
    while (auto message = m_ring.take())
        if (!dispatch(*message))
            return false;
    return true;
}

bool CPlayback::waitForRecordInfo() {
    for (;;) {
        auto message = m_ring.take();
        if (!message) {
            sys::sleepMs(kRoundMs);
            continue;
        }
        if (message->code == kMsgQuit)
            return false;
        if (message->code == kMsgRecordInfo)
            return true;
    }
}

// Waits until the pre-buffer target (never more than the frames still to come) is queued,
// reporting the fill percentage (0 while a seek is under way). False on quit.
bool CPlayback::prebuffer() {
    for (;;) {
        const int32_t target = std::min(m_prebuffer.load(), remainingFrames());
        const size_t have = queued();
        if (target <= 0 || have >= static_cast<size_t>(target) || m_paused.load())
            return true;
        const auto fill = static_cast<int>(have * 100 / static_cast<size_t>(target));
        m_client.report(kStatusPlayback, kPlaybackBuffering, m_seeking.load() ? 0 : fill);
        sys::sleepMs(kRoundMs);
        if (!drainMessages())
            return false;
    }
}

int32_t CPlayback::frontType() const {
    std::lock_guard lock(m_queueLock);
    return m_queue.empty() ? 0 : m_queue.front().head.type;
}

// Delivers the head of the queue. True when it was a video frame.
bool CPlayback::deliverFront() {
    QueuedFrame frame;
    {
        std::lock_guard lock(m_queueLock);
        if (m_queue.empty())
            return false;
        frame = std::move(m_queue.front());
        m_queue.pop_front();
    }
    const int32_t type = frame.head.type;
    m_client.reportFrame(type, &frame.head);
    if (type != ZQ_MEDIA_VIDEO)
        return false;
    m_played.fetch_add(1);
    reportPosition();
    return true;
}

// Frame rate of the record, or 0 when playback must not start.
int32_t CPlayback::startingRate() {
    const int index = m_client.index();
    const int32_t total = m_totalFrames.load();
    const int32_t duration = m_durationMs.load();
    if (total <= 0 || duration <= 0) {
        m_client.report(kStatusPlayback, kPlaybackEnd, index);
        return 0;
    }
    if (total < 30)
        m_prebuffer.store(0);
    else if (total < m_prebuffer.load())
        m_prebuffer.store(total / 2);
    auto fps = static_cast<int32_t>(int64_t{total} * 1000 / duration);
    if (fps == 0) {
        // A receiver that changes the value refuses the default rate.
        if (m_client.report(kStatusPlayback, kPlaybackLost, index) != kPlaybackLost)
            return 0;
        fps = kDefaultFps;
    }
    return fps;
}

void CPlayback::run(sys::WorkerContext&) {
    if (!waitForRecordInfo()) {
        m_client.report(kStatusPlayback, kPlaybackPosition, 0);
        return;
    }
    const int32_t fps = startingRate();
    if (fps == 0)
        return;
    m_fps.store(fps);
    const int result = pace(fps);
    if (result >= 0) {
        m_client.report(kStatusPlayback, kPlaybackEnd, m_client.index());
        m_client.report(kStatusPlayback, kPlaybackPosition, result);
    } else {
        m_client.report(kStatusPlayback, kPlaybackPosition, 0);
    }
}

// Delivers frames at `fps` until the record ends (returns the final position: 10000 when every
// frame was played, 0 when the stream ran dry near the end) or a quit arrives (-1).
int CPlayback::pace(int32_t fps) {
    const double intervalMs = 1000.0 / fps;
    if (!prebuffer())
        return -1;
    double nextMs = static_cast<double>(sys::tickMs());
    int emptyRounds = 0;
    for (;;) {
        if (!drainMessages())
            return -1;
        if (m_refill) {
            m_refill = false;
            if (!prebuffer())
                return -1;
            nextMs = static_cast<double>(sys::tickMs());
        }
        if (m_paused.load()) {
            dropQueuedAudio();
            if (m_showOne.exchange(false) && frontType() == ZQ_MEDIA_VIDEO)
                deliverFront();
            sys::sleepMs(kRoundMs);
            nextMs = static_cast<double>(sys::tickMs());
            continue;
        }
        if (m_played.load() >= m_totalFrames.load())
            return 10000;
        const int32_t type = frontType();
        if (type == 0) {
            if (m_played.load() + kEndSlackFrames < m_totalFrames.load()) {
                m_refill = true; // ran dry mid-record: buffer again
                continue;
            }
            if (++emptyRounds >= kEmptyRoundsAtEnd)
                return 0;
            sys::sleepMs(kRoundMs);
            continue;
        }
        emptyRounds = 0;
        if (type == ZQ_MEDIA_VIDEO) {
            const auto now = static_cast<double>(sys::tickMs());
            if (now < nextMs) {
                sys::sleepMs(static_cast<unsigned>(std::min(nextMs - now, double{kRoundMs})));
                continue;
            }
            // Lateness carries over, but a long stall does not turn into a burst.
            nextMs = std::max(nextMs + intervalMs, now - 1000.0);
        }
        deliverFront();
    }
}

} // namespace zq::h264
