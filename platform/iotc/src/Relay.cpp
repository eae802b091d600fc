#include "iotc/Relay.h"

#include "RelayForward.h"
#include "Socket.h"
#include "iotc/Wire.h"
#include "sys/Thread.h"
#include "sys/Tick.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <list>
#include <random>
#include <unordered_map>

namespace iotc {

namespace {

constexpr unsigned kSliceMs = 100;       // every loop sees a stop at least this often
constexpr unsigned kAnswerSendMs = 1000; // a peer that cannot take a short answer is dropped
constexpr unsigned kThreadStopMs = 2000;
constexpr unsigned kFlushOnCloseMs = 2000;

// An accepted connection, counted against the relay's limit for as long as it is open.
class RelayConnection {
public:
    RelayConnection(net::UniqueFd fd, std::atomic<uint32_t>& open) : m_open(open) {
        this->fd = std::move(fd);
        ++m_open;
    }
    ~RelayConnection() { --m_open; }
    RelayConnection(const RelayConnection&) = delete;
    RelayConnection& operator=(const RelayConnection&) = delete;

    net::UniqueFd fd;
    wire::FrameParser parser;

private:
    std::atomic<uint32_t>& m_open;
};

using ConnectionPtr = std::unique_ptr<RelayConnection>;

// A camera's registration connection. Its own worker reads it; client workers write INCOMING to
// it, so writes and the final close go through `writeLock`.
struct RegisteredDevice {
    std::mutex writeLock;
    ConnectionPtr connection; // guarded by writeLock
    bool broken = false;      // guarded by writeLock

    bool send(const std::vector<uint8_t>& frame, const net::StopCheck& stop) {
        std::lock_guard lock(writeLock);
        if (broken || !connection)
            return false;
        if (net::sendAll(connection->fd.get(), frame, kAnswerSendMs, stop) == net::IoStatus::Ok)
            return true;
        // The owner's read then fails too and ends the registration.
        broken = true;
        ::shutdown(connection->fd.get(), SHUT_RDWR);
        return false;
    }
};

// A client whose camera has been asked to connect back. The worker that receives the camera's
// ACCEPT takes the connection; the client's own worker gives up at the deadline.
struct PendingClient {
    ConnectionPtr connection;
    bool claimed = false;
};

bool peerHungUp(int fd) {
    uint8_t byte = 0;
    const ssize_t n = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n == 0)
        return true;
    return n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
}

} // namespace

class Relay::Core : public std::enable_shared_from_this<Core> {
public:
    explicit Core(const RelayLimits& limits) : m_limits(limits), m_random(std::random_device{}()) {}

    std::optional<uint16_t> open(const std::string& bindAddress, uint16_t port);
    void shutdown();
    RelayStats stats() const;
    void dropSessions() { ++m_dropGeneration; }

private:
    void acceptLoop();
    void acceptOne();
    void startWorker(ConnectionPtr connection);
    void reapWorkers();

    void serve(ConnectionPtr connection);
    void serveDevice(ConnectionPtr connection, const std::string& uid);
    void keepRegistration(const std::shared_ptr<RegisteredDevice>& device);
    void pairClient(ConnectionPtr connection, const std::string& uid);
    ConnectionPtr waitForCamera(const std::shared_ptr<PendingClient>& pending, uint64_t token);
    void pairCamera(ConnectionPtr camera, uint64_t token);
    void refuse(const ConnectionPtr& connection, wire::FrameType answer);

    bool stopping() const { return m_stopping.load(); }
    net::StopCheck stopCheck() const {
        return [this] { return stopping(); };
    }

    const RelayLimits m_limits;
    net::UniqueFd m_listener;
    std::atomic<bool> m_stopping{false};
    std::atomic<uint32_t> m_dropGeneration{0};
    std::atomic<uint32_t> m_openConnections{0};
    std::atomic<uint32_t> m_pairs{0};
    std::atomic<uint32_t> m_refused{0};
    std::atomic<uint64_t> m_forwarded{0};

    mutable std::mutex m_lock;
    std::condition_variable m_claimed;
    std::unordered_map<std::string, std::shared_ptr<RegisteredDevice>> m_devices; // by m_lock
    std::unordered_map<uint64_t, std::shared_ptr<PendingClient>> m_pending;       // by m_lock
    std::list<std::unique_ptr<sys::Thread>> m_workers;                            // by m_lock
    std::mt19937_64 m_random;                                                     // by m_lock

    sys::Thread m_acceptor;
};

// --- Listening ---------------------------------------------------------------------------------

std::optional<uint16_t> Relay::Core::open(const std::string& bindAddress, uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (::inet_pton(AF_INET, bindAddress.c_str(), &address.sin_addr) != 1)
        return std::nullopt;
    net::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int on = 1;
    if (!fd.valid() || ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        !net::tuneSocket(fd.get()))
        return std::nullopt;
    socklen_t size = sizeof address;
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd.get(), 128) != 0 ||
        ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &size) != 0)
        return std::nullopt;
    m_listener = std::move(fd);
    auto self = shared_from_this();
    if (!m_acceptor.start("relay-accept", [self](sys::WorkerContext&) { self->acceptLoop(); }))
        return std::nullopt;
    return ntohs(address.sin_port);
}

