#pragma once

#include "transport/SockBase.h"

#include <mutex>

namespace zq {

// UDT transport (reliable stream over UDP). Receive and send waits are set to 10 ms so the
// owning thread keeps polling its cancel flag. UDT's connect blocks for up to a few seconds and
// has no cancel of its own: cancel() closes the socket from the calling thread, which ends the
// connect at once.
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
    std::mutex m_lock;       // guards m_socket against cancel() from another thread
    int m_socket;            // UDTSOCKET, -1 when closed
    bool m_connecting = false; // guarded by m_lock
};

// Starts the UDT library once per process; later calls are free.
void ensureUdtStarted();

} // namespace zq
