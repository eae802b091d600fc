#pragma once

#include "PacketReader.h"

#include <cstdint>

namespace camsim {

class CameraCore;
class Channel;
class PacketStream;

// The camera's side of a record playback connection. After the login (packet 7) it answers with
// the record information (22), then streams the record's video (26) and audio (27) in time
// order, up to kLeadMs ahead of real time and at most twice real time after that, so it neither
// starves nor floods a client that paces delivery itself. Seek (9 → 24) jumps to the key frame at
// or before the target; pause (10) and resume (11) hold and restart sending; the record's end is
// marked with 25; packet 8 ends the connection.
class PlaybackSession {
public:
    static constexpr uint32_t kLeadMs = 8000;

    PlaybackSession(CameraCore& core, Channel& channel, PacketStream& packets)
        : m_core(core), m_channel(channel), m_packets(packets) {}

    void run(const Packet& login);

private:
    // False when the connection should end.
    bool handle(const Packet& packet);
    bool seek(int32_t targetMs);
    // Sends the next due frame; false when the connection failed.
    bool sendNext();
    // True when the next frame's record time is within the pacing budget.
    bool withinBudget() const;
    // Restarts the pacing budget at the current record position.
    void restartPacing();
    uint32_t videoTimeMs() const { return m_videoIndex * 1000 / m_fps; }
    uint32_t audioTimeMs() const;

    CameraCore& m_core;
    Channel& m_channel;
    PacketStream& m_packets;

    uint32_t m_fps = 25;
    uint32_t m_durationMs = 0;
    uint32_t m_totalFrames = 0;
    uint32_t m_videoIndex = 0; // next video frame of the record
    uint32_t m_audioIndex = 0; // next audio block of the record
    bool m_paused = false;
    bool m_ended = false; // packet 25 sent, waiting for a seek or the logout
    uint32_t m_paceStartTick = 0;
    uint32_t m_paceStartMs = 0; // record time at m_paceStartTick
};

} // namespace camsim
