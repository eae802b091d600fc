#pragma once

#include <mutex>
#include <shared_mutex>

namespace zq {

// Lets the library's threads call into the caller only while the session is open.
//
// Threads deliver under a shared lock, so callbacks of different threads run side by side;
// close() takes the lock exclusively, waits for a callback in progress, and from then on drops
// every delivery. This keeps a thread that overran its stop wait from calling a caller that
// has already freed its state.
class CallbackGate {
public:
    template <typename Fn> bool deliver(Fn&& fn) {
        std::shared_lock lock(m_lock);
        if (m_closed)
            return false;
        fn();
        return true;
    }

    void close() {
        std::unique_lock lock(m_lock);
        m_closed = true;
    }

private:
    std::shared_mutex m_lock;
    bool m_closed = false; // guarded by m_lock
};

} // namespace zq
