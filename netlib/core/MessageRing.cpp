#include "core/MessageRing.h"

namespace zq {

MessageRing::MessageRing() : m_read(kSlots / 2), m_write(kSlots / 2) {}

bool MessageRing::post(const NetMessage& message) {
    std::lock_guard lock(m_lock);
    // kSlots - 1 unread messages fill the ring; one fewer for everything but quit, so the
    // last free slot is kept for a stop request.
    const int limit = message.code == kMsgQuit ? kSlots - 1 : kSlots - 2;
    if (unreadLocked() >= limit)
        return false;
    m_slots[m_write] = message;
    m_write = (m_write + 1) % kSlots;
    return true;
}

bool MessageRing::post(int32_t code, intptr_t param1, intptr_t param2) {
    NetMessage message;
    message.code = code;
    message.param1 = param1;
    message.param2 = param2;
    return post(message);
}

std::optional<NetMessage> MessageRing::take() {
    std::lock_guard lock(m_lock);
    if (unreadLocked() == 0)
        return std::nullopt;
    NetMessage message = m_slots[m_read];
    m_read = (m_read + 1) % kSlots;
    return message;
}

int MessageRing::pending() const {
    std::lock_guard lock(m_lock);
    return unreadLocked();
}

void MessageRing::clear() {
    std::lock_guard lock(m_lock);
    m_read = m_write;
}

} // namespace zq
