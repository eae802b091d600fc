#pragma once

#include <cstdint>

namespace sys {

// Milliseconds of a monotonic clock, truncated to 32 bits. Wraps after about 49.7 days,
// so compare ticks only by unsigned difference: `tickMs() - start >= timeoutMs`.
uint32_t tickMs();

// Milliseconds elapsed since `startMs`, correct across one wrap of the tick.
inline uint32_t elapsedMs(uint32_t startMs) {
    return tickMs() - startMs;
}

void sleepMs(unsigned ms);

} // namespace sys