void Relay::Core::shutdown() {
    m_stopping = true;
    m_acceptor.stop(kThreadStopMs);
    std::list<std::unique_ptr<sys::Thread>> workers;
    {
        std::lock_guard lock(m_lock);
        workers.swap(m_workers);
        m_claimed.notify_all();
    }
    // Every worker polls the stop flag at least every kSliceMs, so these are short waits.
    for (auto& worker : workers)
        worker->stop(kThreadStopMs);
    m_listener.reset();
}

RelayStats Relay::Core::stats() const {
    RelayStats stats;
    {
        std::lock_guard lock(m_lock);
        stats.devices = static_cast<uint32_t>(m_devices.size());
    }
    stats.sessions = m_pairs.load();
    stats.refused = m_refused.load();
    stats.bytesForwarded = m_forwarded.load();
    return stats;
}

void Relay::Core::acceptLoop() {
    while (!stopping()) {
        pollfd entry{m_listener.get(), POLLIN, 0};
        const int ready = ::poll(&entry, 1, kSliceMs);
        reapWorkers();
        if (ready > 0)
            acceptOne();
    }
}

void Relay::Core::acceptOne() {
    net::UniqueFd fd(::accept4(m_listener.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!fd.valid())
        return;
    if (m_openConnections.load() >= m_limits.maxConnections) {
        // One best-effort answer, so a client can tell a full relay from a dead one.
        const auto busy = wire::encodeFrame(wire::FrameType::Busy);
        [[maybe_unused]] const auto sent =
            ::send(fd.get(), busy.data(), busy.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        ++m_refused;
        return;
    }
    net::tuneSocket(fd.get());
    startWorker(std::make_unique<RelayConnection>(std::move(fd), m_openConnections));
}

void Relay::Core::startWorker(ConnectionPtr connection) {
    auto worker = std::make_unique<sys::Thread>();
    auto self = shared_from_this();
    // std::function needs a copyable body; the connection rides in a shared holder.
    auto held = std::make_shared<ConnectionPtr>(std::move(connection));
    if (!worker->start("relay-conn",
                       [self, held](sys::WorkerContext&) { self->serve(std::move(*held)); }))
        return;
    std::lock_guard lock(m_lock);
    m_workers.push_back(std::move(worker));
}

void Relay::Core::reapWorkers() {
    std::lock_guard lock(m_lock);
    // wait(0) joins a worker whose body has returned and leaves a running one alone.
    m_workers.remove_if([](const std::unique_ptr<sys::Thread>& worker) { return worker->wait(0); });
}

// --- One connection ----------------------------------------------------------------------------

void Relay::Core::serve(ConnectionPtr connection) {
    wire::Frame first;
    const auto status = net::readFrame(connection->fd.get(), connection->parser, first,
                                       m_limits.handshakeMs, stopCheck());
    if (status != net::IoStatus::Ok) {
        if (status != net::IoStatus::Stopped)
            ++m_refused;
        return;
    }
    switch (first.type) {
    case wire::FrameType::Register:
        serveDevice(std::move(connection), std::string(wire::uidOf(first)));
        return;
    case wire::FrameType::Connect:
        pairClient(std::move(connection), std::string(wire::uidOf(first)));
        return;
    case wire::FrameType::Accept:
        pairCamera(std::move(connection), wire::tokenOf(first));
        return;
    default:
        ++m_refused; // a well-formed frame, but not one that opens a conversation
        return;
    }
}

void Relay::Core::refuse(const ConnectionPtr& connection, wire::FrameType answer) {
    ++m_refused;
    net::sendAll(connection->fd.get(), wire::encodeFrame(answer), kAnswerSendMs, stopCheck());
}

void Relay::Core::serveDevice(ConnectionPtr connection, const std::string& uid) {
    auto device = std::make_shared<RegisteredDevice>();
    {
        std::lock_guard lock(m_lock);
        if (m_devices.count(uid) == 0) {
            device->connection = std::move(connection);
            m_devices.emplace(uid, device);
        }
    }
    if (connection) {
        refuse(connection, wire::FrameType::UidInUse);
        return;
    }
    if (device->send(wire::encodeFrame(wire::FrameType::Registered), stopCheck()))
        keepRegistration(device);
    {
        std::lock_guard lock(m_lock);
        const auto it = m_devices.find(uid);
        if (it != m_devices.end() && it->second == device)
            m_devices.erase(it);
    }
    std::lock_guard lock(device->writeLock);
    device->connection.reset();
}

void Relay::Core::keepRegistration(const std::shared_ptr<RegisteredDevice>& device) {
    // Only this worker reads the connection or closes it, so reading needs no lock.
    RelayConnection& connection = *device->connection;
    const auto ping = wire::encodeFrame(wire::FrameType::Ping);
    uint32_t lastHeardMs = sys::tickMs();
    uint32_t lastPingMs = lastHeardMs;
    wire::Frame frame;
    while (!stopping()) {
        const auto status =
            net::readFrame(connection.fd.get(), connection.parser, frame, kSliceMs, stopCheck());
        if (status == net::IoStatus::Ok) {
            if (frame.type != wire::FrameType::Ping)
                return; // a camera has nothing else to say here
            lastHeardMs = sys::tickMs();
            // Answered at once, so a camera's idea of our liveness rests on its own pace alone.
            if (!device->send(ping, stopCheck()))
                return;
            lastPingMs = lastHeardMs;
        } else if (status != net::IoStatus::Timeout ||
                   sys::elapsedMs(lastHeardMs) >= m_limits.silenceMs) {
            return;
        }
        if (sys::elapsedMs(lastPingMs) >= m_limits.pingEveryMs) {
            if (!device->send(ping, stopCheck()))
                return;
            lastPingMs = sys::tickMs();
        }
    }
}

void Relay::Core::pairClient(ConnectionPtr connection, const std::string& uid) {
    std::shared_ptr<RegisteredDevice> device;
    auto pending = std::make_shared<PendingClient>();
    uint64_t token = 0;
    {
        std::lock_guard lock(m_lock);
        const auto it = m_devices.find(uid);
        if (it != m_devices.end()) {
            device = it->second;
            do {
                token = m_random();
            } while (token == 0 || m_pending.count(token) != 0);
            pending->connection = std::move(connection);
            m_pending.emplace(token, pending);
        }
    }
    if (!device) {
        refuse(connection, wire::FrameType::DeviceOffline);
        return;
    }
    device->send(wire::encodeTokenFrame(wire::FrameType::Incoming, token), stopCheck());
    // A failed INCOMING needs nothing more: the camera never answers and the token expires.
    connection = waitForCamera(pending, token);
    if (connection && !peerHungUp(connection->fd.get()))
        refuse(connection, wire::FrameType::DeviceOffline);
    else if (connection)
        ++m_refused;
}

ConnectionPtr Relay::Core::waitForCamera(const std::shared_ptr<PendingClient>& pending,
                                         uint64_t token) {
    const uint32_t startMs = sys::tickMs();
    std::unique_lock lock(m_lock);
    for (;;) {
        if (pending->claimed)
            return nullptr; // the camera's worker owns the connection now
        // A client that gave up is dropped at once instead of holding its token to the end.
        if (stopping() || sys::elapsedMs(startMs) >= m_limits.pendingMs ||
            peerHungUp(pending->connection->fd.get())) {
            m_pending.erase(token);
            return std::move(pending->connection);
        }
        m_claimed.wait_for(lock, std::chrono::milliseconds(20));
    }
}

void Relay::Core::pairCamera(ConnectionPtr camera, uint64_t token) {
    ConnectionPtr client;
    {
        std::lock_guard lock(m_lock);
        const auto it = m_pending.find(token);
        if (it != m_pending.end()) {
            client = std::move(it->second->connection);
            it->second->claimed = true;
            m_pending.erase(it);
            m_claimed.notify_all();
        }
    }
    if (!client) {
        refuse(camera, wire::FrameType::Refused);
        return;
    }
    const auto connected = wire::encodeFrame(wire::FrameType::Connected);
    if (net::sendAll(camera->fd.get(), connected, kAnswerSendMs, stopCheck()) !=
            net::IoStatus::Ok ||
        net::sendAll(client->fd.get(), connected, kAnswerSendMs, stopCheck()) != net::IoStatus::Ok)
        return;
    ++m_pairs;
    const uint32_t dropGeneration = m_dropGeneration.load();
    forwardPair(
        client->fd.get(), client->parser.takeBuffered(), camera->fd.get(),
        camera->parser.takeBuffered(), m_limits.forwardBufferBytes, kFlushOnCloseMs, m_forwarded,
        [this, dropGeneration] { return stopping() || m_dropGeneration.load() != dropGeneration; });
    --m_pairs;
}

// --- The public face ---------------------------------------------------------------------------

Relay::Relay(RelayLimits limits) : m_limits(limits) {}

Relay::~Relay() {
    stop();
}

std::optional<uint16_t> Relay::start(const std::string& bindAddress, uint16_t port) {
    std::lock_guard lock(m_lock);
    if (m_core)
        return std::nullopt;
    auto core = std::make_shared<Core>(m_limits);
    const auto bound = core->open(bindAddress, port);
    if (!bound) {
        core->shutdown();
        return std::nullopt;
    }
    m_core = std::move(core);
    return bound;
}

void Relay::stop() {
    std::shared_ptr<Core> core;
    {
        std::lock_guard lock(m_lock);
        core.swap(m_core);
    }
    if (core)
        core->shutdown();
}

RelayStats Relay::stats() const {
    std::lock_guard lock(m_lock);
    return m_core ? m_core->stats() : RelayStats{};
}

void Relay::dropSessions() {
    std::lock_guard lock(m_lock);
    if (m_core)
        m_core->dropSessions();
}

} // namespace iotc
