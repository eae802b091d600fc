#pragma once

#include <cstdint>

namespace moltrex {

// The library's timers, limits and search addresses. Every session, search and set-up takes a
// copy when it starts, so a change never reaches work already running. The defaults are the
// camera family's; tests shorten the long timers and point the search at loopback.
struct Tuning {
    // Search and set-up: where the request goes and the local port answers come to.
    // 0xFFFFFFFF is the limited broadcast. Host order.
    uint32_t searchAddress = 0xFFFFFFFFu;
    uint16_t searchPort = 10000;
    uint16_t searchLocalPort = 10000;
    uint32_t maxSearchWaitMs = 60000;
    uint32_t maxSearchAnswers = 1024;
    uint32_t searchWaitsPerSearch = 10; // the whole search ends after this many time-outs

    uint32_t postRetryIntervalMs = 10;
    uint32_t postRetries = 1000;

    uint32_t connectTimeoutMs = 5000;
    uint32_t loginTimeoutMs = 10000;
    uint32_t sendTimeoutMs = 10000;
    uint32_t keepAliveMs = 60000;

    uint32_t videoLoginRetryMs = 1000;
    uint32_t videoGiveUpMs = 30000;
    uint32_t countersIntervalMs = 1000;
    uint32_t reorderSpan = 40;   // 10 ms units: 400 ms
    uint32_t reorderJump = 1000; // 10 ms units: a jump of 10 s empties the buffer
    uint32_t maxBufferedFrames = 256;
    uint32_t maxBufferedBytes = 8u << 20;
    uint32_t soundBlocks = 11;
};

// The current settings: the defaults with MOLTREX_SEARCH_ADDRESS and MOLTREX_SEARCH_LOCAL_PORT
// applied, unless setTuning() replaced them.
Tuning tuning();
// For tests; takes effect for work started afterwards.
void setTuning(const Tuning& value);
// Back to the defaults and the environment.
void resetTuning();

} // namespace moltrex
