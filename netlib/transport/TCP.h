#pragma once

#include "transport/SockBase.h"

namespace zq {

// TCP transport: non-blocking socket, every wait bounded to 10 ms so the owning thread can
// notice its cancel flag.
class CTCP : public CSockBase {
public:
    CTCP() = default;
    ~CTCP() override;

    int open() override;
    int setOptions() override;
    // Non-blocking connect, then at most 302 writability polls of up to 10 ms (about 3 s).
    int connect(const char* host, int port) override;
    int send(const void* buf, int len, int flags) override;
    int recv(void* buf, int size, int flags) override;
    void close() override;

    int fd() const { return m_fd; }

private:
    int m_fd = -1;
};

} // namespace zq
