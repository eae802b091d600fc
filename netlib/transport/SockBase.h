#pragma once

#include <atomic>

namespace zq {

// Results of transport calls. Positive results are byte counts.
enum TransportResult : int {
    kIoIdle = 0,       // nothing moved within the 10 ms wait
    kIoError = -1,     // socket error
    kIoUdtError = -2,  // connect failed inside the UDT library
    kIoClosed = -3,    // peer closed the connection
    kIoCancelled = -4, // cancel() was called
};

// One connection of a channel. All calls but cancel() are made by the owning channel thread
// (or by a caller's thread under the channel's send lock); cancel() may come from any thread and
// makes a connect or wait in progress return kIoCancelled promptly.
class CSockBase {
public:
    virtual ~CSockBase();

    virtual int open() = 0;
    virtual int setOptions() = 0;
    // 0 on success, kIoError (or kIoUdtError) on failure, kIoCancelled when cancelled.
    virtual int connect(const char* host, int port) = 0;
    virtual void cancel() { m_cancelled.store(true, std::memory_order_release); }
    // Writes what the transport takes within 10 ms: bytes written, kIoIdle, or an error.
    virtual int send(const void* buf, int len, int flags) = 0;
    // Reads what arrives within 10 ms: bytes read, kIoIdle, kIoError, kIoClosed, kIoCancelled.
    virtual int recv(void* buf, int size, int flags) = 0;
    virtual void close() = 0;
    virtual void setMode(int) {}
    virtual int getMode() { return 0; }
    // Peer-to-peer transports carry one control packet per connection.
    virtual bool peerToPeer() const { return false; }

    bool cancelled() const { return m_cancelled.load(std::memory_order_acquire); }
    // A new connection attempt after a stop that was not final.
    void clearCancel() { m_cancelled.store(false, std::memory_order_release); }

protected:
    std::atomic<bool> m_cancelled{false};
};

} // namespace zq
