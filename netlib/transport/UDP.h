#pragma once

#include "transport/SockBase.h"

#include <mutex>

namespace zq {

// UDT transport (reliable stream over UDP). Receive and send waits are set to 10 ms and the
// connect runs asynchronously, so the owning thread sees its cancel flag within 10 ms.
class CUDP : public CSockBase {
public:
    CUDP();
    ~CUDP() override;

    int open() override;
    int setOptions() override;
    int connect(const char* host, int port) override;
    void cancel() override;
    int send(const void* buf, int len, int flags) override;
    int recv(void* buf, int size, int flags) override;
    void close() override;

private:
    std::mutex m_lock; // guards m_socket between open/close and setOptions
    int m_socket;      // UDTSOCKET, -1 when closed; used by the owning thread
};

// Starts the UDT library once per process; later calls are free.
void ensureUdtStarted();

} // namespace zq
