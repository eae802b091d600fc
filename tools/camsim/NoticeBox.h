#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <utility>
#include <vector>

namespace camsim {

// Packets waiting to go out on one control connection (alarm and motion notices), posted by any
// thread and taken by the connection's own thread. Bounded: when a client stops reading, the
// oldest notices make room for new ones.
class NoticeBox {
public:
    static constexpr size_t kCapacity = 64;

    void post(std::vector<uint8_t> packet) {
        const std::lock_guard<std::mutex> guard(m_lock);
        if (m_packets.size() >= kCapacity) {
            m_packets.pop_front();
        }
        m_packets.push_back(std::move(packet));
    }

    std::deque<std::vector<uint8_t>> takeAll() {
        const std::lock_guard<std::mutex> guard(m_lock);
        return std::exchange(m_packets, {});
    }

private:
    std::mutex m_lock;
    std::deque<std::vector<uint8_t>> m_packets; // guarded by m_lock
};

} // namespace camsim
