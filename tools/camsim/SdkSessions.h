#pragma once

#include "EventSink.h"
#include "Link.h"
#include "NoticeBox.h"
#include "SdkCamera.h"

#include <atomic>
#include <cstdarg>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace camsim {

// What an SDK camera's threads share. Threads hold it by shared_ptr.
struct SdkCore {
    SdkCameraConfig config;
    uint16_t port = 0;
    std::atomic<bool> stopping{false};
    std::vector<std::vector<uint8_t>> jpegs; // one per colour; filled before any thread starts

    mutable std::mutex lock;
    SdkCameraStats stats; // guarded by lock, as is everything below
    std::vector<SdkSetup> setups;
    uint32_t address = 0; // the network the camera reports, host order
    uint32_t mask = 0;
    uint32_t gateway = 0;
    uint32_t dns = 0;
    std::vector<uint8_t> params; // packed, SdkCamera::kParamsBytes
    std::vector<uint8_t> net2;   // SdkCamera::kNet2Bytes
    uint16_t ddnsStatus = 0;
    std::vector<uint8_t> systemFirmware;
    std::vector<uint8_t> applicationFirmware;
    SdkControls controls;
    struct Grant {
        bool video = false;
        bool audio = false;
    };
    std::map<uint32_t, Grant> grants; // by connection id
    uint32_t nextConnectionId = 0x00C0FFEE;
    std::list<std::shared_ptr<NoticeBox>> reportBoxes; // one per logged-in monitor session

    bool stopped() const { return stopping.load(); }

    void event(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        va_list args;
        va_start(args, format);
        emitEvent(config.eventSink, format, args);
        va_end(args);
    }
};

// Serves one accepted TCP connection: its first message says which session it is.
void serveSdkConnection(Link& link, const std::shared_ptr<SdkCore>& core);

} // namespace camsim
