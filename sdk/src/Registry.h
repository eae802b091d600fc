#pragma once

#include "Worker.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace moltrex {

class Session;
struct Request;

enum class SessionKind { Management, Monitor };

// The process-wide state: the maps of sessions keyed by camera id (one management and one monitor
// session per camera), the search/set-up flag, and the workers whose threads ended and wait to
// be joined.
//
// m_lock is the one critical section of the library; it guards both maps and the list of ended
// workers. It is never held while a notification is delivered or a thread is waited for longer
// than a join of a thread that already finished.
class Registry {
public:
    static Registry& instance();

    // MO_OK, MO_ERR_BUSY when a session of that kind exists for the id, MO_ERR_START when its
    // thread cannot start.
    int16_t startSession(const std::shared_ptr<Session>& session);
    // Hands `request` to the session's thread. MO_ERR_BUSY when there is no such session,
    // MO_ERR_START when its queue refused.
    int16_t post(SessionKind kind, const char* id, std::unique_ptr<Request> request);
    // Asks the session to end (cancel flag and quit message); MO_ERR_BUSY when there is none.
    int16_t stop(SessionKind kind, const char* id);
    // Called by a session's own thread as it ends: the id is free again from here on.
    void sessionEnded(const std::shared_ptr<Session>& session);

    // The interlocked search/set-up flag: false when one already runs.
    bool beginSearch() { return !m_searching.exchange(true); }
    void endSearch() { m_searching.store(false); }
    // Starts a search or set-up worker (already holding the flag); false when the thread fails.
    bool startJob(const std::shared_ptr<Worker>& job, const char* threadName,
                  sys::Thread::Body body);
    void jobEnded(const std::shared_ptr<Worker>& job);

    // Set once the process exits: nothing is delivered to the host any more.
    bool closing() const { return m_closing.load(); }
    // Ends every session and job with a bounded wait. Called at exit.
    void shutdown(unsigned waitMs);

private:
    Registry() = default;
    void reapLocked();
    std::map<std::string, std::shared_ptr<Session>>& mapOf(SessionKind kind);

    std::mutex m_lock;
    std::map<std::string, std::shared_ptr<Session>> m_management; // guarded by m_lock
    std::map<std::string, std::shared_ptr<Session>> m_monitors;   // guarded by m_lock
    std::vector<std::shared_ptr<Worker>> m_jobs;                  // guarded by m_lock
    std::vector<std::shared_ptr<Worker>> m_ended;                 // guarded by m_lock
    std::atomic<bool> m_searching{false};
    std::atomic<bool> m_closing{false};
};

} // namespace moltrex
