#include "PacketStream.h"

#include "CameraCore.h"
#include "Channel.h"
#include "Protocol.h"

#include "sys/Tick.h"

namespace camsim {

PacketStream::PacketStream(Channel& channel, CameraCore& core)
    : m_channel(channel), m_core(core), m_reader(kMaxRequestPayload) {}

PacketStream::~PacketStream() {
    if (m_reader.broken()) {
        m_core.count(&CameraStats::protocolErrors);
    }
}

void PacketStream::absorbPending() {
    std::vector<uint8_t>& pending = m_channel.pending();
    if (!pending.empty()) {
        m_reader.feed(pending.data(), pending.size());
        pending.clear();
    }
}

std::optional<Packet> PacketStream::next(int waitMs) {
    absorbPending();
    auto packet = m_reader.next();
    if (!packet && !m_reader.broken() && m_channel.receive(waitMs)) {
        absorbPending();
        packet = m_reader.next();
    }
    if (const size_t skipped = m_reader.skippedBytes(); skipped != m_reportedSkips) {
        m_core.count(&CameraStats::skippedBytes, static_cast<int>(skipped - m_reportedSkips));
        m_reportedSkips = skipped;
    }
    return packet;
}

std::optional<Packet> PacketStream::await(unsigned timeoutMs) {
    const uint32_t start = sys::tickMs();
    while (!ended() && sys::elapsedMs(start) < timeoutMs) {
        if (auto packet = next(20)) {
            return packet;
        }
    }
    return std::nullopt;
}

bool PacketStream::ended() const {
    return m_reader.broken() || !m_channel.open();
}

} // namespace camsim
