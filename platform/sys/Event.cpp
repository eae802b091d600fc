#include "sys/Event.h"

#include <chrono>

namespace sys {

Event::Event(Reset mode, bool initiallySet) : m_mode(mode), m_set(initiallySet) {}

void Event::set() {
    {
        std::lock_guard lock(m_lock);
        m_set = true;
    }
    if (m_mode == Reset::Manual)
        m_changed.notify_all();
    else
        m_changed.notify_one();
}

void Event::reset() {
    std::lock_guard lock(m_lock);
    m_set = false;
}

bool Event::isSet() const {
    std::lock_guard lock(m_lock);
    return m_set;
}

bool Event::wait(unsigned timeoutMs) {
    std::unique_lock lock(m_lock);
    if (!m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_set; }))
        return false;
    if (m_mode == Reset::Auto)
        m_set = false;
    return true;
}

} // namespace sys
