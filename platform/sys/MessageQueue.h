#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

namespace sys {

// The code that tells a worker thread to end, as the quit message does on the desktop.
inline constexpr int kQuitCode = 18;

struct ThreadMessage {
    int code = 0;
    intptr_t param1 = 0;
    intptr_t param2 = 0;
};

// A thread's own message queue: any thread posts, the owning thread takes or peeks.
// Bounded so a stalled consumer cannot grow memory without limit: a post to a full queue is
// refused (returns false) rather than dropping an older, unread message. The quit code is always
// accepted so a stop request can never be lost.
class MessageQueue {
public:
    explicit MessageQueue(size_t capacity = 1024);

    bool post(const ThreadMessage& message);
    // Waits up to `timeoutMs` for a message.
    std::optional<ThreadMessage> take(unsigned timeoutMs);
    // Takes a message if one is waiting, without blocking.
    std::optional<ThreadMessage> peek();
    size_t size() const;

private:
    const size_t m_capacity;
    mutable std::mutex m_lock;
    std::condition_variable m_posted;
    std::deque<ThreadMessage> m_messages; // guarded by m_lock
};

} // namespace sys
