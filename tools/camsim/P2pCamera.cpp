#include "P2pCamera.h"

#include "ConnectionRouter.h"
#include "RdtLink.h"

#include "iotc/iotc.h"

#include "sys/Tick.h"

#include <arpa/inet.h>
#include <array>
#include <atomic>

namespace camsim {

namespace {

// Every thread of a camera ends within this time of stop().
constexpr uint32_t kStopBudgetMs = 1000;
// Waits inside the library are cut into steps this long so a stop or a drop is seen in time.
constexpr unsigned kListenStepMs = 200;
constexpr int kCreateStepMs = 100;
constexpr uint32_t kSessionPollMs = 20;
// A client that has not opened a channel within this time of connecting never will.
constexpr uint32_t kChannelOpenTimeoutMs = 30000;
// After the relay lost the registration (a relay restart), log in again this often.
constexpr uint32_t kReloginIntervalMs = 1000;

constexpr std::array<unsigned char, 2> kChannels = {0, 1}; // control, media

std::string loginError(int code, const std::string& uid) {
    switch (code) {
    case IOTC_ER_UID_IN_USE:
        return "UID " + uid + " is already in use at the relay (another camera holds it)";
    case IOTC_ER_RELAY_UNREACHABLE:
        return "no relay answered; is one running and given with its address?";
    case IOTC_ER_NOT_INITIALIZED:
        return "no relay configured: give a relay address or call IOTC_Initialize first";
    case IOTC_ER_INVALID_ARG:
        return "the relay refused UID " + uid;
    default:
        return "registering UID " + uid + " failed (error " + std::to_string(code) + ")";
    }
}

// Hands "host[:port]" to the library as an address when it is one, else as a host name, since
// the library tries the two kinds differently.
void useRelay(const std::string& relay) {
    const std::string host = relay.substr(0, relay.find(':'));
    in_addr parsed{};
    if (inet_pton(AF_INET, host.c_str(), &parsed) == 1) {
        IOTC_Initialize(0, relay.c_str(), nullptr, nullptr, nullptr);
    } else {
        IOTC_Initialize(0, nullptr, nullptr, relay.c_str(), nullptr);
    }
}

// Whether the channel threads of one session should go on trying and serving.
struct SessionScope {
    std::shared_ptr<CameraCore> core;
    int sessionId;
    uint32_t dropGeneration; // the camera's drop count when the session was accepted

    bool wanted(const sys::WorkerContext& worker) const {
        return !worker.cancelled() && !core->stopping() &&
               core->faults().dropGeneration() == dropGeneration;
    }
};

// Opens the camera's side of `channel` once the client opens its own, then serves it to its end.
void openAndServe(const sys::WorkerContext& worker, const SessionScope& scope,
                  unsigned char channel, std::atomic<bool>& opened) {
    const uint32_t start = sys::tickMs();
    int rdtId = RDT_ER_TIMEOUT;
    while (rdtId == RDT_ER_TIMEOUT && scope.wanted(worker) &&
           sys::elapsedMs(start) < kChannelOpenTimeoutMs) {
        rdtId = RDT_Create(scope.sessionId, kCreateStepMs, channel);
    }
    if (rdtId < 0) {
        if (scope.wanted(worker)) {
            scope.core->event("p2p session %d: channel %u not opened (%d)", scope.sessionId,
                              channel, rdtId);
        }
        return;
    }
    opened = true;
    serveConnection(std::make_shared<RdtLink>(rdtId, scope.sessionId, channel), *scope.core, worker,
                    false);
}

// The session is over once a served channel has ended (the client logged out, broke the
// protocol or vanished), or when neither channel opened.
bool sessionOver(std::array<sys::Thread, 2>& threads,
                 const std::array<std::atomic<bool>, 2>& opened) {
    bool allEnded = true;
    for (size_t i = 0; i < threads.size(); ++i) {
        const bool ended = !threads[i].running() || threads[i].wait(0);
        if (ended && opened[i]) {
            return true;
        }
        allEnded = allEnded && ended;
    }
    return allEnded;
}

void serveSession(const sys::WorkerContext& worker, const SessionScope& scope) {
    scope.core->event("p2p session %d opened", scope.sessionId);
    // Shared with the channel threads, which may outlive this body if they overrun a stop.
    auto opened = std::make_shared<std::array<std::atomic<bool>, 2>>();
    std::array<sys::Thread, 2> threads;
    for (const unsigned char channel : kChannels) {
        threads[channel].start("camsim-p2p-chan", [scope, channel, opened](sys::WorkerContext& w) {
            openAndServe(w, scope, channel, (*opened)[channel]);
        });
    }
    while (!worker.cancelled() && !scope.core->stopping() && !sessionOver(threads, *opened)) {
        sys::sleepMs(kSessionPollMs);
    }
    // Closing the session wakes the other channel's reads, so its thread ends at once.
    IOTC_Session_Close(scope.sessionId);
    for (auto& thread : threads) {
        thread.requestCancel();
    }
    for (auto& thread : threads) {
        thread.stop(kStopBudgetMs / 2);
    }
    scope.core->event("p2p session %d closed", scope.sessionId);
}

} // namespace

// What the listen thread and the session threads share. The listen thread holds it too, so
// a registration call that overruns a stop cannot outlive what it uses.
struct P2pCamera::Service {
    Service(std::shared_ptr<CameraCore> cameraCore, std::string cameraUid)
        : core(std::move(cameraCore)), uid(std::move(cameraUid)) {}

