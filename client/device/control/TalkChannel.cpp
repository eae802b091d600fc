#include "device/control/TalkChannel.h"

#include "common/AppLog.h"
#include "device/control/BroadcastTalk.h"
#include "device/control/CaptureDevice.h"
#include "device/control/Commands.h"

#include "audora/audora.h"
#include "zqaudio/zqaudio.h"

#include <string>

namespace Device {

std::optional<TalkProfile> talkProfileForClass(int classCode) {
    switch (classCode) {
    case Commands::kModelMjpeg:
        // 640 bytes of PCM are 320 samples, which IMA ADPCM packs into exactly one of the
        // 160-byte packets the camera takes.
        return TalkProfile{ZQ_ENCODE_ADPCM, 640, 160};
    case Commands::kModelH264:
        return TalkProfile{ZQ_ENCODE_G726, 960, 0};
    case Commands::kModelH264Second:
        return TalkProfile{ZQ_ENCODE_VOICE, 960, 0};
    default:
        return std::nullopt;
    }
}

TalkChannel::TalkChannel(CommandSink& sink, const TalkProfile& profile, client::AppLog* log)
    : m_sink(sink), m_profile(profile), m_log(log),
      m_packets(static_cast<size_t>(profile.packetBytes > 0 ? profile.packetBytes : 0)) {}

TalkChannel::~TalkChannel() {
    if (BroadcastTalk* broadcast = m_broadcast.load())
        broadcast->detach(*this);
    stopCapture();
    std::lock_guard lock(m_deviceLock);
    ReleaseRecDev(m_device);
    m_device = nullptr;
}

bool TalkChannel::openTalk() {
    {
        std::lock_guard lock(m_deviceLock);
        if (!m_device) {
            std::string error;
            ZQAudioDevice* device =
                openCaptureDevice(m_profile.blockBytes, &TalkChannel::onCaptured, this, error);
            if (!device) {
                log("TalkChannel::openTalk", error);
                return false;
            }
            m_device = device;
        }
    }
    return m_sink.sendCommand(Commands::kOpenTalk, 0, 0);
}

bool TalkChannel::closeTalk() {
    // Under the encoder lock: a block being sent finishes first, so no audio follows the 7.
    {
        std::lock_guard lock(m_encoderLock);
        m_talkOpen.store(false, std::memory_order_release);
    }
    return m_sink.sendCommand(Commands::kCloseTalk, 0, 0);
}

bool TalkChannel::startCapture() {
    std::lock_guard deviceLock(m_deviceLock);
    {
        std::lock_guard lock(m_encoderLock);
        if (!m_encoder) {
            ZQ_ENCODER encoder = ZQ_Create_Encoder();
            if (!encoder || !ZQ_Register_Encoder(encoder, m_profile.codec)) {
                ZQ_Release_Encoder(encoder);
                log("TalkChannel::startCapture",
                    "cannot start the talk encoder " + std::to_string(m_profile.codec));
                return false;
            }
            m_encoder = encoder;
            m_packets.clear();
        }
        m_talkOpen.store(true, std::memory_order_release);
    }
    // A broadcast member hears the broadcast device instead of its own.
    if (m_device && !m_broadcast.load()) {
        const int result = RestartRecDev(m_device);
        if (result != ZQAUDIO_OK)
            log("TalkChannel::startCapture",
                "the capture device does not start: error " + std::to_string(result));
    }
    return true;
}

void TalkChannel::stopCapture() {
    {
        std::lock_guard lock(m_encoderLock);
        m_talkOpen.store(false, std::memory_order_release);
    }
    {
        std::lock_guard lock(m_deviceLock);
        if (m_device)
            StopRecDev(m_device);
    }
    releaseEncoder();
}

void TalkChannel::releaseEncoder() {
    std::lock_guard lock(m_encoderLock);
    if (!m_encoder)
        return;
    ZQ_UnRegister_Encoder(m_encoder, m_profile.codec);
    ZQ_Release_Encoder(m_encoder);
    m_encoder = nullptr;
    m_packets.clear();
}

bool TalkChannel::hasCaptureDevice() const {
    std::lock_guard lock(m_deviceLock);
    return m_device != nullptr;
}

void TalkChannel::pauseOwnCapture() {
    std::lock_guard lock(m_deviceLock);
    if (m_device)
        StopRecDev(m_device);
}

void TalkChannel::resumeOwnCapture() {
    std::lock_guard lock(m_deviceLock);
    if (m_device && talkOpen() && !m_broadcast.load())
        RestartRecDev(m_device);
}

void TalkChannel::onCaptured(int /*reserved*/, const char* pcm, int length, void* user) {
    static_cast<TalkChannel*>(user)->sendBlock(pcm, length);
}

bool TalkChannel::sendBlock(const char* pcm, int length) {
    if (!pcm || length <= 0)
        return false;
    std::lock_guard lock(m_encoderLock);
    if (!talkOpen() || !m_encoder)
        return false;
    int encodedBytes = 0;
    const unsigned char* encoded =
        ZQ_GetAUData(m_encoder, reinterpret_cast<const short*>(pcm), length, &encodedBytes);
    if (!encoded || encodedBytes <= 0)
        return false;

    if (m_profile.packetBytes <= 0) {
        return m_sink.sendCommand(Commands::kTalkData, reinterpret_cast<intptr_t>(encoded),
                                  encodedBytes);
    }
    // The MJPEG library refuses any other length outright, so the encoder's output is cut into
    // exact packets and a remainder waits for the next block.
    bool sent = false;
    m_packets.push(
        encoded, static_cast<size_t>(encodedBytes), [&](const char* packet, size_t packetBytes) {
            sent |= m_sink.sendCommand(Commands::kTalkData, reinterpret_cast<intptr_t>(packet),
                                       static_cast<intptr_t>(packetBytes));
        });
    return sent;
}

void TalkChannel::log(const char* function, const std::string& message) const {
    LOG_WRITE(m_log, function, message);
}

} // namespace Device
