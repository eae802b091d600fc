#pragma once

#include "Socket.h"
#include "Timing.h"
#include "iotc/Wire.h"
#include "sys/Thread.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace iotc {

// A camera's registration at one relay. Its thread keeps the registration connection alive and
// answers each INCOMING with a new connection that becomes a session, which waits here until
// IOTC_Listen hands it out.
class Device : public std::enable_shared_from_this<Device> {
public:
    // Turns a freshly paired connection into a registered session: a session id, or an IOTC_ER_*
    // value when the process cannot take it (the connection is then already closed).
    using AdoptSession = std::function<int(net::UniqueFd, wire::FrameParser)>;

    // Sessions accepted and not yet listened for; more incoming clients are left unanswered,
    // and the relay turns them away when their token expires.
    static constexpr size_t kMaxPending = 16;

    static std::shared_ptr<Device> start(int deviceId, net::Endpoint relay, net::UniqueFd fd,
                                         wire::FrameParser parser, const Timing& timing,
                                         AdoptSession adopt);
    ~Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    int listen(unsigned timeoutMs);
    // Ends the registration and stops the thread. Returns the sessions never handed out, which
    // nobody else knows of, for the caller to close.
    std::vector<int> logout();

private:
    Device(net::Endpoint relay, net::UniqueFd fd, wire::FrameParser parser, const Timing& timing,
           AdoptSession adopt);

    void run();
    void acceptIncoming(uint64_t token);
    bool stopping() const { return m_stopping.load(); }

    const net::Endpoint m_relay;
    const Timing m_timing;
    const AdoptSession m_adopt;
    net::UniqueFd m_fd;         // closed only when the device is destroyed, after the thread
    wire::FrameParser m_parser; // thread only
    std::atomic<bool> m_stopping{false};

    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<int> m_pending; // guarded by m_lock
    bool m_lost = false;       // guarded by m_lock
    bool m_loggedOut = false;  // guarded by m_lock

    sys::Thread m_thread;
};

} // namespace iotc
