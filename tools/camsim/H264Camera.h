#pragma once

#include "CameraConfig.h"
#include "CameraControls.h"
#include "CameraCore.h"
#include "PortListener.h"
#include "StreamLibrary.h"

#include "sys/Thread.h"

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace camsim {

struct BoundPorts {
    uint16_t port = 0;    // control and media, TCP and UDT
    uint16_t webPort = 0; // CGI; equals `port` in one-port mode
};

// A simulated H.264 network camera: control and media channels over TCP and UDT on one port,
// CGI over HTTP on the web port (or the same port), with fault injection and observers for
// tests (CameraControls). Each connection runs on its own thread; stop() ends them all within
// about a second. All methods are thread-safe.
class H264Camera final : public CameraControls {
public:
    // Media comes from `streams`, or from the process-wide library when null.
    explicit H264Camera(std::shared_ptr<const StreamLibrary> streams = nullptr);
    ~H264Camera() override;
    H264Camera(const H264Camera&) = delete;
    H264Camera& operator=(const H264Camera&) = delete;

    // Binds the ports and starts serving. Null (see lastError()) when a port cannot be bound
    // or the media cannot be made. A running camera is stopped first.
    std::optional<BoundPorts> start(const CameraConfig& config);
    void stop();
    bool running() const;
    BoundPorts ports() const;
    std::string lastError() const;

private:
    static constexpr size_t kMaxConnections = 256;

    void acceptLoop(const sys::WorkerContext& worker, const std::shared_ptr<CameraCore>& core);
    void spawn(std::unique_ptr<Link> link, bool webPort, const std::shared_ptr<CameraCore>& core);
    void reapFinished();
    std::shared_ptr<CameraCore> core() const override;

    std::shared_ptr<const StreamLibrary> m_streams;

    mutable std::mutex m_lock;
    // Kept after stop() so tests can read what happened; replaced by the next start().
    std::shared_ptr<CameraCore> m_core; // guarded by m_lock
    bool m_running = false;             // guarded by m_lock
    BoundPorts m_ports;                 // guarded by m_lock
    std::string m_lastError;            // guarded by m_lock

    // Serialises start() and stop().
    std::mutex m_lifecycleLock;
    // Opened by start(), closed by stop() after the accept thread has ended; only the accept
    // thread accepts on them.
    PortListener m_mediaListener;
    PortListener m_webListener;
    sys::Thread m_acceptThread;

    std::mutex m_connectionsLock;
    std::list<std::unique_ptr<sys::Thread>> m_connections; // guarded by m_connectionsLock
};

} // namespace camsim
