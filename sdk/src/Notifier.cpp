#include "Notifier.h"

#include "Heap.h"

#include "sys/Diag.h"
#include "sys/MessageQueue.h"
#include "sys/Tick.h"

#include <cstring>

namespace moltrex {

Notifier::Notifier(const Target& target, uint32_t retryIntervalMs, uint32_t retries)
    : m_target(target), m_retryIntervalMs(retryIntervalMs), m_retries(retries < 1 ? 1 : retries) {}

bool Notifier::post(unsigned message, MO_WPARAM wParam, MO_LPARAM lParam, Owned owned) const {
    if (m_target.window == 0 && m_target.thread == 0 && m_target.callback != nullptr) {
        m_target.callback(message, wParam, lParam);
        return true;
    }
    const uintptr_t queueAddress = m_target.window != 0 ? m_target.window : m_target.thread;
    if (queueAddress != 0) {
        auto* queue = reinterpret_cast<sys::MessageQueue*>(queueAddress);
        const sys::ThreadMessage posted{static_cast<int>(message), static_cast<intptr_t>(wParam),
                                        lParam};
        for (uint32_t attempt = 0; attempt < m_retries; ++attempt) {
            if (attempt > 0)
                sys::sleepMs(m_retryIntervalMs);
            if (queue->post(posted))
                return true;
        }
        sys::diag("moltrex: message %u not delivered after %u attempts", message, m_retries);
    }
    const auto bits = static_cast<unsigned>(owned);
    if (bits & static_cast<unsigned>(Owned::WParam))
        heap::release(reinterpret_cast<void*>(wParam));
    if (bits & static_cast<unsigned>(Owned::LParam))
        heap::release(reinterpret_cast<void*>(lParam));
    return false;
}

bool Notifier::postForCamera(unsigned message, const char* cameraId, MO_LPARAM lParam,
                             bool lParamOwned) const {
    char* id = heap::copyId(std::string_view(cameraId, strnlen(cameraId, 12)));
    if (id == nullptr) {
        if (lParamOwned)
            heap::release(reinterpret_cast<void*>(lParam));
        return false;
    }
    return post(message, reinterpret_cast<MO_WPARAM>(id), lParam,
                lParamOwned ? Owned::Both : Owned::WParam);
}

} // namespace moltrex
