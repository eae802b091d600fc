#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace camsim {

// One accepted client connection, over TCP, UDT or a peer-to-peer channel. Used by one connection
// thread only; close() may also be called once that thread has finished with it.
class Link {
public:
    virtual ~Link() = default;

    // Waits at most `waitMs` for data. Returns the byte count (> 0), 0 when nothing arrived in
    // time, -1 when the peer closed or the connection failed.
    virtual int receive(uint8_t* buffer, size_t size, int waitMs) = 0;
    // Writes what the transport accepts within `waitMs`: byte count, 0 when it accepted nothing
    // in time, -1 on a broken connection.
    virtual int send(const uint8_t* data, size_t length, int waitMs) = 0;
    virtual void close() = 0;
    // "tcp", "udt" or "p2p", for the event log.
    virtual const char* kind() const = 0;
    virtual std::string peer() const = 0;
};

} // namespace camsim
