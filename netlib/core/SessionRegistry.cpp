#include "core/SessionRegistry.h"

#include <new>

namespace zq {

SessionRegistry& SessionRegistry::instance() {
    static SessionRegistry registry;
    return registry;
}

NetHandle* SessionRegistry::add(int32_t type, std::shared_ptr<RegisteredSession> session) {
    auto* handle = new (std::nothrow) NetHandle{type, session.get()};
    if (!handle)
        return nullptr;
    std::lock_guard lock(m_lock);
    m_sessions.emplace(handle, std::move(session));
    return handle;
}

NetHandle* SessionRegistry::addEmpty(int32_t type) {
    return add(type, nullptr);
}

bool SessionRegistry::known(NetHandle* handle) const {
    std::lock_guard lock(m_lock);
    return m_sessions.count(handle) != 0;
}

std::shared_ptr<RegisteredSession> SessionRegistry::find(NetHandle* handle) const {
    std::lock_guard lock(m_lock);
    const auto it = m_sessions.find(handle);
    return it == m_sessions.end() ? nullptr : it->second;
}

bool SessionRegistry::remove(NetHandle* handle, std::shared_ptr<RegisteredSession>& session) {
    {
        std::lock_guard lock(m_lock);
        const auto it = m_sessions.find(handle);
        if (it == m_sessions.end())
            return false;
        session = std::move(it->second);
        m_sessions.erase(it);
    }
    delete handle;
    return true;
}

} // namespace zq
