#include "Runtime.h"

#include "Device.h"
#include "Session.h"

#include <climits>
#include <string_view>

namespace iotc {

namespace {

// Closing many sessions at IOTC_DeInitialize: each gets a short moment to send BYE.
constexpr unsigned kDeinitFlushMs = 200;

// The lifetime check shared by connects and logins, polled every slice while they wait.
net::StopCheck stopWhenChanged(const std::atomic<uint64_t>& generation, uint64_t started,
                               IotcCancelCheck cancelled = nullptr, void* context = nullptr) {
    return [&generation, started, cancelled, context] {
        return generation.load() != started || (cancelled && cancelled(context) != 0);
    };
}

// One kind of request to the relays (a client's connect, a camera's registration).
struct RelayRequest {
    std::vector<uint8_t> frame;
    wire::FrameType accepted; // the answer that ends the walk
    wire::FrameType refused;  // the refusal worth reporting above every other failure
    int refusedResult;
    int stoppedResult;
};

// Asks each relay in turn until one accepts; `onAccepted(relay, link)` then makes the result.
// Without an acceptance the most telling failure is returned: the refusal, then a full relay,
// then a relay that did not answer, then none reachable.
template <typename OnAccepted>
int walkRelays(const std::vector<net::Endpoint>& relays, const RelayRequest& request,
               const Timing& timing, const net::StopCheck& stop, OnAccepted&& onAccepted) {
    int failure = IOTC_ER_RELAY_UNREACHABLE;
    for (const auto& relay : relays) {
        RelayLink link;
        wire::Frame answer;
        const auto outcome = askRelay(relay, request.frame, timing, stop, link, answer);
        if (outcome == RelayAnswer::Stopped)
            return request.stoppedResult;
        if (outcome == RelayAnswer::NoAnswer && failure == IOTC_ER_RELAY_UNREACHABLE)
            failure = IOTC_ER_TIMEOUT;
        if (outcome != RelayAnswer::Answered)
            continue;
        if (answer.type == request.accepted)
            return onAccepted(relay, link);
        if (answer.type == request.refused)
            failure = request.refusedResult;
        else if (answer.type == wire::FrameType::Busy && failure != request.refusedResult)
            failure = IOTC_ER_TOO_MANY;
    }
    return failure;
}

// Ids count up for the life of the process; wrapping (after two billion) beats overflowing.
int takeId(int& next) {
    const int id = next;
    next = next == INT_MAX ? 1 : next + 1;
    return id;
}

} // namespace

Runtime& Runtime::instance() {
    // Never destroyed: session threads may still be finishing when static destructors run.
    static Runtime* runtime = new Runtime();
    return *runtime;
}

int Runtime::initialize(const std::vector<const char*>& relays) {
    std::vector<net::Endpoint> parsed;
    for (const char* text : relays) {
        if (auto endpoint = net::parseEndpoint(text, kIotcDefaultRelayPort))
            parsed.push_back(std::move(*endpoint));
    }
    std::lock_guard lock(m_lock);
    m_relays = std::move(parsed);
    m_initialized = true;
    return 0;
}

int Runtime::deinitialize() {
    std::map<int, std::shared_ptr<Session>> sessions;
    std::map<int, std::shared_ptr<Device>> devices;
    {
        std::lock_guard lock(m_lock);
        if (!m_initialized)
            return 0;
        m_initialized = false;
        ++m_connectGeneration;
        ++m_lifeGeneration;
        sessions.swap(m_sessions);
        devices.swap(m_devices);
        m_channels.clear();
    }
    // Devices first, so none adopts a session while the sessions are being closed; what they
    // adopt after this point is refused by the generation check.
    for (auto& [id, device] : devices)
        device->logout();
    for (auto& [sid, session] : sessions)
        session->close(kDeinitFlushMs);
    return 0;
}

Timing Runtime::timing() const {
    std::lock_guard lock(m_lock);
    return m_timing;
}

void Runtime::setTiming(const Timing& timing) {
    std::lock_guard lock(m_lock);
    m_timing = timing;
}

bool Runtime::beginAttempt(Attempt& attempt) const {
    std::lock_guard lock(m_lock);
    if (!m_initialized)
        return false;
    attempt.relays = m_relays;
    attempt.timing = m_timing;
    return true;
}

// --- Sessions ----------------------------------------------------------------------------------

int Runtime::connect(const char* uid, IotcCancelCheck cancelled, void* context) {
    Attempt attempt;
    attempt.generation = m_connectGeneration.load();
    if (!beginAttempt(attempt))
        return IOTC_ER_NOT_INITIALIZED;
    if (!uid || !wire::isValidUid(uid))
        return IOTC_ER_INVALID_ARG;
    {
        std::lock_guard lock(m_lock);
        if (m_sessions.size() >= kMaxSessions)
            return IOTC_ER_TOO_MANY;
    }
    const auto stop = stopWhenChanged(m_connectGeneration, attempt.generation, cancelled, context);
    const RelayRequest request{wire::encodeUidFrame(wire::FrameType::Connect, uid),
                               wire::FrameType::Connected, wire::FrameType::DeviceOffline,
                               IOTC_ER_DEVICE_OFFLINE, IOTC_ER_CONNECT_STOPPED};
    return walkRelays(attempt.relays, request, attempt.timing, stop,
                      [&](const net::Endpoint&, RelayLink& link) {
                          return adoptSession(std::move(link.fd), std::move(link.parser),
                                              {m_connectGeneration, attempt.generation},
                                              attempt.timing);
                      });
}

void Runtime::stopConnects() {
    ++m_connectGeneration;
}

int Runtime::adoptSession(net::UniqueFd fd, wire::FrameParser parser, Started started,
                          const Timing& timing) {
    int sid = 0;
    {
        std::lock_guard lock(m_lock);
        if (!m_initialized)
            return IOTC_ER_NOT_INITIALIZED;
        if (m_sessions.size() >= kMaxSessions)
            return IOTC_ER_TOO_MANY;
        sid = takeId(m_nextSessionId);
    }
    auto session = Session::start(sid, std::move(fd), std::move(parser), timing);
    if (!session)
        return IOTC_ER_TOO_MANY;
    {
        std::lock_guard lock(m_lock);
        if (m_initialized && started.stillCurrent()) {
            m_sessions.emplace(sid, session);
            return sid;
        }
    }
    session->close(0);
    return IOTC_ER_CONNECT_STOPPED;
}

void Runtime::closeSession(int sid) {
    std::shared_ptr<Session> session;
    Timing timing;
    {
        std::lock_guard lock(m_lock);
        const auto it = m_sessions.find(sid);
        if (it == m_sessions.end())
            return;
        session = std::move(it->second);
        m_sessions.erase(it);
        std::erase_if(m_channels,
                      [&](const auto& entry) { return entry.second.session == session; });
        timing = m_timing;
    }
    session->close(timing.closeFlushMs);
}

// --- Camera registrations ----------------------------------------------------------------------

int Runtime::login(const char* uid) {
    Attempt attempt;
    attempt.generation = m_lifeGeneration.load();
    if (!beginAttempt(attempt))
        return IOTC_ER_NOT_INITIALIZED;
    if (!uid || !wire::isValidUid(uid))
        return IOTC_ER_INVALID_ARG;
    {
        std::lock_guard lock(m_lock);
        if (m_devices.size() >= kMaxDevices)
            return IOTC_ER_TOO_MANY;
    }
    const auto stop = stopWhenChanged(m_lifeGeneration, attempt.generation);
    const RelayRequest request{wire::encodeUidFrame(wire::FrameType::Register, uid),
                               wire::FrameType::Registered, wire::FrameType::UidInUse,
                               IOTC_ER_UID_IN_USE, IOTC_ER_NOT_INITIALIZED};
    return walkRelays(attempt.relays, request, attempt.timing, stop,
                      [&](const net::Endpoint& relay, RelayLink& link) {
                          int deviceId = 0;
                          {
                              std::lock_guard lock(m_lock);
                              deviceId = takeId(m_nextDeviceId);
                          }
                          const uint64_t generation = attempt.generation;
                          const Timing timing = attempt.timing;
                          auto adopt = [this, generation, timing](net::UniqueFd fd,
                                                                  wire::FrameParser parser) {
                              return adoptSession(std::move(fd), std::move(parser),
                                                  {m_lifeGeneration, generation}, timing);
                          };
                          auto device =
                              Device::start(deviceId, relay, std::move(link.fd),
                                            std::move(link.parser), timing, std::move(adopt));
                          if (!device)
                              return static_cast<int>(IOTC_ER_TOO_MANY);
                          return registerDevice(device, generation, deviceId);
                      });
}

int Runtime::registerDevice(const std::shared_ptr<Device>& device, uint64_t generation,
                            int deviceId) {
    {
        std::lock_guard lock(m_lock);
        if (m_initialized && generation == m_lifeGeneration.load()) {
            m_devices.emplace(deviceId, device);
            return deviceId;
        }
    }
    for (const int sid : device->logout())
        closeSession(sid);
    return IOTC_ER_NOT_INITIALIZED;
}

int Runtime::listen(int deviceId, unsigned timeoutMs) {
    std::shared_ptr<Device> device;
    {
        std::lock_guard lock(m_lock);
        if (!m_initialized)
            return IOTC_ER_NOT_INITIALIZED;
        const auto it = m_devices.find(deviceId);
        if (it == m_devices.end())
            return IOTC_ER_INVALID_ARG;
        device = it->second;
    }
    return device->listen(timeoutMs);
}

void Runtime::logout(int deviceId) {
    std::shared_ptr<Device> device;
    {
        std::lock_guard lock(m_lock);
        const auto it = m_devices.find(deviceId);
        if (it == m_devices.end())
            return;
        device = std::move(it->second);
        m_devices.erase(it);
    }
    for (const int sid : device->logout())
        closeSession(sid);
}

// --- Channels ----------------------------------------------------------------------------------

int Runtime::rdtInitialize() {
    std::lock_guard lock(m_lock);
    m_rdtInitialized = true;
    return 0;
}

int Runtime::rdtDeinitialize() {
    std::map<int, ChannelRef> channels;
    {
        std::lock_guard lock(m_lock);
        m_rdtInitialized = false;
        channels.swap(m_channels);
    }
    for (auto& [id, channel] : channels)
        channel.session->destroyChannel(channel.slot, id);
    return 0;
}

bool Runtime::findChannel(int rdtId, ChannelRef& found) const {
    std::lock_guard lock(m_lock);
    const auto it = m_channels.find(rdtId);
    if (it == m_channels.end())
        return false;
    found = it->second;
    return true;
}

int Runtime::rdtCreate(int sid, int timeoutMs, unsigned char channel) {
    std::shared_ptr<Session> session;
    int rdtId = 0;
    {
        std::lock_guard lock(m_lock);
        if (!m_rdtInitialized)
            return RDT_ER_NOT_INITIALIZED;
        if (channel >= kIotcMaxChannels)
            return RDT_ER_INVALID_ARG;
        const auto it = m_sessions.find(sid);
        if (it == m_sessions.end())
            return RDT_ER_INVALID_ID;
        session = it->second;
        rdtId = takeId(m_nextChannelId);
        // Known before the wait, so a session closed meanwhile takes this entry away with it.
        m_channels.emplace(rdtId, ChannelRef{session, channel});
    }
    const int result = session->createChannel(channel, rdtId, timeoutMs);
    if (result == 0)
        return rdtId;
    std::lock_guard lock(m_lock);
    m_channels.erase(rdtId);
    return result;
}

int Runtime::rdtDestroy(int rdtId) {
    ChannelRef channel;
    {
        std::lock_guard lock(m_lock);
        if (!m_rdtInitialized)
            return RDT_ER_NOT_INITIALIZED;
        const auto it = m_channels.find(rdtId);
        if (it == m_channels.end())
            return RDT_ER_INVALID_ID;
        channel = std::move(it->second);
        m_channels.erase(it);
    }
    return channel.session->destroyChannel(channel.slot, rdtId);
}

int Runtime::rdtWrite(int rdtId, const char* data, int length) {
    ChannelRef channel;
    {
        std::lock_guard lock(m_lock);
        if (!m_rdtInitialized)
            return RDT_ER_NOT_INITIALIZED;
    }
    if (length < 0 || length > kRdtMaxWrite || (!data && length > 0))
        return RDT_ER_INVALID_ARG;
    if (!findChannel(rdtId, channel))
        return RDT_ER_INVALID_ID;
    return channel.session->write(channel.slot, rdtId, data, length);
}

int Runtime::rdtRead(int rdtId, char* buffer, int size, int timeoutMs) {
    ChannelRef channel;
    {
        std::lock_guard lock(m_lock);
        if (!m_rdtInitialized)
            return RDT_ER_NOT_INITIALIZED;
    }
    if (!buffer || size <= 0)
        return RDT_ER_INVALID_ARG;
    if (!findChannel(rdtId, channel))
        return RDT_ER_INVALID_ID;
    return channel.session->read(channel.slot, rdtId, buffer, size, timeoutMs);
}

int Runtime::rdtStatus(int rdtId, RdtStatus* status) {
    ChannelRef channel;
    {
        std::lock_guard lock(m_lock);
        if (!m_rdtInitialized)
            return RDT_ER_NOT_INITIALIZED;
    }
    if (!status)
        return RDT_ER_INVALID_ARG;
    if (!findChannel(rdtId, channel))
        return RDT_ER_INVALID_ID;
    return channel.session->status(channel.slot, rdtId, *status);
}

// --- Talking to a relay ------------------------------------------------------------------------

RelayAnswer askRelay(const net::Endpoint& relay, const std::vector<uint8_t>& request,
                     const Timing& timing, const net::StopCheck& stop, RelayLink& link,
                     wire::Frame& answer) {
    const auto connected = net::connectTcp(relay, timing.relayConnectMs, stop, link.fd);
    if (connected == net::IoStatus::Stopped)
        return RelayAnswer::Stopped;
    if (connected != net::IoStatus::Ok)
        return RelayAnswer::Unreachable;
    const auto sent = net::sendAll(link.fd.get(), request, timing.answerMs, stop);
    if (sent == net::IoStatus::Stopped)
        return RelayAnswer::Stopped;
    if (sent != net::IoStatus::Ok)
        return RelayAnswer::Unreachable;
    switch (net::readFrame(link.fd.get(), link.parser, answer, timing.answerMs, stop)) {
    case net::IoStatus::Ok:
        return RelayAnswer::Answered;
    case net::IoStatus::Stopped:
        return RelayAnswer::Stopped;
    case net::IoStatus::Timeout:
        return RelayAnswer::NoAnswer;
    default:
        // Closed or spoke garbage: not a relay we can use.
        return RelayAnswer::Unreachable;
    }
}

} // namespace iotc
