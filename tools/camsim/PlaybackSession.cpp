#include "PlaybackSession.h"

#include "ByteOrder.h"
#include "CameraCore.h"
#include "Channel.h"
#include "PacketStream.h"
#include "PacketWriter.h"
#include "Protocol.h"

#include "sys/Tick.h"

#include <algorithm>

namespace camsim {

namespace {
// Frames sent per loop round before the connection is read again.
constexpr int kBurst = 8;
} // namespace

uint32_t PlaybackSession::audioTimeMs() const {
    return m_audioIndex * static_cast<uint32_t>(StreamLibrary::kAudioBlockMs);
}

void PlaybackSession::run(const Packet& login) {
    if (login.payload.size() != kPlaybackLoginSize) {
        m_core.count(&CameraStats::protocolErrors);
        m_core.event("playback login of %zu bytes refused", login.payload.size());
        return;
    }
    const uint8_t* p = login.payload.data();
    const std::string_view file = fixedText(p + 4, kFieldSize);
    const std::string_view user = fixedText(p + 4 + kFieldSize, kFieldSize);
    if (!m_core.acceptsLogin(user, fixedText(p + 4 + 2 * kFieldSize, kFieldSize))) {
        m_core.count(&CameraStats::rejectedLogins);
        m_core.event("playback login by \"%.*s\" refused", static_cast<int>(user.size()),
                     user.data());
        return;
    }
    m_core.count(&CameraStats::playbackLogins);
    // Any name with a '.' is a record of the configured length; the record kind is not used.
    const bool available = file.find('.') != std::string_view::npos;
    m_durationMs = available ? m_core.config().recordDurationMs : 0;
    m_fps = static_cast<uint32_t>(m_core.streams().video(StreamKind::Main).fps);
    m_totalFrames = static_cast<uint32_t>(uint64_t{m_durationMs} * m_fps / 1000);
    m_core.event("playback of \"%.*s\" (kind %d): %s", static_cast<int>(file.size()), file.data(),
                 getLe32(p), available ? "available" : "no such record");

    PacketWriter info(cmd::kRecordInfo, kRecordInfoSize);
    info.putWord(0, available ? 1 : 0);
    info.putWord(12, static_cast<int32_t>(m_totalFrames));
    info.putWord(16, static_cast<int32_t>(m_durationMs));
    if (!m_channel.sendPacket(info.take())) {
        return;
    }
    m_ended = !available || m_totalFrames == 0;
    restartPacing();
    while (!m_packets.ended()) {
        const bool sending = !m_paused && !m_ended && !m_core.faults().stalled();
        if (const auto packet = m_packets.next(sending && withinBudget() ? 0 : 10)) {
            if (!handle(*packet)) {
                return;
            }
            continue;
        }
        if (m_core.faults().stalled()) {
            restartPacing();
            continue;
        }
        for (int i = 0; i < kBurst && !m_paused && !m_ended && withinBudget(); ++i) {
            if (!sendNext()) {
                return;
            }
        }
    }
}

bool PlaybackSession::withinBudget() const {
    const uint32_t allowedMs = m_paceStartMs + kLeadMs + 2 * sys::elapsedMs(m_paceStartTick);
    return std::min(videoTimeMs(), audioTimeMs()) <= allowedMs;
}

bool PlaybackSession::sendNext() {
    const StreamLibrary& streams = m_core.streams();
    const bool videoDone = m_videoIndex >= m_totalFrames;
    const bool audioDone = audioTimeMs() >= m_durationMs;
    if (videoDone && audioDone) {
        m_ended = true;
        m_core.event("playback reached the record's end");
        return m_channel.sendPacket(PacketWriter::words(cmd::kRecordEnd, {}));
    }
    if (!videoDone && (audioDone || videoTimeMs() <= audioTimeMs())) {
        const VideoLoop& loop = streams.video(StreamKind::Main);
        const EncodedFrame& frame = loop.frames[m_videoIndex % loop.frames.size()];
        const int32_t header[9] = {static_cast<int32_t>(m_videoIndex),
                                   static_cast<int32_t>(videoTimeMs()),
                                   static_cast<int32_t>(frame.data.size()),
                                   0,
                                   frame.key ? 1 : 0,
                                   0,
                                   0,
                                   loop.fps,
                                   loop.bitRate};
        ++m_videoIndex;
        return m_channel.sendPacket(
            makeMediaPacket(cmd::kVideoFrame, header, frame.data.data(), frame.data.size()));
    }
    const AudioFormat format = m_core.config().playbackAudio;
    const std::vector<uint8_t>& block = streams.audioBlock(format, m_audioIndex);
    const int32_t header[9] = {static_cast<int32_t>(m_audioIndex),
                               static_cast<int32_t>(audioTimeMs()),
                               0,
                               static_cast<int32_t>(block.size()),
                               0,
                               0,
                               0,
                               static_cast<int32_t>(m_fps),
                               format == AudioFormat::Pcm ? 128000 : 16000};
    ++m_audioIndex;
    return m_channel.sendPacket(
        makeMediaPacket(cmd::kAudioFrame, header, block.data(), block.size()));
}

bool PlaybackSession::handle(const Packet& packet) {
    switch (packet.command) {
    case cmd::kPlaybackLogout:
        m_core.event("playback logout");
        return false;
    case cmd::kSeek:
        if (packet.payload.size() < 4) {
            m_core.count(&CameraStats::protocolErrors);
            return false;
        }
        return seek(getLe32(packet.payload.data()));
    case cmd::kPause:
        m_paused = true;
        m_core.event("playback paused");
        return true;
    case cmd::kResume:
        m_paused = false;
        restartPacing();
        m_core.event("playback resumed");
        return true;
    default:
        m_core.event("playback packet %d (%zu bytes) ignored", packet.command,
                     packet.payload.size());
        return true;
    }
}

bool PlaybackSession::seek(int32_t targetMs) {
    m_core.addSeekTarget(targetMs);
    if (m_totalFrames == 0) {
        return m_channel.sendPacket(PacketWriter::words(cmd::kSeekReached, {0, 0}));
    }
    const uint32_t target =
        static_cast<uint32_t>(std::clamp<int64_t>(targetMs, 0, static_cast<int64_t>(m_durationMs)));
    // The picture must restart at a key frame: the one at or before the target.
    const uint32_t gop =
        static_cast<uint32_t>(std::max(1, m_core.streams().video(StreamKind::Main).gop));
    uint32_t frame =
        std::min(static_cast<uint32_t>(uint64_t{target} * m_fps / 1000), m_totalFrames - 1);
    frame -= frame % gop;
    m_videoIndex = frame;
    const uint32_t reachedMs = videoTimeMs();
    const uint32_t blockMs = static_cast<uint32_t>(StreamLibrary::kAudioBlockMs);
    m_audioIndex = (reachedMs + blockMs - 1) / blockMs;
    m_ended = false;
    restartPacing();
    m_core.event("seek to %d ms reached %u ms", targetMs, reachedMs);
    return m_channel.sendPacket(
        PacketWriter::words(cmd::kSeekReached, {0, static_cast<int32_t>(reachedMs)}));
}

void PlaybackSession::restartPacing() {
    m_paceStartTick = sys::tickMs();
    m_paceStartMs = std::min(videoTimeMs(), audioTimeMs());
}

} // namespace camsim
