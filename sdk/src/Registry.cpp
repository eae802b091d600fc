#include "Registry.h"

#include "Session.h"

#include "moltrex/moltrex.h"

#include "sys/Tick.h"

#include <cstring>

namespace moltrex {

namespace {

// Made on first use and never destroyed: a thread that overran its stop wait at exit may still
// reach it.
std::atomic<Registry*> g_registry{nullptr};

// Ends what still runs when the process exits or the library is unloaded, so no library thread
// calls into a host that is tearing itself down. A library that was never used has nothing to
// end and makes nothing.
struct ExitGuard {
    ~ExitGuard() {
        if (Registry* registry = g_registry.load())
            registry->shutdown(2000);
    }
} g_exitGuard;

} // namespace

Registry& Registry::instance() {
    static Registry* const registry = [] {
        auto* made = new Registry;
        g_registry.store(made);
        return made;
    }();
    return *registry;
}

std::map<std::string, std::shared_ptr<Session>>& Registry::mapOf(SessionKind kind) {
    return kind == SessionKind::Management ? m_management : m_monitors;
}

// Joins the workers whose threads have finished. Their bodies returned already, so each join
// is immediate; a worker still on its way out (or the caller's own thread) waits for a later
// round.
void Registry::reapLocked() {
    if (m_closing)
        return; // shutdown() joins them itself
    for (auto it = m_ended.begin(); it != m_ended.end();) {
        if ((*it)->thread().wait(0))
            it = m_ended.erase(it);
        else
            ++it;
    }
}

int16_t Registry::startSession(const std::shared_ptr<Session>& session) {
    std::lock_guard guard(m_lock);
    reapLocked();
    if (m_closing)
        return MO_ERR_START;
    auto& sessions = mapOf(session->kind());
    if (sessions.count(session->id()) != 0)
        return MO_ERR_BUSY;
    sessions.emplace(session->id(), session);
    if (!session->start()) {
        sessions.erase(session->id());
        return MO_ERR_START;
    }
    return MO_OK;
}

int16_t Registry::post(SessionKind kind, const char* id, std::unique_ptr<Request> request) {
    std::lock_guard guard(m_lock);
    auto& sessions = mapOf(kind);
    const auto found = sessions.find(std::string(id, strnlen(id, MO_ID_SIZE)));
    if (found == sessions.end())
        return MO_ERR_BUSY;
    return found->second->post(std::move(request)) ? MO_OK : MO_ERR_START;
}

int16_t Registry::stop(SessionKind kind, const char* id) {
    std::lock_guard guard(m_lock);
    reapLocked();
    auto& sessions = mapOf(kind);
    const auto found = sessions.find(std::string(id, strnlen(id, MO_ID_SIZE)));
    if (found == sessions.end())
        return MO_ERR_BUSY;
    found->second->requestStop();
    return MO_OK;
}

void Registry::sessionEnded(const std::shared_ptr<Session>& session) {
    std::lock_guard guard(m_lock);
    auto& sessions = mapOf(session->kind());
    const auto found = sessions.find(session->id());
    if (found != sessions.end() && found->second == session)
        sessions.erase(found);
    m_ended.push_back(session);
}

bool Registry::startJob(const std::shared_ptr<Worker>& job, const char* threadName,
                        sys::Thread::Body body) {
    std::lock_guard guard(m_lock);
    reapLocked();
    if (m_closing)
        return false;
    if (!job->thread().start(threadName, std::move(body)))
        return false;
    m_jobs.push_back(job);
    return true;
}

void Registry::jobEnded(const std::shared_ptr<Worker>& job) {
    std::lock_guard guard(m_lock);
    std::erase(m_jobs, job);
    m_ended.push_back(job);
}

void Registry::shutdown(unsigned waitMs) {
    std::vector<std::shared_ptr<Worker>> workers;
    {
        std::lock_guard guard(m_lock);
        m_closing = true;
        for (auto* sessions : {&m_management, &m_monitors}) {
            for (auto& [id, session] : *sessions) {
                session->requestStop();
                workers.push_back(session);
            }
        }
        for (auto& job : m_jobs) {
            job->thread().requestCancel();
            workers.push_back(job);
        }
        workers.insert(workers.end(), m_ended.begin(), m_ended.end());
    }
    // Outside the lock: ending threads take it to leave the maps.
    const uint32_t start = sys::tickMs();
    for (auto& worker : workers) {
        const uint32_t spent = sys::elapsedMs(start);
        worker->thread().stop(spent < waitMs ? waitMs - spent : 0);
    }
    std::lock_guard guard(m_lock);
    m_ended.clear();
}

} // namespace moltrex
