#pragma once

#include "Link.h"

namespace camsim {

// A connected UDT4 socket (handle type `UDTSOCKET`, an int). Blocking calls with short time-outs
// stand in for polling. Owns the socket.
class UdtLink final : public Link {
public:
    explicit UdtLink(int socket);
    ~UdtLink() override;
    UdtLink(const UdtLink&) = delete;
    UdtLink& operator=(const UdtLink&) = delete;

    int receive(uint8_t* buffer, size_t size, int waitMs) override;
    int send(const uint8_t* data, size_t length, int waitMs) override;
    void close() override;
    const char* kind() const override { return "udt"; }
    std::string peer() const override;

    // UDT4 needs one process-wide start-up; safe to call from any thread, any number of times.
    static void startup();

private:
    void setTimeouts(int receiveMs, int sendMs);

    int m_socket;
    int m_receiveTimeoutMs = -2; // last value set, so a steady wait costs no option call
    int m_sendTimeoutMs = -2;
};

} // namespace camsim
