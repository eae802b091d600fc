#include "MonitorSession.h"

#include "Fields.h"
#include "Heap.h"

#include "sys/Tick.h"

#include <cstring>

namespace moltrex {

namespace {

enum : uint16_t {
    kOpVideoStart = 4,
    kOpVideoStop = 6,
    kOpMaxVideoRate = 7,
    kOpAudioStart = 8,
    kOpStartAnswer = 9,
    kOpAudioStop = 10,
    kOpDecoderControl = 14,
    kOpReady = 16,
    kOpStatusFive = 17,
    kOpStatusOne = 18,
    kOpSensorControl = 19,
    kOpReport25 = 25,
    kOpReport26 = 26,
    kOpReport27 = 27,
};

} // namespace

MonitorSession::MonitorSession(Endpoint endpoint, const Target& target, const Tuning& tuning)
    : Session(SessionKind::Monitor, endpoint, target, tuning),
      m_channel(endpoint.ip, endpoint.port, tuning),
      m_order(tuning.reorderSpan, tuning.reorderJump, tuning.maxBufferedFrames,
              tuning.maxBufferedBytes),
      m_sound(tuning.soundBlocks) {}

void MonitorSession::afterLogin() {
    send(kOpReady); // a failure shows on the next read
}

void MonitorSession::onMessage(const Message& message) {
    FieldReader in(message.payload);
    switch (message.opcode) {
    case kOpStartAnswer:
        onStartAnswer(message);
        break;
    case kOpStatusFive:
    case kOpStatusOne: {
        const int count = message.opcode == kOpStatusFive ? 5 : 1;
        if (message.payload.size() < static_cast<size_t>(count) * 4)
            break;
        for (int i = 0; i < count; ++i)
            notify(MO_MSG_STATUS, in.u32());
        break;
    }
    case kOpReport25:
    case kOpReport26:
    case kOpReport27:
        if (message.payload.size() >= 4) {
            const unsigned report = message.opcode == kOpReport25   ? MO_MSG_REPORT_25
                                    : message.opcode == kOpReport26 ? MO_MSG_REPORT_26
                                                                    : MO_MSG_REPORT_27;
            notify(report, in.u32());
        }
        break;
    default:
        break;
    }
}

void MonitorSession::onStartAnswer(const Message& message) {
    if (message.payload.size() < 6 || m_pendingStarts.empty())
        return;
    FieldReader in(message.payload);
    const uint16_t status = in.u16();
    const uint32_t connectionId = in.u32();
    const Stream stream = m_pendingStarts.front();
    m_pendingStarts.pop_front();
    if (status == 0) {
        (stream == Stream::Video ? m_video : m_audio) = true;
        if (stream == Stream::Video && !m_countersRunning) {
            m_countersRunning = true;
            m_countersStartMs = sys::tickMs();
            m_counters = {};
        }
        m_channel.open(connectionId);
    }
    notify(stream == Stream::Video ? MO_MSG_VIDEO_START : MO_MSG_AUDIO_START, status);
}

int MonitorSession::onRequest(Request& request) {
    FieldWriter payload;
    int status = MO_OK;
    switch (request.code) {
    case kPlayVideo:
    case kPlayAudio: {
        const bool video = request.code == kPlayVideo;
        payload.u8(1);
        status = send(video ? kOpVideoStart : kOpAudioStart, payload.data());
        if (status == MO_OK)
            m_pendingStarts.push_back(video ? Stream::Video : Stream::Audio);
        return status;
    }
    case kStopVideo:
    case kStopAudio: {
        const bool video = request.code == kStopVideo;
        status = send(video ? kOpVideoStop : kOpAudioStop);
        if (status != MO_OK)
            return status;
        (video ? m_video : m_audio) = false;
        if (video)
            m_countersRunning = false;
        // What the buffer still holds goes out before the stop is reported, so the stop is the
        // last the host hears of a stream.
        if (!m_video && !m_audio)
            endStreams(MO_OK, MO_OK);
        notify(video ? MO_MSG_VIDEO_STOP : MO_MSG_AUDIO_STOP, MO_OK);
        return MO_OK;
    }
    case kSetMaxVideoRate:
        payload.u32(request.value1);
        return send(kOpMaxVideoRate, payload.data());
    case kSensorControl:
        payload.u32(request.value1);
        payload.u32(request.value2);
        return send(kOpSensorControl, payload.data());
    case kDecoderControl:
        payload.u32(request.value1);
        return send(kOpDecoderControl, payload.data());
    case kSoundOn:
        m_sound.on();
        return MO_OK;
    case kSoundOff:
        m_sound.off();
        return MO_OK;
    default:
        return MO_OK;
    }
}

void MonitorSession::addPollEntries(std::vector<pollfd>& entries) {
    m_channel.addPollEntry(entries);
}

int MonitorSession::afterPoll(const std::vector<pollfd>& entries) {
    m_arrived.clear();
    const VideoChannel::Outcome outcome = m_channel.service(entries, m_arrived, cancelled());
    for (const Message& message : m_arrived)
        onVideoMessage(message);
    deliver(m_released);

    switch (outcome) {
    case VideoChannel::Outcome::Ok:
        break;
    case VideoChannel::Outcome::Lost:
        endStreams(m_video ? MO_ERR_SOCKET : MO_OK, m_audio ? MO_ERR_SOCKET : MO_OK);
        break;
    case VideoChannel::Outcome::Broken:
        endStreams(m_video ? MO_ERR_PROTOCOL : MO_OK, m_audio ? MO_ERR_PROTOCOL : MO_OK);
        break;
    case VideoChannel::Outcome::GaveUp:
        endStreams(m_video ? MO_ERR_TIMEOUT : MO_OK, m_audio ? MO_ERR_TIMEOUT : MO_OK);
        break;
    }
    if (m_video && m_countersRunning &&
        sys::elapsedMs(m_countersStartMs) >= m_tuning.countersIntervalMs) {
        postCounters();
        m_countersStartMs = sys::tickMs();
    }
    return MO_OK;
}

void MonitorSession::onVideoMessage(const Message& message) {
    auto frame = parseVideoFrame(message);
    if (!frame)
        return;
    if (frame->audio) {
        m_counters.audioBytes += static_cast<uint32_t>(frame->data.size());
        ++m_counters.audioBlocks;
    } else {
        m_counters.videoBytes += static_cast<uint32_t>(frame->data.size());
        ++m_counters.pictures;
    }
    m_order.push(std::move(*frame), m_released);
}

// Stops that the host did not ask for are reported here; a stream stopped by request was
// reported with the request. `status` MO_OK means "nothing to report".
void MonitorSession::endStreams(int videoStatus, int audioStatus) {
    m_order.flush(m_released);
    deliver(m_released);
    m_channel.close();
    m_pendingStarts.clear();
    if (videoStatus != MO_OK)
        notify(MO_MSG_VIDEO_STOP, videoStatus);
    if (audioStatus != MO_OK)
        notify(MO_MSG_AUDIO_STOP, audioStatus);
    m_video = false;
    m_audio = false;
    m_countersRunning = false;
}

void MonitorSession::deliver(std::vector<Released>& released) {
    for (Released& item : released) {
        Frame& frame = item.frame;
        if (frame.audio && frame.format == 0 && m_sound.isOn())
            m_sound.play(frame.data.data(), frame.data.size());
        auto* record = static_cast<MO_FRAME*>(heap::allocate(sizeof(MO_FRAME) + frame.data.size()));
        if (record == nullptr)
            continue;
        auto* data = reinterpret_cast<uint8_t*>(record + 1);
        if (!frame.data.empty())
            std::memcpy(data, frame.data.data(), frame.data.size());
        record->picture.length = static_cast<uint32_t>(frame.data.size());
        record->picture.data = data;
        record->timeStamp = frame.stamp;
        record->frameTime = frame.frameTime;
        record->gatherTime = frame.gatherTime;
        record->format = frame.format;
        record->isAudio = frame.audio ? 1 : 0;
        const unsigned message = frame.audio
                                     ? (item.atOnce ? MO_MSG_AUDIO_FLUSH : MO_MSG_AUDIO)
                                     : (item.atOnce ? MO_MSG_PICTURE_FLUSH : MO_MSG_PICTURE);
        notify(message, reinterpret_cast<MO_LPARAM>(record), true);
    }
    released.clear();
}

void MonitorSession::postCounters() {
    if (auto* record = heap::make(m_counters))
        notify(MO_MSG_COUNTERS, reinterpret_cast<MO_LPARAM>(record), true);
    m_counters = {};
}

void MonitorSession::beforeEnd() {
    m_order.flush(m_released);
    deliver(m_released);
    m_channel.close();
    m_sound.off();
}

} // namespace moltrex
