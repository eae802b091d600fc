#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace moltrex {

// Owns one socket descriptor.
class Socket {
public:
    Socket() = default;
    explicit Socket(int fd) : m_fd(fd) {}
    ~Socket() { close(); }
    Socket(Socket&& other) noexcept : m_fd(other.release()) {}
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    int fd() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    void close();
    int release();

private:
    int m_fd = -1;
};

using Cancelled = std::function<bool()>;

enum class IoResult { Ok, Failed, TimedOut, Cancelled };

// A non-blocking TCP socket whose connect to ip:port (host order) has started; invalid when the
// socket could not even be made. Finish with connectFinished() once it polls writable.
Socket startConnect(uint32_t ip, uint16_t port);
// After the socket polled writable: true when the connection stands.
bool connectFinished(int fd);
// The whole connect, polling `cancelled` at least every 50 ms.
IoResult connectTcp(uint32_t ip, uint16_t port, uint32_t timeoutMs, const Cancelled& cancelled,
                    Socket& out);

// Sends every byte within `timeoutMs` (counted from the last progress), polling `cancelled`
// every 50 ms. A peer that stops reading cannot hold the caller longer than that.
IoResult sendAll(int fd, const uint8_t* data, size_t size, uint32_t timeoutMs,
                 const Cancelled& cancelled);

// Reads what is there without waiting: the byte count, 0 when nothing is waiting, -1 when the
// peer closed or the connection failed.
long receiveSome(int fd, uint8_t* out, size_t size);

// A UDP socket bound to `localPort` on every address (0 picks one), broadcast allowed, port
// shared with other sockets. Invalid on failure.
Socket openUdp(uint16_t localPort);
bool sendDatagram(int fd, uint32_t ip, uint16_t port, const uint8_t* data, size_t size);

} // namespace moltrex
