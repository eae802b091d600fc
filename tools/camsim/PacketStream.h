#pragma once

#include "PacketReader.h"

#include <optional>

namespace camsim {

class CameraCore;
class Channel;

// The packets of one connection: receives through the channel and cuts packets with a bounded
// reader. A stream that breaks the protocol (impossible length) ends the connection.
class PacketStream {
public:
    PacketStream(Channel& channel, CameraCore& core);
    ~PacketStream();
    PacketStream(const PacketStream&) = delete;
    PacketStream& operator=(const PacketStream&) = delete;

    // A complete packet if one is buffered or arrives within `waitMs`.
    std::optional<Packet> next(int waitMs);
    // A complete packet within `timeoutMs`, receiving as long as needed.
    std::optional<Packet> await(unsigned timeoutMs);
    // The connection closed, failed, was stopped, or broke the protocol.
    bool ended() const;

private:
    void absorbPending();

    Channel& m_channel;
    CameraCore& m_core;
    PacketReader m_reader;
    size_t m_reportedSkips = 0;
};

} // namespace camsim
