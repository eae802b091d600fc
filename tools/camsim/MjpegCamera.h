#pragma once

#include "CgiModel.h"
#include "Faults.h"
#include "PortListener.h"

#include "sys/Thread.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace camsim {

struct MjpegCameraConfig {
    std::string listenAddress = "0.0.0.0";
    uint16_t port = 0;    // "MO_O" and "MO_V" connections; 0 picks a free one
    uint16_t webPort = 0; // CGI scripts; 0 picks a free one
    std::string user = "admin";
    std::string password = "admin";
    int framesPerSecond = 10;
    // One line per event; called from connection threads, so it must be thread-safe.
    std::function<void(const std::string&)> eventSink;
};

struct MjpegPorts {
    uint16_t port = 0;
    uint16_t webPort = 0;
};

// A CGI request as the camera received it: script name and decoded parameters.
struct MjpegCgiEntry {
    std::string script; // "ptz_control.cgi"
    CgiParams params;
};

struct MjpegStats {
    uint32_t logins = 0;         // accepted verify requests
    uint32_t rejectedLogins = 0; // verify requests with a wrong user or password
    uint32_t mediaLogins = 0;    // media logins with a known connection id
    uint32_t pictures = 0;
    uint32_t audioPackets = 0;
    uint32_t talkPackets = 0; // accepted: 160 bytes of audio
    uint32_t talkRejects = 0; // talk packets of any other shape
    uint32_t protocolErrors = 0;
};

// Picture and sound settings the CGI scripts read and change.
struct MjpegSettings {
    int resolution = 8;
    int brightness = 96;
    int contrast = 4;
    int mode = 1; // power frequency in the generic form
    int flip = 0;
};

struct MjpegCore;

// A simulated MJPEG network camera: the "MO_O" control and "MO_V" media protocol on one TCP
// port, 640×480 JPEG pictures and IMA ADPCM sound, the classic CGI scripts with JavaScript
// variable answers on the web port, and the faults of Faults.h. Each connection runs on its own
// thread; stop() ends them within about a second. All methods are thread-safe.
class MjpegCamera {
public:
    MjpegCamera();
    ~MjpegCamera();
    MjpegCamera(const MjpegCamera&) = delete;
    MjpegCamera& operator=(const MjpegCamera&) = delete;

    std::optional<MjpegPorts> start(const MjpegCameraConfig& config);
    void stop();
    bool running() const;
    std::string lastError() const;

    // A control notice (opcode 17, 18 or 25) to every verified control connection; returns how
    // many were queued.
    size_t sendNotice(uint16_t opcode, const std::vector<uint8_t>& content);
    // Alarm notices: 8 bytes (opcode 17) or 23 bytes (opcode 25), `state` first.
    size_t sendAlarm(uint8_t state, bool longForm);

    // Faults: stall, dropAll, garbage, refuseLogins, httpDelayMs. Valid while the camera lives.
    Faults& faults();
    // "get_camera_params.cgi" answers "File not found." (older firmware).
    void setFirstParamFormMissing(bool on);

    MjpegStats stats() const;
    std::vector<MjpegCgiEntry> cgiLog() const;
    std::vector<uint8_t> decoderCodes() const; // control opcode 14, in order
    std::vector<std::vector<uint8_t>> talkAudio() const;
    MjpegSettings settings() const;

private:
    static constexpr size_t kMaxConnections = 64;

    void acceptLoop(const sys::WorkerContext& worker, const std::shared_ptr<MjpegCore>& core);
    void spawn(std::unique_ptr<Link> link, bool web, const std::shared_ptr<MjpegCore>& core);

    std::shared_ptr<MjpegCore> m_core; // kept after stop() for the observers
    mutable std::mutex m_lock;
    bool m_running = false;
    std::string m_lastError;
    std::mutex m_lifecycleLock;
    PortListener m_listener;
    PortListener m_webListener;
    sys::Thread m_acceptThread;
    std::mutex m_connectionsLock;
    std::list<std::unique_ptr<sys::Thread>> m_connections; // guarded by m_connectionsLock
};

} // namespace camsim
