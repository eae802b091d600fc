#include "Channel.h"

#include "CameraCore.h"

#include "sys/Thread.h"
#include "sys/Tick.h"

#include <algorithm>

namespace camsim {

namespace {
// The longest a single wait inside a send or a pause lasts, so a stop is seen promptly.
constexpr int kSliceMs = 20;
// Bytes without the magic, sent before each packet under the garbage fault. The tail is the start
// of the magic, so a receiver that matches the magic greedily is caught out as well.
constexpr uint8_t kGarbage[] = {0xDE, 0xAD, 0xBE, 0xEF, 'Z', 'Q', 'N'};
} // namespace

Channel::Channel(std::shared_ptr<Link> link, CameraCore& core, const sys::WorkerContext& worker)
    : m_link(std::move(link)), m_core(core), m_worker(worker),
      m_dropGeneration(core.faults().dropGeneration()) {}

bool Channel::open() const {
    return !m_broken && !m_core.stopping() && !m_worker.cancelled() &&
           m_core.faults().dropGeneration() == m_dropGeneration;
}

bool Channel::receive(int waitMs) {
    if (!open()) {
        return false;
    }
    if (m_pending.size() >= kMaxPending) {
        pause(static_cast<unsigned>(waitMs));
        return open();
    }
    uint8_t buffer[16384];
    const size_t room = std::min(sizeof buffer, kMaxPending - m_pending.size());
    const int got = m_link->receive(buffer, room, std::min(waitMs, kSliceMs * 5));
    if (got < 0) {
        m_broken = true;
        return false;
    }
    m_pending.insert(m_pending.end(), buffer, buffer + got);
    return open();
}

bool Channel::sendPacket(const std::vector<uint8_t>& packet) {
    Faults& faults = m_core.faults();
    if (faults.garbage && !writeAll(kGarbage, sizeof kGarbage)) {
        return false;
    }
    if (!faults.byteByByte) {
        return writeAll(packet.data(), packet.size());
    }
    for (size_t i = 0; i < packet.size(); ++i) {
        if (!writeAll(&packet[i], 1)) {
            return false;
        }
        // Pauses inside the header split it across the receiver's reads; pausing after every
        // byte of a large frame would make the stream unusably slow.
        if (i < 16) {
            sys::sleepMs(1);
        }
    }
    return true;
}

bool Channel::sendRaw(const uint8_t* data, size_t length) {
    return writeAll(data, length);
}

bool Channel::writeAll(const uint8_t* data, size_t length) {
    size_t sent = 0;
    while (sent < length) {
        if (!open()) {
            return false;
        }
        const int wrote = m_link->send(data + sent, length - sent, kSliceMs);
        if (wrote < 0) {
            m_broken = true;
            return false;
        }
        sent += static_cast<size_t>(wrote);
    }
    return true;
}

void Channel::pause(unsigned ms) const {
    const uint32_t start = sys::tickMs();
    while (open()) {
        const uint32_t elapsed = sys::elapsedMs(start);
        if (elapsed >= ms) {
            return;
        }
        sys::sleepMs(std::min<unsigned>(kSliceMs, ms - elapsed));
    }
}

void Channel::close() {
    m_broken = true;
    m_link->close();
}

} // namespace camsim
