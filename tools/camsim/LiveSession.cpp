#include "LiveSession.h"

#include "ByteOrder.h"
#include "CameraCore.h"
#include "Channel.h"
#include "G726Codec.h"
#include "PacketStream.h"
#include "PacketWriter.h"
#include "Protocol.h"

#include "sys/Tick.h"

#include <algorithm>
#include <chrono>

namespace camsim {

namespace {

int64_t monotonicMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

constexpr uint32_t kFrameMs = 1000 / StreamLibrary::kFps;
// A schedule this far behind (a slow client, a stall) restarts from now instead of bursting.
constexpr uint32_t kMaxLagMs = 1000;

} // namespace

void LiveSession::run(const Packet& login) {
    if (login.payload.size() != kLiveLoginSize) {
        m_core.count(&CameraStats::protocolErrors);
        m_core.event("live login of %zu bytes refused", login.payload.size());
        return;
    }
    const uint8_t* p = login.payload.data();
    const std::string_view user = fixedText(p + 1, kFieldSize);
    if (!m_core.acceptsLogin(user, fixedText(p + 1 + kFieldSize, kFieldSize))) {
        m_core.count(&CameraStats::rejectedLogins);
        m_core.event("live login by \"%.*s\" refused", static_cast<int>(user.size()), user.data());
        return;
    }
    // Stream type 0 is the main stream with raw PCM audio; any other value the sub stream with
    // G.726 audio.
    m_stream = p[0] == 0 ? StreamKind::Main : StreamKind::Sub;
    m_audio = p[0] == 0 ? AudioFormat::Pcm : AudioFormat::G726;
    m_core.count(&CameraStats::liveLogins);
    m_core.event("live login, stream %d, over %s", p[0], m_channel.link().kind());

    uint32_t nextVideo = sys::tickMs();
    uint32_t nextAudio = nextVideo;
    while (!m_packets.ended()) {
        if (m_core.faults().stalled()) {
            // Nothing goes out, but requests are still read; the schedule restarts afterwards.
            if (const auto packet = m_packets.next(20); packet && !handle(*packet)) {
                return;
            }
            nextVideo = nextAudio = sys::tickMs();
            continue;
        }
        const uint32_t now = sys::tickMs();
        const int32_t untilVideo = static_cast<int32_t>(nextVideo - now);
        const int32_t untilAudio = m_listening ? static_cast<int32_t>(nextAudio - now) : 20;
        const int32_t wait = std::max(0, std::min({untilVideo, untilAudio, 20}));
        if (const auto packet = m_packets.next(wait); packet && !handle(*packet)) {
            return;
        }
        const uint32_t after = sys::tickMs();
        if (static_cast<int32_t>(after - nextVideo) >= 0) {
            if (!sendVideo()) {
                return;
            }
            nextVideo += kFrameMs;
            if (static_cast<int32_t>(after - nextVideo) > static_cast<int32_t>(kMaxLagMs)) {
                nextVideo = after;
            }
        }
        if (!m_listening) {
            nextAudio = after;
        } else if (static_cast<int32_t>(after - nextAudio) >= 0) {
            if (!sendAudio()) {
                return;
            }
            nextAudio += StreamLibrary::kAudioBlockMs;
            if (static_cast<int32_t>(after - nextAudio) > static_cast<int32_t>(kMaxLagMs)) {
                nextAudio = after;
            }
        }
    }
}

bool LiveSession::handle(const Packet& packet) {
    switch (packet.command) {
    case cmd::kLiveLogout:
        m_core.event("live logout");
        return false;
    case cmd::kListenOn:
        m_listening = true;
        m_core.event("listen on");
        return true;
    case cmd::kListenOff:
        m_listening = false;
        m_core.event("listen off");
        return true;
    case cmd::kTalkStart:
        m_core.event("talk granted");
        return m_channel.sendPacket(PacketWriter::words(cmd::kTalkGranted, {0}));
    case cmd::kTalkEnd:
        m_core.event("talk ended");
        return m_channel.sendPacket(PacketWriter::words(cmd::kTalkEnded, {0}));
    case cmd::kTalkAudio:
        takeTalk(packet);
        return true;
    default:
        m_core.event("live packet %d (%zu bytes) ignored", packet.command, packet.payload.size());
        return true;
    }
}

void LiveSession::takeTalk(const Packet& packet) {
    const size_t size = packet.payload.size();
    const int32_t declared = size >= 4 ? getLe32(packet.payload.data()) : -1;
    // Over a LAN the payload is exactly the audio; over peer-to-peer the client sends a fixed
    // payload (the length word and room for kMaxTalkBytes) whatever the audio's length.
    const bool fixedPacket = size == 4 + kMaxTalkBytes;
    if (declared < 0 || static_cast<size_t>(declared) > kMaxTalkBytes ||
        (static_cast<size_t>(declared) != size - 4 && !fixedPacket)) {
        m_core.count(&CameraStats::talkRejects);
        return;
    }
    const uint8_t* data = packet.payload.data() + 4;
    const size_t length = static_cast<size_t>(declared);
    // Each 120-byte block was coded with fresh state, so each is decoded with fresh state.
    std::vector<int16_t> pcm;
    for (size_t at = 0; at < length; at += G726Codec::kBlockBytes) {
        const std::vector<int16_t> block =
            G726Codec::decodeBlock(data + at, std::min(G726Codec::kBlockBytes, length - at));
        pcm.insert(pcm.end(), block.begin(), block.end());
    }
    m_core.addTalk(data, length, pcm);
    m_core.count(&CameraStats::talkPackets);
}

bool LiveSession::sendVideo() {
    const VideoLoop& loop = m_core.streams().video(m_stream);
    const EncodedFrame& frame = loop.frames[m_videoCount % loop.frames.size()];
    const int32_t time = m_core.config().stampSendTime
                             ? static_cast<int32_t>(monotonicMs() & 0x7fffffff)
                             : static_cast<int32_t>(m_videoCount * kFrameMs);
    const int32_t header[9] = {static_cast<int32_t>(m_videoCount),
                               time,
                               static_cast<int32_t>(frame.data.size()),
                               0,
                               frame.key ? 1 : 0,
                               0,
                               0,
                               loop.fps,
                               loop.bitRate};
    ++m_videoCount;
    return m_channel.sendPacket(
        makeMediaPacket(cmd::kVideoFrame, header, frame.data.data(), frame.data.size()));
}

bool LiveSession::sendAudio() {
    const std::vector<uint8_t>& block = m_core.streams().audioBlock(m_audio, m_audioCount);
    const int32_t bitRate = m_audio == AudioFormat::Pcm ? 128000 : 16000;
    const int32_t header[9] = {static_cast<int32_t>(m_audioCount),
                               static_cast<int32_t>(m_audioCount * StreamLibrary::kAudioBlockMs),
                               0,
                               static_cast<int32_t>(block.size()),
                               0,
                               0,
                               0,
                               StreamLibrary::kFps,
                               bitRate};
    ++m_audioCount;
    return m_channel.sendPacket(
        makeMediaPacket(cmd::kAudioFrame, header, block.data(), block.size()));
}

} // namespace camsim
