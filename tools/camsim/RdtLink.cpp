#include "RdtLink.h"

#include "iotc/iotc.h"

#include "sys/Tick.h"

#include <algorithm>
#include <climits>

namespace camsim {

namespace {
// Back-pressure is polled: the library offers no wait for its send queue to drain.
constexpr int kQueuePollMs = 5;
} // namespace

RdtLink::RdtLink(int rdtId, int sessionId, int channel)
    : m_rdtId(rdtId), m_sessionId(sessionId), m_channel(channel) {}

RdtLink::~RdtLink() {
    close();
}

int RdtLink::receive(uint8_t* buffer, size_t size, int waitMs) {
    if (m_rdtId < 0) {
        return -1;
    }
    const uint32_t start = sys::tickMs();
    const int wait = std::max(waitMs, 0);
    const int got = RDT_Read(m_rdtId, reinterpret_cast<char*>(buffer),
                             static_cast<int>(std::min<size_t>(size, INT_MAX)), wait);
    if (got > 0) {
        return got;
    }
    if (got == 0 || got == RDT_ER_TIMEOUT || got == RDT_ER_REMOTE_NOT_READY) {
        // A "not ready" answer may come at once; the caller asked to wait, and a loop around this
        // call must not spin.
        const uint32_t spent = sys::elapsedMs(start);
        if (spent < static_cast<uint32_t>(wait)) {
            sys::sleepMs(static_cast<uint32_t>(wait) - spent);
        }
        return 0;
    }
    return -1; // remote exit, session closed, or an id the library no longer knows
}

int64_t RdtLink::queuedBytes() const {
    RdtStatus status{};
    if (RDT_Status_Check(m_rdtId, &status) < 0) {
        return -1;
    }
    return status.sendQueued;
}

int RdtLink::send(const uint8_t* data, size_t length, int waitMs) {
    if (m_rdtId < 0) {
        return -1;
    }
    const uint32_t start = sys::tickMs();
    for (;;) {
        const int64_t queued = queuedBytes();
        if (queued < 0) {
            return -1;
        }
        if (queued <= kMaxQueuedBytes) {
            break;
        }
        if (sys::elapsedMs(start) >= static_cast<uint32_t>(std::max(waitMs, 0))) {
            return 0;
        }
        sys::sleepMs(kQueuePollMs);
    }
    const int chunk = static_cast<int>(std::min<size_t>(length, kRdtMaxWrite));
    const int wrote = RDT_Write(m_rdtId, reinterpret_cast<const char*>(data), chunk);
    if (wrote >= 0) {
        return wrote;
    }
    return wrote == RDT_ER_SEND_QUEUE_FULL ? 0 : -1;
}

void RdtLink::close() {
    if (m_rdtId >= 0) {
        RDT_Destroy(m_rdtId);
        m_rdtId = -1;
    }
}

std::string RdtLink::peer() const {
    return "session " + std::to_string(m_sessionId) + " channel " + std::to_string(m_channel);
}

} // namespace camsim
