#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <limits>

namespace camsim {

// Misbehaviour a test (or the console) switches on to exercise a client's error paths. Read by
// every connection thread of one camera; each switch is a single atomic, so no lock is needed.
class Faults {
public:
    // Media stops flowing (live and playback) while the connections stay open and keep reading.
    void stallFor(uint32_t ms) { m_stallUntilMs = nowMs() + ms; }
    void setStalled(bool on) { m_stallUntilMs = on ? std::numeric_limits<int64_t>::max() : 0; }
    bool stalled() const { return nowMs() < m_stallUntilMs.load(); }

    // Every open connection (control, media, HTTP) closes; later ones are served normally.
    void dropAll() { ++m_dropGeneration; }
    uint32_t dropGeneration() const { return m_dropGeneration.load(); }

    // A few bytes without the packet magic go out before every packet.
    std::atomic<bool> garbage{false};
    // Every packet goes out one byte per write, with short pauses in its header.
    std::atomic<bool> byteByByte{false};
    // Logins and CGI requests are answered as if the password were wrong.
    std::atomic<bool> refuseLogins{false};
    // HTTP answers wait this long before they are sent.
    std::atomic<uint32_t> httpDelayMs{0};

private:
    static int64_t nowMs() {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }

    std::atomic<int64_t> m_stallUntilMs{0};
    std::atomic<uint32_t> m_dropGeneration{0};
};

} // namespace camsim
