#include "H264Camera.h"

#include "ConnectionRouter.h"

#include "sys/Diag.h"
#include "sys/Tick.h"

namespace camsim {

namespace {
// Every thread of a camera ends within this time of stop().
constexpr uint32_t kStopBudgetMs = 1000;
} // namespace

H264Camera::H264Camera(std::shared_ptr<const StreamLibrary> streams)
    : m_streams(std::move(streams)) {}

H264Camera::~H264Camera() {
    stop();
}

std::optional<BoundPorts> H264Camera::start(const CameraConfig& config) {
    stop();
    const std::lock_guard<std::mutex> lifecycle(m_lifecycleLock);
    std::string error;
    std::shared_ptr<const StreamLibrary> streams = m_streams;
    if (!streams) {
        streams = StreamLibrary::shared(error);
    }
    BoundPorts ports;
    if (streams && m_mediaListener.open(config.listenAddress, config.port, config.udt, error)) {
        ports.port = m_mediaListener.port();
        if (config.onePort) {
            ports.webPort = ports.port;
        } else if (m_webListener.open(config.listenAddress, config.webPort, false, error)) {
            ports.webPort = m_webListener.port();
        }
    }
    if (!streams || ports.port == 0 || ports.webPort == 0) {
        m_mediaListener.close();
        const std::lock_guard<std::mutex> guard(m_lock);
        m_lastError = error;
        return std::nullopt;
    }

    auto core = std::make_shared<CameraCore>(config, std::move(streams));
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        m_core = core;
        m_ports = ports;
        m_running = true;
        m_lastError.clear();
    }
    // The accept thread borrows this camera: stop() always ends it before the camera goes, and
    // it polls its cancel flag every few tens of milliseconds.
    m_acceptThread.start("camsim-accept",
                         [this, core](sys::WorkerContext& worker) { acceptLoop(worker, core); });
    core->event("camera \"%s\" listening on port %u (tcp%s), web port %u%s", config.name.c_str(),
                ports.port, config.udt ? "+udt" : "", ports.webPort,
                config.onePort ? " (one port)" : "");
    return ports;
}

void H264Camera::stop() {
    const std::lock_guard<std::mutex> lifecycle(m_lifecycleLock);
    std::shared_ptr<CameraCore> core;
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        if (!m_running) {
            return;
        }
        m_running = false;
        core = m_core;
    }
    const uint32_t start = sys::tickMs();
    core->beginStop();
    m_acceptThread.stop(kStopBudgetMs);
    std::list<std::unique_ptr<sys::Thread>> connections;
    {
        const std::lock_guard<std::mutex> guard(m_connectionsLock);
        connections.swap(m_connections);
    }
    for (auto& thread : connections) {
        thread->requestCancel();
    }
    for (auto& thread : connections) {
        const uint32_t spent = sys::elapsedMs(start);
        // A connection thread that overruns is detached; it holds the core it uses.
        thread->stop(spent < kStopBudgetMs ? kStopBudgetMs - spent : 50);
    }
    m_mediaListener.close();
    m_webListener.close();
    core->event("camera stopped");
}

void H264Camera::acceptLoop(const sys::WorkerContext& worker,
                            const std::shared_ptr<CameraCore>& core) {
    const bool web = !core->config().onePort;
    while (!worker.cancelled() && !core->stopping()) {
        if (auto link = m_mediaListener.accept(web ? 10 : 20)) {
            spawn(std::move(link), false, core);
        }
        if (web) {
            if (auto link = m_webListener.accept(10)) {
                spawn(std::move(link), true, core);
            }
        }
        reapFinished();
    }
}

void H264Camera::spawn(std::unique_ptr<Link> link, bool webPort,
                       const std::shared_ptr<CameraCore>& core) {
    const std::lock_guard<std::mutex> guard(m_connectionsLock);
    if (m_connections.size() >= kMaxConnections) {
        core->count(&CameraStats::protocolErrors);
        return; // the link closes as it goes out of scope
    }
    auto thread = std::make_unique<sys::Thread>();
    // The body owns the link and shares the core, so neither depends on this camera's lifetime.
    std::shared_ptr<Link> owned(std::move(link));
    const bool started =
        thread->start("camsim-conn", [core, owned, webPort](sys::WorkerContext& worker) {
            serveConnection(owned, *core, worker, webPort);
        });
    if (started) {
        m_connections.push_back(std::move(thread));
    }
}

void H264Camera::reapFinished() {
    const std::lock_guard<std::mutex> guard(m_connectionsLock);
    m_connections.remove_if(
        [](const std::unique_ptr<sys::Thread>& thread) { return thread->wait(0); });
}

std::shared_ptr<CameraCore> H264Camera::core() const {
    const std::lock_guard<std::mutex> guard(m_lock);
    return m_core;
}

bool H264Camera::running() const {
    const std::lock_guard<std::mutex> guard(m_lock);
    return m_running;
}

BoundPorts H264Camera::ports() const {
    const std::lock_guard<std::mutex> guard(m_lock);
    return m_running ? m_ports : BoundPorts{};
}

std::string H264Camera::lastError() const {
    const std::lock_guard<std::mutex> guard(m_lock);
    return m_lastError;
}

} // namespace camsim
