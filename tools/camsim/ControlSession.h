#pragma once

#include "PacketReader.h"

#include <cstdint>
#include <vector>

namespace camsim {

class CameraCore;
class Channel;
class PacketStream;

// The camera's side of a control connection: answers the login (packet 12) with the login reply
// (100), then sends the preset, cruise and image notices (106, 107, 110), counts keep-alives
// (15), answers text commands (114, see TextCommand.h) and forwards alarm and motion notices
// posted to the camera until the connection ends.
class ControlSession {
public:
    ControlSession(CameraCore& core, Channel& channel, PacketStream& packets)
        : m_core(core), m_channel(channel), m_packets(packets) {}

    void run(const Packet& login);

    // The notices sent after an accepted login, built from the CGI model's current state.
    static std::vector<uint8_t> presetNotice(CameraCore& core);
    static std::vector<uint8_t> cruiseNotice(CameraCore& core);
    static std::vector<uint8_t> imageNotice(CameraCore& core);

private:
    bool answerLogin(const Packet& login);

    CameraCore& m_core;
    Channel& m_channel;
    PacketStream& m_packets;
};

} // namespace camsim
