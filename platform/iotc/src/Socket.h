#pragma once

#include "iotc/Wire.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace iotc::net {

// Every blocking step waits in slices of this length, so a stop request or a caller's cancel
// check is seen well within the 20 ms the API promises.
constexpr unsigned kSliceMs = 10;

// Kernel buffers are kept small and fixed: a peer that stops reading must make our send queue
// grow soon (RdtStatus.sendQueued), not vanish into megabytes of autotuned socket buffers.
constexpr int kSocketBufferBytes = 256 * 1024;

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release();
    void reset(int fd = -1);

private:
    int m_fd = -1;
};

// Non-blocking, no Nagle delay, small fixed buffers. Call before connect() or listen(), since
// the window scale is fixed at the handshake.
bool tuneSocket(int fd);

struct Endpoint {
    std::string host;
    uint16_t port = 0;
};

// "host", "host:port" or "a.b.c.d:port"; nullopt for an empty or unusable text.
std::optional<Endpoint> parseEndpoint(const char* text, uint16_t defaultPort);

using StopCheck = std::function<bool()>;

enum class IoStatus { Ok, Timeout, Closed, Failed, Stopped };

// Resolves (IPv4) and connects within `timeoutMs`. Name lookups run on a helper thread so a slow
// resolver cannot hold up a stop.
IoStatus connectTcp(const Endpoint& endpoint, unsigned timeoutMs, const StopCheck& stop,
                    UniqueFd& connected);

// Sends every byte of `bytes` on a non-blocking socket within `timeoutMs`.
IoStatus sendAll(int fd, const uint8_t* bytes, size_t size, unsigned timeoutMs,
                 const StopCheck& stop);
inline IoStatus sendAll(int fd, const std::vector<uint8_t>& bytes, unsigned timeoutMs,
                        const StopCheck& stop) {
    return sendAll(fd, bytes.data(), bytes.size(), timeoutMs, stop);
}

// Waits up to `timeoutMs` for one frame. Malformed input is reported as Failed.
IoStatus readFrame(int fd, wire::FrameParser& parser, wire::Frame& frame, unsigned timeoutMs,
                   const StopCheck& stop);

// A monotonic deadline in the 32-bit tick of sys::tickMs().
class Deadline {
public:
    explicit Deadline(unsigned timeoutMs);
    bool expired() const { return remainingMs() == 0; }
    unsigned remainingMs() const;

private:
    uint32_t m_start;
    unsigned m_timeoutMs;
};

} // namespace iotc::net