    void listen(const sys::WorkerContext& worker, int deviceId);
    void spawnSession(int sessionId);
    void reapFinished();
    std::list<std::unique_ptr<sys::Thread>> takeSessions();

    const std::shared_ptr<CameraCore> core;
    const std::string uid;

    std::mutex lock;
    std::list<std::unique_ptr<sys::Thread>> sessions; // guarded by lock
};

void P2pCamera::Service::listen(const sys::WorkerContext& worker, int deviceId) {
    int device = deviceId;
    uint32_t lostAt = 0;
    while (!worker.cancelled() && !core->stopping()) {
        reapFinished();
        if (device < 0) {
            if (sys::elapsedMs(lostAt) < kReloginIntervalMs) {
                sys::sleepMs(kSessionPollMs);
                continue;
            }
            device = IOTC_Device_Login(uid.c_str());
            lostAt = sys::tickMs();
            if (device >= 0) {
                core->event("registered again as %s", uid.c_str());
            }
            continue;
        }
        const int sessionId = IOTC_Listen(device, kListenStepMs);
        if (sessionId >= 0) {
            spawnSession(sessionId);
        } else if (sessionId != IOTC_ER_TIMEOUT) {
            // Session closed means the relay dropped the registration; any other error leaves
            // the device id useless as well. Either way a fresh login is the way back.
            core->event("registration as %s lost (%d); logging in again", uid.c_str(), sessionId);
            IOTC_Device_Logout(device);
            device = -1;
            lostAt = sys::tickMs();
        }
    }
    if (device >= 0) {
        IOTC_Device_Logout(device);
    }
}

void P2pCamera::Service::spawnSession(int sessionId) {
    const std::lock_guard<std::mutex> guard(lock);
    if (core->stopping() || sessions.size() >= kMaxSessions) {
        if (!core->stopping()) {
            core->count(&CameraStats::protocolErrors);
            core->event("p2p session %d refused: %zu sessions open", sessionId, sessions.size());
        }
        IOTC_Session_Close(sessionId);
        return;
    }
    const SessionScope scope{core, sessionId, core->faults().dropGeneration()};
    auto thread = std::make_unique<sys::Thread>();
    if (thread->start("camsim-p2p",
                      [scope](sys::WorkerContext& worker) { serveSession(worker, scope); })) {
        sessions.push_back(std::move(thread));
    } else {
        IOTC_Session_Close(sessionId);
    }
}

void P2pCamera::Service::reapFinished() {
    const std::lock_guard<std::mutex> guard(lock);
    sessions.remove_if([](const std::unique_ptr<sys::Thread>& thread) { return thread->wait(0); });
}

std::list<std::unique_ptr<sys::Thread>> P2pCamera::Service::takeSessions() {
    const std::lock_guard<std::mutex> guard(lock);
    return std::exchange(sessions, {});
}

P2pCamera::P2pCamera(std::shared_ptr<const StreamLibrary> streams)
    : m_streams(std::move(streams)) {}

P2pCamera::~P2pCamera() {
    stop();
}

bool P2pCamera::validUid(const std::string& uid) {
    if (uid.empty() || uid.size() > kIotcMaxUidLength) {
        return false;
    }
    for (const char c : uid) {
        if (c <= ' ' || c > '~') {
            return false;
        }
    }
    return true;
}

void P2pCamera::fail(const std::string& error) {
    const std::lock_guard<std::mutex> guard(m_lock);
    m_lastError = error;
}

bool P2pCamera::start(const CameraConfig& config, const std::string& uid,
                      const std::string& relayAddress) {
    stop();
    const std::lock_guard<std::mutex> lifecycle(m_lifecycleLock);
    if (!validUid(uid)) {
        fail("a UID is 1 to 64 printable characters without spaces");
        return false;
    }
    std::string error;
    std::shared_ptr<const StreamLibrary> streams = m_streams;
    if (!streams && !(streams = StreamLibrary::shared(error))) {
        fail(error);
        return false;
    }
    if (!relayAddress.empty()) {
        useRelay(relayAddress);
    }
    // Channels cannot be opened before this; it only sets a flag, so calling it again when the
    // process (or a client in it) already has is harmless.
    RDT_Initialize();
    const int device = IOTC_Device_Login(uid.c_str());
    if (device < 0) {
        fail(loginError(device, uid));
        return false;
    }
    auto service = std::make_shared<Service>(std::make_shared<CameraCore>(config, streams), uid);
    const bool started =
        m_listenThread.start("camsim-p2p-listen", [service, device](sys::WorkerContext& worker) {
            service->listen(worker, device);
        });
    if (!started) {
        IOTC_Device_Logout(device);
        fail("cannot start the listen thread");
        return false;
    }
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        m_service = service;
        m_running = true;
        m_lastError.clear();
    }
    service->core->event("camera \"%s\" registered as %s", config.name.c_str(), uid.c_str());
    return true;
}

