#pragma once

#include <condition_variable>
#include <mutex>

namespace sys {

// A settable flag others can wait on, with a bounded wait. Manual-reset events stay set until
// reset(); auto-reset events release one waiter and clear themselves.
class Event {
public:
    enum class Reset { Manual, Auto };

    explicit Event(Reset mode = Reset::Manual, bool initiallySet = false);

    void set();
    void reset();
    bool isSet() const;
    // True when the event was (or became) set within `timeoutMs`.
    bool wait(unsigned timeoutMs);

private:
    const Reset m_mode;
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_set; // guarded by m_lock
};

} // namespace sys
