#include "device/h264/Client.h"

#include "core/NetMessage.h"
#include "sys/Tick.h"

#include <cstring>

namespace zq::h264 {

namespace {

// A request of our own: logout and close, then reconnect if allowed (zq_net_setcommand 5).
constexpr int kMsgLogout = 1026;

} // namespace

CClient::CClient(const char* playFile, DEVICE_PARAM* param, int buffering,
                 std::weak_ptr<MediaSink> sink, int linkFlags)
    : CH264Channel(param), m_sink(std::move(sink)), m_index(linkFlags & 0xFFFF),
      m_reconnect((linkFlags >> 16) != 0) {
    const int capacity = buffering & 0xFFFF;
    if (capacity > 0) {
        m_playback = std::make_unique<CPlayback>(*this, capacity, (buffering >> 16) & 0xFFFF);
        m_playback->setTarget(parsePlayFile(playFile));
    }
}

CClient::~CClient() = default;

bool CClient::start() {
    if (m_netThread.running())
        return false;
    clearCancel();
    auto self = shared_from_this();
    if (!m_netThread.start("NetThread", [self](sys::WorkerContext& c) { self->runNet(c); }))
        return false;
    if (m_playback)
        m_playback->start(self);
    return true;
}

void CClient::stop() {
    cancel();
    m_ring.post(kMsgQuit);
    if (m_playback)
        m_playback->stop(kStopWaitMs);
    m_netThread.stop(kStopWaitMs);
}

void CClient::postMessage(int code, intptr_t param1, intptr_t param2) {
    m_ring.post(code, param1, param2);
}

int CClient::report(int code, int value, int extra) {
    if (auto sink = m_sink.lock())
        sink->onMediaStatus(code, value, extra);
    return value;
}

void CClient::reportFrame(int mediaType, FRAME_HEAD* frame) {
    if (auto sink = m_sink.lock())
        sink->onMediaFrame(mediaType, frame);
}

int CClient::sendLiveRequest(int32_t command) {
    return sendPacket(liveRequest(command, *m_param), kRetryMediaRequest);
}

int CClient::sendOpenAudio() {
    return sendPacket(audioRequest(kOpenAudio, *m_param), kRetryAudioOrControl);
}

int CClient::sendCloseAudio() {
    return sendPacket(audioRequest(kCloseAudio, *m_param), kRetryAudioOrControl);
}

int CClient::sendTalk(const void* data, int length) {
    if (!data || length < 0 || length > kMaxTalkBytes)
        return kSendFailed;
    // Header, the length word, then the audio: 976 bytes at most.
    uint8_t packet[kHeaderSize + 4 + kMaxTalkBytes];
    int size = 4 + length;
    const auto header = makePacket(kTalkAudio, size);
    std::memcpy(packet, header.data(), kHeaderSize);
    writeInt(packet + kHeaderSize, length);
    std::memcpy(packet + kHeaderSize + 4, data, static_cast<size_t>(length));
    return sendPacket(packet, static_cast<size_t>(size), kRetryMediaRequest);
}

void CClient::requestLogout() {
    m_ring.post(kMsgLogout);
}

int CClient::sendLogin() {
    if (m_playback && m_playback->target().valid) {
        const PlayTarget& target = m_playback->target();
        return sendPacket(playbackLogin(*m_param, target.recordKind, target.fileName),
                          kRetryMediaRequest);
    }
    return sendLiveRequest(kMediaLogin);
}

void CClient::runNet(sys::WorkerContext&) {
    bool failedBefore = false;
    for (;;) {
        bool reconnectNow = false;
        if (!handleMessages(reconnectNow))
            return;
        const int connected = connectToCamera();
        if (connected != 0) {
            closeTransport();
            if (connected == kIoCancelled || cancelled())
                return;
            const int reason = failedBefore ? 3 : (connected == kIoUdtError ? 2 : 1);
            report(kStatusConnectFailed, reason, m_index);
            failedBefore = true;
            if (!m_reconnect || !pause(50))
                return;
            continue;
        }
        const Loss loss = runSession();
        if (loss == Loss::Stopped || !pause(50))
            return;
        if (loss == Loss::Dropped)
            report(kStatusReconnecting, 0, m_index);
    }
}

int CClient::sendLogout() {
    if (m_playback && m_playback->target().valid)
        return sendPacket(audioRequest(kPlaybackLogout, *m_param), kRetryMediaRequest);
    return sendLiveRequest(kMediaLogout);
}

// One logged-in connection, until it is lost or the thread must end.
CClient::Loss CClient::runSession() {
    if (onePortMode())
        sendServerPush();
    if (sendLogin() == kSendOk)
        report(kStatusLoggedIn, 4, m_index);

    bool reconnectNow = false;
    m_lastPacketMs.store(sys::tickMs());
    for (;;) {
        if (!handleMessages(reconnectNow)) {
            sendLogout();
            closeTransport();
            return Loss::Stopped;
        }
        if (reconnectNow)
            break;
        if (m_playback && (m_playback->wantsPause() || m_playback->paused())) {
            // Not reading on purpose: the camera is held back, not silent.
            m_lastPacketMs.store(sys::tickMs());
            pause(10);
            continue;
        }
        const int got = receive();
        if (got == kIoCancelled || cancelled()) {
            closeTransport();
            return Loss::Stopped;
        }
        if (got < 0 || sys::elapsedMs(m_lastPacketMs.load()) >= kWatchdogMs)
            break;
    }

    closeTransport();
    if (!m_reconnect) {
        if (!reconnectNow)
            report(kStatusPlayback, kPlaybackLost, m_index);
        return Loss::Stopped;
    }
    return reconnectNow ? Loss::Restart : Loss::Dropped;
}

// Drains the ring. False when the thread must end; `reconnectNow` when the connection must be
// dropped and made again.
bool CClient::handleMessages(bool& reconnectNow) {
    while (auto message = m_ring.take()) {
        switch (message->code) {
        case kMsgQuit:
            return false;
        case kMsgReconnect:
            if (m_reconnect)
                reconnectNow = true;
            break;
        case kMsgLogout:
            sendLogout();
            reconnectNow = true;
            break;
        default:
            break;
        }
    }
    return !cancelled();
}

void CClient::onPacket(const uint8_t* packet, size_t size) {
    m_lastPacketMs.store(sys::tickMs(), std::memory_order_relaxed);
    const int32_t command = commandOf(packet);
    const uint8_t* payload = packet + kHeaderSize;
    const size_t payloadSize = size - kHeaderSize;
    const bool hasWord = payloadSize >= 4;

    switch (command) {
    case kMediaStatus:
        if (hasWord)
            report(kStatusCamera16, readInt(payload) + 10, m_index);
        break;
    case kTalkGranted:
        if (hasWord)
            report(kStatusTalkGranted, readInt(payload), m_index);
        break;
    case kTalkEnded:
        if (hasWord)
            report(kStatusTalkEnded, readInt(payload), m_index);
        break;
    case kRecordInfo:
        if (m_playback)
            m_playback->onRecordInfo(payload, payloadSize);
        else if (payloadSize == kRecordInfoSize)
            report(kStatusPlayback, readInt(payload) + kPlaybackInfoBase, m_index);
        else
            report(kStatusPlayback, kPlaybackBadInfo, m_index);
        break;
    case kSeekReached:
        if (m_playback && payloadSize >= 8)
            m_playback->onSeekReached(readInt(payload), readInt(payload + 4));
        break;
    case kRecordEnd:
        report(kStatusPlayback, kPlaybackEnd, m_index);
        break;
    case kVideoFrame:
    case kAudioFrame:
        deliverLive(command, packet, size);
        break;
    default:
        break;
    }
}

void CClient::deliverLive(int32_t command, const uint8_t* packet, size_t size) {
    MediaFrame frame;
    if (!parseMediaFrame(packet, size, frame))
        return; // lengths disagree: dropped
    const int mediaType = command == kVideoFrame ? ZQ_MEDIA_VIDEO : ZQ_MEDIA_AUDIO;
    FRAME_HEAD head;
    fillFrameHead(mediaType, frame, head);
    if (m_playback)
        m_playback->enqueue(mediaType, head);
    else
        reportFrame(mediaType, &head);
}

} // namespace zq::h264
