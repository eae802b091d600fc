#pragma once

// A scripted camera for the cases the simulator never produces: broken framing, lying lengths,
// silence. It listens on loopback and runs `script` on each accepted connection, in order, on
// its own thread.

#include "moltrex/moltrex.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace sdktest {

using Bytes = std::vector<uint8_t>;

// A message as a camera would send it; lengths may be given to lie.
Bytes moMessage(const char* tag, uint16_t opcode, const Bytes& payload,
                int64_t declaredLength = -1);
Bytes loginAnswer(const std::string& id, uint32_t version = 0x01000000, uint16_t status = 0);
Bytes statusPayload(uint16_t status);
void put32(Bytes& out, uint32_t value);

class RawCamera {
public:
    // The connection's socket; the script returns when it is done with it (it is closed then).
    using Script = std::function<void(RawCamera& camera, int fd, int index)>;

    RawCamera();
    ~RawCamera();
    RawCamera(const RawCamera&) = delete;
    RawCamera& operator=(const RawCamera&) = delete;

    uint16_t port() const { return m_port; }
    // Serves up to `connections` connections with `script`.
    void serve(int connections, Script script);
    bool stopping() const { return m_stop.load(); }

    // Helpers for scripts: false on failure or stop.
    bool send(int fd, const Bytes& bytes);
    // Reads one whole message (header, then its declared payload); false on failure, stop or
    // after `waitMs`.
    bool receive(int fd, uint16_t& opcode, Bytes& payload, int waitMs = 5000);
    // Answers the two login messages like a camera with `id`.
    bool login(int fd, const char* tag, const std::string& id);
    // Keeps the connection open until the client closes it or the camera stops.
    void holdOpen(int fd);

private:
    int m_listener = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace sdktest
