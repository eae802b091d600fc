#include "device/mjpeg/Client.h"

#include "core/NetMessage.h"
#include "sys/Tick.h"

#include <ctime>

namespace zq::mjpeg {

static_assert(kHeaderSize + kTalkContent <= 200, "a talk packet fits its reused buffer");

CMJClient::CMJClient(DEVICE_PARAM* param, std::weak_ptr<MjpegSink> sink, int linkFlags)
    : CMJChannel(param, Magic::Video), m_sink(std::move(sink)), m_index(linkFlags & 0xFFFF),
      m_reconnect((linkFlags >> 16) != 0) {}

CMJClient::~CMJClient() = default;

bool CMJClient::start() {
    if (m_thread.running())
        return false;
    clearCancel();
    auto self = shared_from_this();
    return m_thread.start("MJNetThread", [self](sys::WorkerContext& c) { self->run(c); });
}

void CMJClient::stop() {
    cancel();
    m_ring.post(kMsgQuit);
    m_thread.stop(kStopWaitMs);
}

bool CMJClient::post(int code, intptr_t param1, intptr_t param2) {
    return m_ring.post(code, param1, param2);
}

void CMJClient::report(int code, int value) {
    if (auto sink = m_sink.lock())
        sink->onMediaStatus(code, value, m_index);
}

int CMJClient::sendTalk(int32_t serial, uint8_t format, const void* data, int length) {
    if (!data || length != kTalkBytes)
        return kSendFailed;
    std::lock_guard lock(m_talkLock);
    fillTalk(m_talkPacket.data(), static_cast<int32_t>(sys::tickMs()), serial,
             static_cast<int32_t>(std::time(nullptr)), format, static_cast<const uint8_t*>(data));
    return sendPacket(m_talkPacket.data(), kHeaderSize + kTalkContent, kSendRetries);
}

void CMJClient::run(sys::WorkerContext&) {
    bool failedBefore = false;
    for (;;) {
        bool reconnect = false;
        if (!handleMessages(reconnect, false))
            return;
        const int connected = connectToCamera();
        if (connected != 0) {
            closeTransport();
            if (connected == kIoCancelled || cancelled())
                return;
            report(kStatusConnectFailed, failedBefore ? 3 : (connected == kIoUdtError ? 2 : 1));
            failedBefore = true;
            if (!m_reconnect || !pause(kLoopMs))
                return;
            continue;
        }
        const Loss loss = runSession();
        if (loss == Loss::Stopped)
            return;
        if (loss == Loss::Dropped)
            report(kStatusReconnecting, 0);
        if (!pause(kLoopMs))
            return;
    }
}

CMJClient::Loss CMJClient::runSession() {
    // A connection made before the video start reply waits for its id (code 1039).
    if (m_hasConnectionId.load())
        send(mediaLogin(m_connectionId.load()));
    m_lastPacketMs.store(sys::tickMs());
    bool reconnect = false;
    for (;;) {
        if (!handleMessages(reconnect, true)) {
            closeTransport();
            return Loss::Stopped;
        }
        if (reconnect)
            break;
        const int got = receive();
        if (got == kIoCancelled || cancelled()) {
            closeTransport();
            return Loss::Stopped;
        }
        if (got < 0 || sys::elapsedMs(m_lastPacketMs.load()) >= kWatchdogMs)
            break;
        if (!pause(kLoopMs)) {
            closeTransport();
            return Loss::Stopped;
        }
    }
    closeTransport();
    if (!m_reconnect) {
        report(kStatusLost, 25);
        return Loss::Stopped;
    }
    return reconnect ? Loss::Restart : Loss::Dropped;
}

bool CMJClient::handleMessages(bool& reconnect, bool connected) {
    while (auto message = m_ring.take()) {
        switch (message->code) {
        case kMsgQuit:
            return false;
        case kMsgReconnect:
            if (m_reconnect)
                reconnect = true;
            break;
        case kMsgConnectionId:
            m_connectionId.store(static_cast<int32_t>(message->param1));
            m_hasConnectionId.store(true);
            if (connected)
                send(mediaLogin(static_cast<int32_t>(message->param1)));
            break;
        default:
            break;
        }
    }
    return !cancelled();
}

void CMJClient::onPacket(const uint8_t* packet, size_t size) {
    m_lastPacketMs.store(sys::tickMs(), std::memory_order_relaxed);
    const uint8_t* content = packet + kHeaderSize;
    const size_t length = size - kHeaderSize;
    MediaFrame frame;
    FRAME_HEAD head;
    switch (opcodeOf(packet)) {
    case kPicture:
        if (!parsePicture(content, length, frame))
            return;
        fillPictureHead(frame, head);
        break;
    case kAudio:
        if (!parseAudio(content, length, frame))
            return;
        fillAudioHead(frame, head);
        break;
    default:
        return;
    }
    if (auto sink = m_sink.lock())
        sink->onMediaFrame(opcodeOf(packet) == kPicture ? ZQ_MEDIA_VIDEO : ZQ_MEDIA_AUDIO, &head);
}

} // namespace zq::mjpeg
