#pragma once

#include "CameraConfig.h"
#include "CameraControls.h"
#include "CameraCore.h"
#include "StreamLibrary.h"

#include "sys/Thread.h"

#include <list>
#include <memory>
#include <mutex>
#include <string>

namespace camsim {

// A simulated H.264 camera that clients reach by UID through a relay (iotc/iotc.h) instead of by
// address. Each client session carries two reliable channels, 0 for control and 1 for media,
// and each channel speaks exactly the packets of the TCP camera, so the same sessions serve
// them. There is no web port: CGI commands come as text commands on the control channel.
// Fault switches and observers are those of CameraControls; "drop" closes every session.
// stop() ends every thread within about a second. All methods are thread-safe.
//
// The camera never calls IOTC_DeInitialize: a client under test may share the process and the
// library with it.
class P2pCamera final : public CameraControls {
public:
    static constexpr size_t kMaxSessions = 64;

    // Media comes from `streams`, or from the process-wide library when null.
    explicit P2pCamera(std::shared_ptr<const StreamLibrary> streams = nullptr);
    ~P2pCamera() override;
    P2pCamera(const P2pCamera&) = delete;
    P2pCamera& operator=(const P2pCamera&) = delete;

    // Registers `uid` with the relay and starts listening for clients. A non-empty
    // `relayAddress` ("host[:port]") first replaces the process's relay list; otherwise the
    // list the process already set up is used. False (see lastError()) when the UID is
    // malformed or refused, no relay answers, or the media cannot be made. A running camera is
    // stopped first. The configuration's addresses and ports are not used.
    bool start(const CameraConfig& config, const std::string& uid,
               const std::string& relayAddress = {});
    void stop();
    bool running() const;
    std::string uid() const;
    std::string lastError() const;
    // Client sessions currently open.
    size_t sessionCount() const;

    // What a UID may be: 1 to kIotcMaxUidLength printable ASCII characters, no spaces.
    static bool validUid(const std::string& uid);

private:
    struct Service;

    std::shared_ptr<CameraCore> core() const override;
    void fail(const std::string& error);

    std::shared_ptr<const StreamLibrary> m_streams;

    mutable std::mutex m_lock;
    // Kept after stop() so tests can read what happened; replaced by the next start().
    std::shared_ptr<Service> m_service; // guarded by m_lock
    bool m_running = false;             // guarded by m_lock
    std::string m_lastError;            // guarded by m_lock

    // Serialises start() and stop().
    std::mutex m_lifecycleLock;
    sys::Thread m_listenThread;
};

} // namespace camsim
