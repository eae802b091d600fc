#pragma once

#include "CameraConfig.h"
#include "PacketReader.h"
#include "StreamLibrary.h"

#include <cstdint>

namespace camsim {

class CameraCore;
class Channel;
class PacketStream;

// The camera's side of a live media connection: after the login (packet 0) it sends the chosen
// stream's video (26) at its frame rate, and audio (27) while the client listens (2 on, 3 off).
// It grants talk (4 → 20, 5 → 21) and decodes talk audio (6). Packet 1 ends the connection.
class LiveSession {
public:
    LiveSession(CameraCore& core, Channel& channel, PacketStream& packets)
        : m_core(core), m_channel(channel), m_packets(packets) {}

    void run(const Packet& login);

private:
    // False when the connection should end.
    bool handle(const Packet& packet);
    void takeTalk(const Packet& packet);
    bool sendVideo();
    bool sendAudio();

    CameraCore& m_core;
    Channel& m_channel;
    PacketStream& m_packets;

    StreamKind m_stream = StreamKind::Main;
    AudioFormat m_audio = AudioFormat::Pcm;
    bool m_listening = false;
    uint32_t m_videoCount = 0; // frames sent; media header word 0
    uint32_t m_audioCount = 0; // audio blocks sent
};

} // namespace camsim