void P2pCamera::stop() {
    const std::lock_guard<std::mutex> lifecycle(m_lifecycleLock);
    std::shared_ptr<Service> service;
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        if (!m_running) {
            return;
        }
        m_running = false;
        service = m_service;
    }
    const uint32_t start = sys::tickMs();
    service->core->beginStop();
    // The listen thread logs out on its way out.
    m_listenThread.stop(kStopBudgetMs);
    auto sessions = service->takeSessions();
    for (auto& thread : sessions) {
        thread->requestCancel();
    }
    for (auto& thread : sessions) {
        const uint32_t spent = sys::elapsedMs(start);
        // A session thread that overruns is detached; it holds everything it uses.
        thread->stop(spent < kStopBudgetMs ? kStopBudgetMs - spent : 50);
    }
    service->core->event("camera stopped");
}

std::shared_ptr<CameraCore> P2pCamera::core() const {
    const std::lock_guard<std::mutex> guard(m_lock);
    return m_service ? m_service->core : nullptr;
}

bool P2pCamera::running() const {
    const std::lock_guard<std::mutex> guard(m_lock);
    return m_running;
}

std::string P2pCamera::uid() const {
    const std::lock_guard<std::mutex> guard(m_lock);
    return m_service ? m_service->uid : std::string();
}

std::string P2pCamera::lastError() const {
    const std::lock_guard<std::mutex> guard(m_lock);
    return m_lastError;
}

size_t P2pCamera::sessionCount() const {
    std::shared_ptr<Service> service;
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        service = m_service;
    }
    if (!service) {
        return 0;
    }
    service->reapFinished();
    const std::lock_guard<std::mutex> guard(service->lock);
    return service->sessions.size();
}

} // namespace camsim
