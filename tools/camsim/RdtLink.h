#pragma once

#include "Link.h"

#include <cstdint>

namespace camsim {

// One RDT channel of a peer-to-peer session (see iotc/iotc.h). Owns the channel id, not the
// session: whoever accepted the session closes it.
class RdtLink final : public Link {
public:
    // Above this many bytes waiting in the library a send accepts nothing, so a client that
    // reads slowly holds the camera back instead of growing its memory.
    static constexpr uint32_t kMaxQueuedBytes = 1 << 20;

    RdtLink(int rdtId, int sessionId, int channel);
    ~RdtLink() override;
    RdtLink(const RdtLink&) = delete;
    RdtLink& operator=(const RdtLink&) = delete;

    int receive(uint8_t* buffer, size_t size, int waitMs) override;
    int send(const uint8_t* data, size_t length, int waitMs) override;
    void close() override;
    const char* kind() const override { return "p2p"; }
    std::string peer() const override;

private:
    // Bytes still queued for the client, or -1 when the channel is gone.
    int64_t queuedBytes() const;

    int m_rdtId;
    const int m_sessionId;
    const int m_channel;
};

} // namespace camsim
