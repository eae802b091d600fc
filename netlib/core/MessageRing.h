#pragma once

#include "core/NetMessage.h"

#include <array>
#include <mutex>
#include <optional>

namespace zq {

// Fixed ring of 101 messages between threads, as every channel thread uses it.
//
// Read and write positions start at the middle slot. At most 100 messages are unread at once:
// a post to a full ring is refused (returns false) so an unread message is never overwritten.
// The quit code is the one message that must not be lost; a full ring keeps one slot back for
// it, so posting quit always succeeds.
class MessageRing {
public:
    static constexpr int kSlots = 101;

    MessageRing();

    bool post(const NetMessage& message);
    bool post(int32_t code, intptr_t param1 = 0, intptr_t param2 = 0);
    std::optional<NetMessage> take();
    int pending() const;
    void clear();

private:
    int unreadLocked() const { return (m_write - m_read + kSlots) % kSlots; }

    mutable std::mutex m_lock;
    std::array<NetMessage, kSlots> m_slots{}; // guarded by m_lock
    int m_read;                               // guarded by m_lock
    int m_write;                              // guarded by m_lock
};

} // namespace zq
