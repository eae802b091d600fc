#pragma once

#include "Socket.h"
#include "Timing.h"
#include "iotc/iotc.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace iotc {

class Device;
class Session;

// Everything the C API keeps for the process: the relay list, and the sessions, registrations
// and channels by id. All of it lives here, behind one lock that is never held across a wait,
// so the library can sit in a shared library and in a simulator without surprises.
class Runtime {
public:
    static constexpr size_t kMaxSessions = 256;
    static constexpr size_t kMaxDevices = 16;

    static Runtime& instance();

    int initialize(const std::vector<const char*>& relays);
    int deinitialize();

    int connect(const char* uid, IotcCancelCheck cancelled, void* context);
    void stopConnects();
    void closeSession(int sid);

    int login(const char* uid);
    int listen(int deviceId, unsigned timeoutMs);
    void logout(int deviceId);

    int rdtInitialize();
    int rdtDeinitialize();
    int rdtCreate(int sid, int timeoutMs, unsigned char channel);
    int rdtDestroy(int rdtId);
    int rdtWrite(int rdtId, const char* data, int length);
    int rdtRead(int rdtId, char* buffer, int size, int timeoutMs);
    int rdtStatus(int rdtId, RdtStatus* status);

    Timing timing() const;
    // For tests: shorter keep-alives. Applies to sessions and registrations made afterwards.
    void setTiming(const Timing& timing);

private:
    struct ChannelRef {
        std::shared_ptr<Session> session;
        unsigned slot = 0;
    };
    // What a connect or login needs, copied out so no lock is held while it waits.
    struct Attempt {
        std::vector<net::Endpoint> relays;
        Timing timing;
        uint64_t generation = 0;
    };

    // The generation a connect or login began under, checked again before what it made is
    // registered.
    struct Started {
        const std::atomic<uint64_t>& source;
        uint64_t value;
        bool stillCurrent() const { return source.load() == value; }
    };

    Runtime() = default;

    bool beginAttempt(Attempt& attempt) const;
    int adoptSession(net::UniqueFd fd, wire::FrameParser parser, Started started,
                     const Timing& timing);
    int registerDevice(const std::shared_ptr<Device>& device, uint64_t generation, int deviceId);
    bool findChannel(int rdtId, ChannelRef& found) const;

    mutable std::mutex m_lock;
    bool m_initialized = false;                         // guarded by m_lock
    bool m_rdtInitialized = false;                      // guarded by m_lock
    std::vector<net::Endpoint> m_relays;                // guarded by m_lock
    Timing m_timing;                                    // guarded by m_lock
    std::map<int, std::shared_ptr<Session>> m_sessions; // guarded by m_lock
    std::map<int, std::shared_ptr<Device>> m_devices;   // guarded by m_lock
    std::map<int, ChannelRef> m_channels;               // guarded by m_lock
    int m_nextSessionId = 1;                            // guarded by m_lock
    int m_nextDeviceId = 1;                             // guarded by m_lock
    int m_nextChannelId = 1;                            // guarded by m_lock
    // Bumped by IOTC_Connect_Stop and IOTC_DeInitialize: a connect started under an older value
    // gives up, and what it made meanwhile is closed instead of registered.
    std::atomic<uint64_t> m_connectGeneration{0};
    // Bumped by IOTC_DeInitialize only, for logins and the sessions cameras accept.
    std::atomic<uint64_t> m_lifeGeneration{0};
};

// One request to one relay and its first answer.
struct RelayLink {
    net::UniqueFd fd;
    wire::FrameParser parser;
};
enum class RelayAnswer { Answered, Unreachable, NoAnswer, Stopped };
RelayAnswer askRelay(const net::Endpoint& relay, const std::vector<uint8_t>& request,
                     const Timing& timing, const net::StopCheck& stop, RelayLink& link,
                     wire::Frame& answer);

} // namespace iotc
