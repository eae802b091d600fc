#pragma once

#include "Link.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace sys {
class WorkerContext;
}

namespace camsim {

class CameraCore;

// One client connection as a session sees it: the link, the bytes received but not yet consumed,
// and the reasons to stop (camera stopping, thread cancelled, connections dropped by a fault,
// link broken). Packet sends apply the camera's send faults. Used by one thread.
class Channel {
public:
    // Most bytes kept unconsumed; a session consumes them as it parses.
    static constexpr size_t kMaxPending = 1 << 20;

    Channel(std::shared_ptr<Link> link, CameraCore& core, const sys::WorkerContext& worker);

    // False once the connection should end for any reason.
    bool open() const;
    // Waits up to `waitMs` for bytes and appends them to pending(). False when the connection
    // ended. Reads nothing while kMaxPending bytes are unconsumed.
    bool receive(int waitMs);
    std::vector<uint8_t>& pending() { return m_pending; }

    // A protocol packet, with the garbage and byte-by-byte faults applied. False on failure.
    bool sendPacket(const std::vector<uint8_t>& packet);
    // Bytes exactly as given (HTTP answers).
    bool sendRaw(const uint8_t* data, size_t length);
    // Sleeps up to `ms`, waking early when the connection should end.
    void pause(unsigned ms) const;
    void close();

    Link& link() { return *m_link; }

private:
    bool writeAll(const uint8_t* data, size_t length);

    std::shared_ptr<Link> m_link;
    CameraCore& m_core;
    const sys::WorkerContext& m_worker;
    const uint32_t m_dropGeneration; // the camera's drop count when the connection opened
    bool m_broken = false;
    std::vector<uint8_t> m_pending;
};

} // namespace camsim
