#pragma once

#include "Link.h"

#include <cstdint>
#include <memory>
#include <string>

namespace camsim {

// Listens on one port number for TCP and, optionally, UDT (UDP underneath) at once, the way the
// camera serves both transports of a session on the same port. Port 0 picks a free TCP port and
// then binds UDT to the same number, trying again with a new TCP port when that UDP port is taken.
class PortListener {
public:
    PortListener() = default;
    ~PortListener();
    PortListener(const PortListener&) = delete;
    PortListener& operator=(const PortListener&) = delete;

    // False (with `error` set) when the port cannot be bound.
    bool open(const std::string& address, uint16_t port, bool withUdt, std::string& error);
    void close();
    uint16_t port() const { return m_port; }

    // Waits up to `waitMs` for a new connection on either transport; null when none came.
    // Called by one thread only.
    std::unique_ptr<Link> accept(int waitMs);

private:
    bool bindTcp(const std::string& address, uint16_t port, std::string& error);
    bool bindUdt(const std::string& address, uint16_t port, std::string& error);

    int m_tcp = -1;
    int m_udt = -1; // UDTSOCKET; -1 is UDT::INVALID_SOCK
    uint16_t m_port = 0;
};

} // namespace camsim
