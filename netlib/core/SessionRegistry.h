#pragma once

#include "zqnet/zqtypes.h"

#include <memory>
#include <mutex>
#include <unordered_map>

namespace zq {

// Anything a handle can stand for.
class RegisteredSession {
public:
    virtual ~RegisteredSession() = default;
    // Stops every thread of the session with bounded waits. Called once.
    virtual void close() = 0;
};

// Maps handles to live sessions. Calls find their session here, so a call with an unknown or
// already closed handle does nothing instead of touching freed memory, and a call that races
// a close keeps the session alive until it returns.
class SessionRegistry {
public:
    static SessionRegistry& instance();

    NetHandle* add(int32_t type, std::shared_ptr<RegisteredSession> session);
    // A handle with no session (type 2, or a session that could not be built).
    NetHandle* addEmpty(int32_t type);
    bool known(NetHandle* handle) const;
    std::shared_ptr<RegisteredSession> find(NetHandle* handle) const;
    template <typename T> std::shared_ptr<T> findAs(NetHandle* handle) const {
        return std::dynamic_pointer_cast<T>(find(handle));
    }
    // Forgets the handle and returns its session (may be null); false when the handle is
    // unknown. The handle itself is freed.
    bool remove(NetHandle* handle, std::shared_ptr<RegisteredSession>& session);

private:
    mutable std::mutex m_lock;
    std::unordered_map<NetHandle*, std::shared_ptr<RegisteredSession>> m_sessions; // by m_lock
};

} // namespace zq
