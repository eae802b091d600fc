#pragma once

// The relay that cameras register with and clients reach them through. It pairs a client's
// connection with one the camera opens on request and then forwards bytes both ways without
// reading them. Self-contained: a program runs one with start() and ends it with stop().

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace iotc {

// Bounds on what one relay holds for others. The defaults suit a real deployment; tests shrink
// them to reach the edges quickly.
struct RelayLimits {
    uint32_t maxConnections = 1024;         // every open TCP connection, whatever its stage
    unsigned handshakeMs = 5000;            // from accept to the first complete frame
    unsigned pendingMs = 5000;              // a client waits this long for the camera to answer
    size_t forwardBufferBytes = 256 * 1024; // per direction of a pair
    unsigned pingEveryMs = 5000;            // keep-alive to registered cameras
    unsigned silenceMs = 15000;             // a registered camera not heard from this long is gone
};

struct RelayStats {
    uint32_t devices = 0;        // cameras registered now
    uint32_t sessions = 0;       // pairs forwarding now
    uint32_t refused = 0;        // connections turned away since start: bad frames, unknown
                                 // or taken UIDs, expired tokens, over the connection limit
    uint64_t bytesForwarded = 0; // since start, both directions
};

class Relay {
public:
    explicit Relay(RelayLimits limits = {});
    ~Relay();
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    // Listens on an IPv4 address; port 0 takes any free port. Returns the bound port, or
    // nothing when the address cannot be bound or the relay is already running.
    std::optional<uint16_t> start(const std::string& bindAddress = "127.0.0.1", uint16_t port = 0);
    // Closes every connection and joins every thread, within about a second. The relay can be
    // started again afterwards.
    void stop();

    RelayStats stats() const;
    // Cuts every paired connection at once, as a failing network would; registrations stay.
    void dropSessions();

private:
    class Core;

    const RelayLimits m_limits;
    mutable std::mutex m_lock;
    std::shared_ptr<Core> m_core; // guarded by m_lock
};

} // namespace iotc
