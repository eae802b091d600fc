#pragma once

#include "PortListener.h"

#include "sys/Thread.h"

#include <array>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace camsim {

struct SdkCameraConfig {
    std::string listenAddress = "0.0.0.0";
    uint16_t port = 0;               // management and monitor sessions (TCP); 0 picks a free one
    uint16_t searchPort = 10000;     // search and set-up (UDP); 0 picks a free one
    std::string id = "00A1B2C3D4E5"; // 12 characters
    std::string name = "camsim-sdk";
    std::string user = "admin";
    std::string password = "admin";
    // The network the camera reports (host order). The HTTP port it reports is `port` as bound.
    uint32_t address = 0x7F000001;
    uint32_t mask = 0xFF000000;
    uint32_t gateway = 0x7F000001;
    uint32_t dns = 0x7F000001;
    uint32_t protocolVersion = 0x01000000; // first value of the login answer
    uint32_t systemVersion = 0x00020103;
    uint32_t applicationVersion = 0x00030207;
    std::string loginId;             // id the login answer names; empty: `id`
    bool scramble = false;           // every payload the camera sends goes out scrambled
    bool shuffleStamps = false;      // frames go out in swapped pairs: time stamps out of order
    unsigned ignoredVideoLogins = 0; // video logins left unanswered before one is served
    int framesPerSecond = 10;
    unsigned audioBlockMs = 40; // 16-bit PCM at 8 kHz: 640 bytes per block
    std::vector<std::array<uint8_t, 3>> colours{{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    int pictureWidth = 64;
    int pictureHeight = 48;
    // One line per event; called from the camera's threads, so it must be thread-safe.
    std::function<void(const std::string&)> eventSink;
};

struct SdkPorts {
    uint16_t port = 0;
    uint16_t searchPort = 0;
};

struct SdkSetup {
    std::string id;
    std::string user;
    std::string password;
    uint32_t address = 0; // host order
    uint32_t mask = 0;
    uint32_t gateway = 0;
    uint32_t dns = 0;
};

struct SdkCameraStats {
    uint32_t searches = 0;
    uint32_t setups = 0; // set-ups for this camera's id
    uint32_t managementLogins = 0;
    uint32_t monitorLogins = 0;
    uint32_t rejectedLogins = 0;
    uint32_t keepAlives = 0;
    uint32_t readyMessages = 0; // monitor opcode 16
    uint32_t videoLogins = 0;
    uint32_t servedVideoLogins = 0;
    uint32_t pictures = 0;
    uint32_t audioBlocks = 0;
    uint32_t reboots = 0;
    uint32_t factoryResets = 0;
    uint32_t ddnsRestarts = 0;
    uint32_t badRequests = 0; // requests whose payload did not fit their opcode
};

struct SdkControls {
    std::vector<uint32_t> maxVideoRates;
    std::vector<std::pair<uint32_t, uint32_t>> sensor;
    std::vector<uint32_t> decoder;
    std::vector<std::pair<uint32_t, int32_t>> timesSet;
};

struct SdkCore;

// A camera of the SDK family: answers the search and takes the set-up on UDP, serves the
// management session ("MO_M": parameters as the packed 2410-byte record, time, network, DDNS,
// firmware upload, reboot, factory reset) and the monitor session ("MO_O", then "MO_V" with
// solid-colour JPEG pictures and 16-bit PCM audio blocks) on one TCP port. Every picture's frame
// time is its index, so its colour is colours[index % colours.size()]. All methods are
// thread-safe; stop() ends every thread within about a second.
class SdkCamera {
public:
    static constexpr size_t kParamsBytes = 2410;
    static constexpr size_t kNet2Bytes = 92;

    SdkCamera();
    ~SdkCamera();
    SdkCamera(const SdkCamera&) = delete;
    SdkCamera& operator=(const SdkCamera&) = delete;

    std::optional<SdkPorts> start(const SdkCameraConfig& config);
    void stop();
    std::string lastError() const;

    SdkCameraStats stats() const;
    std::vector<SdkSetup> setups() const;
    // The packed parameter record as stored (what answer 5 carries).
    std::vector<uint8_t> parameters() const;
    std::vector<uint8_t> net2() const;
    void setDdnsStatus(uint16_t status);
    std::vector<uint8_t> systemFirmware() const;
    std::vector<uint8_t> applicationFirmware() const;
    SdkControls controls() const;
    // Status values (opcode 17: five, 18: one, 25-27: one) to every logged-in monitor session;
    // the count of sessions reached.
    size_t sendReport(uint16_t opcode, const std::vector<uint32_t>& values);

    // The record a factory reset restores.
    static std::vector<uint8_t> defaultParameters(const SdkCameraConfig& config, uint16_t port);

private:
    void serveSearch(const std::shared_ptr<SdkCore>& core);
    void acceptLoop(const sys::WorkerContext& worker, const std::shared_ptr<SdkCore>& core);

    std::shared_ptr<SdkCore> m_core; // kept after stop() for the observers
    mutable std::mutex m_lock;
    std::string m_lastError; // guarded by m_lock
    std::mutex m_lifecycleLock;
    bool m_running = false; // guarded by m_lifecycleLock
    int m_udp = -1;
    PortListener m_listener;
    sys::Thread m_acceptThread;
    std::thread m_searchThread;
    std::mutex m_connectionsLock;
    std::list<std::unique_ptr<sys::Thread>> m_connections; // guarded by m_connectionsLock
};

} // namespace camsim
