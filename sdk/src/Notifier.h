#pragma once

#include "moltrex/moltrex.h"

#include <cstdint>

namespace moltrex {

// Where a search, set-up or session reports: a window, a thread and a callback, of which the
// first non-zero one is used.
struct Target {
    MO_WINDOW window = 0;
    MO_THREAD thread = 0;
    MO_CALLBACK callback = nullptr;

    bool valid() const { return window != 0 || thread != 0 || callback != nullptr; }
};

// Which parameters of a notification are library heap records, freed when delivery fails.
enum class Owned : unsigned { None = 0, WParam = 1, LParam = 2, Both = 3 };

// Delivers notifications to one target. Window and thread targets are sys::MessageQueue
// addresses: a post the queue refuses is tried again every `retryIntervalMs`, `retries` times in
// all; a callback is simply called. Used by one thread at a time (the worker that owns it).
class Notifier {
public:
    Notifier(const Target& target, uint32_t retryIntervalMs, uint32_t retries);

    // True when delivered. When not, the owned records are freed here.
    bool post(unsigned message, MO_WPARAM wParam, MO_LPARAM lParam, Owned owned) const;

    // 22xx/23xx notifications: a heap copy of the camera id in wParam.
    bool postForCamera(unsigned message, const char* cameraId, MO_LPARAM lParam,
                       bool lParamOwned) const;

private:
    Target m_target;
    uint32_t m_retryIntervalMs;
    uint32_t m_retries;
};

} // namespace moltrex
