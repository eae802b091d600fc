#include "device/tutk/H264Tutk.h"

#include "core/NetMessage.h"
#include "device/h264/CommandTable.h"
#include "device/h264/MediaSink.h"
#include "sys/Tick.h"
#include "transport/Tutk.h"
#include "zqnet/zqnet.h"

#include <cstring>

namespace zq::tutk {

using namespace zq::h264;

namespace {

constexpr int kControlChannel = 0;
constexpr int kMediaChannel = 1;
constexpr int kMsgMediaLogout = 1026;
constexpr int kConnectFailed = 1;
constexpr int kLoginRefused = 2;

// Packets of the control channel the caller hears about under another code.
constexpr int32_t kCommandAnswer = 115;
constexpr int32_t kSnapshotAnswer = 116;
constexpr int kEventCommandAnswer = 11;
constexpr int kEventSnapshot = 25;

// Code 12 values the control thread turns into a command of its own.
const char* controlQueryText(intptr_t code) {
    switch (code) {
    case 25:
        return "snapPicture";
    case 36:
        return "resetImageSetting";
    case 46:
        return "ptzStopCruise";
    default:
        return nullptr;
    }
}

constexpr intptr_t kCallerText = 300;

} // namespace

CH264Tutk::CH264Tutk(DEVICE_PARAM* param, int buffering, int linkFlags, EventCallback onEvent,
                     FrameCallback onFrame, void* user)
    : CTutkNetBase(param, onEvent, onFrame, user, linkFlags),
      m_dropFrames((buffering & 0xFFFF) != 0), m_control(param, *this, kControlChannel),
      m_media(param, *this, kMediaChannel) {
    m_control.setTransport(std::make_unique<CRdtChannelSocket>(m_tutk, m_control.channelId()));
    m_media.setTransport(std::make_unique<CRdtChannelSocket>(m_tutk, m_media.channelId()));
}

CH264Tutk::~CH264Tutk() = default;

bool CH264Tutk::start() {
    auto self = shared_from_this();
    return m_controlThread.start("p2p_ctrl", [self](sys::WorkerContext& c) { self->run(c); });
}

void CH264Tutk::close() {
    m_tutk.cancel();
    m_control.cancel();
    m_media.cancel();
    m_controlRing.post(kMsgQuit);
    m_mediaRing.post(kMsgQuit);
    {
        // The control thread may be starting the media thread right now.
        std::lock_guard lock(m_mediaStartLock);
        m_mediaThread.stop(kStopWaitMs);
    }
    m_controlThread.stop(kStopWaitMs);
    closeSession();
    closeGate();
}

// --- Control thread ------------------------------------------------------------------------------

void CH264Tutk::run(sys::WorkerContext&) {
    for (;;) {
        Outcome outcome = Outcome::Reconnect;
        if (!takeControlMessages(outcome) || outcome == Outcome::Stop)
            return;
        if (connectSession() && createChannels())
            outcome = runControlSession();
        closeSession();
        if (outcome == Outcome::Stop || !m_control.wait(50))
            return;
    }
}

bool CH264Tutk::connectSession() {
    const int connected = m_tutk.connect(uid().c_str(), m_param->port);
    if (connected == 0)
        return true;
    if (connected != kIoCancelled)
        notify(0, kConnectFailed, nullptr, 0);
    return false;
}

bool CH264Tutk::createChannels() {
    const int control = m_tutk.createChannel(0, kControlChannel);
    if (control < 0)
        return false;
    m_control.channelId().store(control);
    const int media = m_tutk.createChannel(0, kMediaChannel);
    if (media < 0)
        return false;
    m_media.channelId().store(media);
    return true;
}

void CH264Tutk::closeSession() {
    m_tutk.destroyChannel(m_control.channelId().exchange(CMutilTutk::kNone));
    m_tutk.destroyChannel(m_media.channelId().exchange(CMutilTutk::kNone));
    m_tutk.close();
}

CH264Tutk::Outcome CH264Tutk::runControlSession() {
    m_control.resetReceiveBuffer();
    const auto keepAlivePacket = keepAlive(*m_param);
    m_control.sendPacket(controlLogin(*m_param), kRetryAudioOrControl);
    m_control.sendPacket(keepAlivePacket, kRetryAudioOrControl);
    const int generation = m_generation.fetch_add(1) + 1;
    m_mediaRing.post(kMsgControlReady, generation);
    uint32_t lastKeepAlive = sys::tickMs();

    for (;;) {
        Outcome outcome = Outcome::Stop;
        if (!takeControlMessages(outcome))
            return Outcome::Stop;
        if (outcome == Outcome::Reconnect)
            return Outcome::Reconnect;
        sendQueuedTexts();
        const int got = m_control.receive();
        if (got == kIoCancelled || m_control.cancelled())
            return Outcome::Stop;
        if (got < 0)
            return Outcome::Reconnect;
        if (sys::elapsedMs(lastKeepAlive) >= kKeepAliveMs) {
            m_control.sendPacket(keepAlivePacket, kRetryAudioOrControl);
            lastKeepAlive = sys::tickMs();
        }
        if (!m_control.wait(kControlLoopMs))
            return Outcome::Stop;
    }
}

// Drains the control ring. False when the thread must end; `outcome` becomes Reconnect for a
// restart request that concerns the current login (stale ones from the media thread are
// dropped: that loss has been dealt with already).
bool CH264Tutk::takeControlMessages(Outcome& outcome) {
    while (auto message = m_controlRing.take()) {
        if (message->code == kMsgQuit)
            return false;
        if (message->code == kMsgReconnect &&
            (message->param1 == 0 || message->param1 == m_generation.load()))
            outcome = Outcome::Reconnect;
    }
    return !m_control.cancelled();
}

bool CH264Tutk::queueText(std::string command) {
    if (command.empty() || command.size() > kMaxTextBytes)
        return false;
    std::lock_guard lock(m_textLock);
    if (m_texts.size() >= kMaxQueuedTexts)
        return false;
    m_texts.push_back(std::move(command));
    return true;
}

void CH264Tutk::sendQueuedTexts() {
    for (;;) {
        std::string command;
        {
            std::lock_guard lock(m_textLock);
            if (m_texts.empty())
                return;
            command = std::move(m_texts.front());
            m_texts.pop_front();
        }
        const std::string text = "cmd=" + command + "&usr=" +
                                 std::string(fieldText(m_param->user, sizeof m_param->user)) +
                                 "&pwd=" +
                                 std::string(fieldText(m_param->password, sizeof m_param->password));
        int length = 0;
        const auto packet = makeTextPacket(textCommand(), length, text);
        m_control.sendPacket(packet.data(), static_cast<size_t>(length), kRetryServerPush);
        if (m_control.cancelled())
            return;
    }
}

// --- Media thread --------------------------------------------------------------------------------

void CH264Tutk::startMediaOnce() {
    std::lock_guard lock(m_mediaStartLock);
    if (m_mediaThread.running() || m_control.cancelled())
        return;
    auto self = shared_from_this();
    m_mediaThread.start("p2p_media", [self](sys::WorkerContext& c) { self->runMedia(c); });
}

void CH264Tutk::runMedia(sys::WorkerContext&) {
    int lostGeneration = 0;
    for (;;) {
        if (!waitForNewLogin(lostGeneration))
            return;
        int generation = 0;
        if (!loginMedia(generation))
            return;
        if (runMediaSession(generation) == Outcome::Stop)
            return;
        m_controlRing.post(kMsgReconnect, generation);
        int zero = 0;
        notify(ZQ_EVENT_MEDIA_STATUS, kStatusReconnecting, &zero, 4);
        lostGeneration = generation;
    }
}

// Waits (50 ms steps) until the control thread has logged in after `lostGeneration`.
bool CH264Tutk::waitForNewLogin(int lostGeneration) {
    for (;;) {
        while (auto message = m_mediaRing.take()) {
            if (message->code == kMsgQuit)
                return false;
        }
        if (m_media.cancelled())
            return false;
        if (m_generation.load() > lostGeneration)
            return true;
        if (!m_media.wait(50))
            return false;
    }
}

bool CH264Tutk::loginMedia(int& generation) {
    generation = m_generation.load();
    m_media.resetReceiveBuffer();
    m_lastVideoMs.store(sys::tickMs());
    if (sendOnMedia(liveRequest(kMediaLogin, *m_param), kRetryMediaRequest) == kSendOk)
        notify(0, 0, nullptr, index());
    return !m_media.cancelled();
}

CH264Tutk::Outcome CH264Tutk::runMediaSession(int generation) {
    const auto logout = [&] { sendOnMedia(liveRequest(kMediaLogout, *m_param), kRetryMediaRequest); };
    for (;;) {
        while (auto message = m_mediaRing.take()) {
            switch (message->code) {
            case kMsgQuit:
                logout();
                return Outcome::Stop;
            case kMsgReconnect:
                return Outcome::Reconnect;
            case kMsgMediaLogout:
                logout();
                return Outcome::Reconnect;
            case kMsgControlReady:
                // The control thread logged in again: the media channel is a new one.
                if (message->param1 > generation)
                    return Outcome::Reconnect;
                break;
            default:
                break;
            }
        }
        const int got = m_media.receive();
        if (got == kIoCancelled || m_media.cancelled()) {
            logout();
            return Outcome::Stop;
        }
        if (got < 0 || sys::elapsedMs(m_lastVideoMs.load()) > m_videoWatchdogMs.load())
            return Outcome::Reconnect;
        if (!m_media.wait(kMediaLoopMs)) {
            logout();
            return Outcome::Stop;
        }
    }
}

int CH264Tutk::sendOnMedia(const std::vector<uint8_t>& packet, int retries) {
    return m_media.sendPacket(packet, retries);
}

int CH264Tutk::sendTalk(const void* data, intptr_t length) {
    if (!data || length < 0 || length > kMaxTalkBytes)
        return kSendFailed;
    int size = kTalkPayload;
    auto packet = makePacket(kTalkAudio, size);
    writeInt(packet.data() + kHeaderSize, static_cast<int32_t>(length));
    std::memcpy(packet.data() + kHeaderSize + 4, data, static_cast<size_t>(length));
    return m_media.sendPacket(packet.data(), static_cast<size_t>(size), kRetryMediaRequest);
}

// --- Packets ------------------------------------------------------------------------------------

void CH264Tutk::onPacket(int, const uint8_t* packet, size_t size) {
    const int32_t command = commandOf(packet);
    if (command == kVideoFrame || command == kAudioFrame) {
        onFramePacket(command, packet, size);
        return;
    }
    onControlPacket(command, packet + kHeaderSize, static_cast<int>(size - kHeaderSize));
}

void CH264Tutk::onControlPacket(int32_t command, const uint8_t* payload, int length) {
    auto* data = reinterpret_cast<int*>(const_cast<uint8_t*>(payload));
    int value = length >= 4 ? readInt(payload) : 0;
    switch (command) {
    case kMediaStatus:
        value += 10;
        [[fallthrough]];
    case kTalkGranted:
    case kTalkEnded:
        if (length < 4)
            return;
        notify(ZQ_EVENT_MEDIA_STATUS,
               command == kMediaStatus  ? kStatusCamera16
               : command == kTalkGranted ? kStatusTalkGranted
                                         : kStatusTalkEnded,
               &value, 4);
        return;
    case kLoginReply:
        if (length < 4)
            return;
        if (value != 0) {
            notify(0, kLoginRefused, data, length);
            return;
        }
        startMediaOnce();
        notify(ZQ_EVENT_CONTROL, kLoginReply, data, length);
        return;
    case kCommandAnswer:
        notify(ZQ_EVENT_CONTROL, kEventCommandAnswer, data, length);
        return;
    case kSnapshotAnswer:
        notify(ZQ_EVENT_CONTROL, kEventSnapshot, data, length);
        return;
    default:
        if (command >= 102 && command <= 114)
            notify(ZQ_EVENT_CONTROL, command, data, length);
        return;
    }
}

void CH264Tutk::onFramePacket(int32_t command, const uint8_t* packet, size_t size) {
    MediaFrame frame;
    if (!parseMediaFrame(packet, size, frame))
        return;
    if (command == kVideoFrame)
        m_lastVideoMs.store(sys::tickMs());
    if (m_dropFrames)
        return;
    const int mediaType = command == kVideoFrame ? ZQ_MEDIA_VIDEO : ZQ_MEDIA_AUDIO;
    FRAME_HEAD head;
    fillFrameHead(mediaType, frame, head);
    deliverFrame(mediaType, &head);
}

// --- Commands -----------------------------------------------------------------------------------

void CH264Tutk::setCommand(int command, intptr_t param1, intptr_t param2) {
    switch (command) {
    case 0:
        sendOnMedia(liveRequest(kMediaLogin, *m_param), kRetryMediaRequest);
        return;
    case 1:
        sendOnMedia(liveRequest(kStartVideo, *m_param), kRetryMediaRequest);
        return;
    case 2:
        sendOnMedia(audioRequest(kOpenAudio, *m_param), kRetryAudioOrControl);
        return;
    case 4:
        sendTalk(reinterpret_cast<const void*>(param1), param2);
        return;
    case 5:
        m_mediaRing.post(kMsgMediaLogout);
        return;
    case 6:
        sendOnMedia(liveRequest(kStopVideo, *m_param), kRetryMediaRequest);
        return;
    case 7:
        sendOnMedia(audioRequest(kCloseAudio, *m_param), kRetryAudioOrControl);
        return;
    case 12:
        if (const char* move = ptzMoveName(static_cast<int>(param1)))
            queueText(move);
        else if (const char* query = controlQueryText(param1))
            queueText(query);
        else if (param1 == kCallerText && param2 != 0)
            // Copied now: the caller's text need not outlive this call.
            queueText(std::string(reinterpret_cast<const char*>(param2),
                                  strnlen(reinterpret_cast<const char*>(param2), kMaxTextBytes + 1)));
        return;
    case 61:
        if (param1 == 2)
            queueText(param2 == 1 ? "setInfraLedConfig&mode=1" : "setInfraLedConfig&mode=0");
        else
            queueText(cgiCommandText(command, param1, param2));
        return;
    default:
        queueText(cgiCommandText(command, param1, param2));
        return;
    }
}

} // namespace zq::tutk
