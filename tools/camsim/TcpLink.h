#pragma once

#include "Link.h"

namespace camsim {

// A non-blocking TCP socket polled with `poll`. Owns the descriptor.
class TcpLink final : public Link {
public:
    explicit TcpLink(int fd);
    ~TcpLink() override;
    TcpLink(const TcpLink&) = delete;
    TcpLink& operator=(const TcpLink&) = delete;

    int receive(uint8_t* buffer, size_t size, int waitMs) override;
    int send(const uint8_t* data, size_t length, int waitMs) override;
    void close() override;
    const char* kind() const override { return "tcp"; }
    std::string peer() const override;

private:
    int m_fd;
};

} // namespace camsim
