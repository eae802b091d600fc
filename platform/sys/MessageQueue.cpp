#include "sys/MessageQueue.h"

#include <chrono>

namespace sys {

MessageQueue::MessageQueue(size_t capacity) : m_capacity(capacity) {}

bool MessageQueue::post(const ThreadMessage& message) {
    {
        std::lock_guard lock(m_lock);
        if (m_messages.size() >= m_capacity && message.code != kQuitCode)
            return false;
        m_messages.push_back(message);
    }
    m_posted.notify_one();
    return true;
}

std::optional<ThreadMessage> MessageQueue::take(unsigned timeoutMs) {
    std::unique_lock lock(m_lock);
    if (!m_posted.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [this] { return !m_messages.empty(); }))
        return std::nullopt;
    ThreadMessage message = m_messages.front();
    m_messages.pop_front();
    return message;
}

std::optional<ThreadMessage> MessageQueue::peek() {
    std::lock_guard lock(m_lock);
    if (m_messages.empty())
        return std::nullopt;
    ThreadMessage message = m_messages.front();
    m_messages.pop_front();
    return message;
}

size_t MessageQueue::size() const {
    std::lock_guard lock(m_lock);
    return m_messages.size();
}

} // namespace sys
