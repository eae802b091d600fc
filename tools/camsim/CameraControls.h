#pragma once

#include "CameraCore.h"
#include "CgiModel.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace camsim {

// What an alarm notice (packet 111) carries, one byte each.
struct AlarmNotice {
    uint8_t state = 1;
    uint8_t secondState = 0;
    uint8_t recordOnAlarm = 0;
    uint8_t durationSeconds = 10;
};

// The notices, fault switches and observers every simulated H.264 camera offers, whatever
// transport brings its clients. They act on the core of the camera's current run, so they are
// harmless before start() and keep reporting the last run after stop(). Thread-safe.
class CameraControls {
public:
    virtual ~CameraControls() = default;

    // Notices to every logged-in control connection; the result is how many received it.
    size_t sendAlarm(const AlarmNotice& alarm);
    size_t sendMotion(int32_t state);

    // Faults (see Faults.h for their effect).
    void stallFor(uint32_t ms);
    void setStalled(bool on);
    void dropConnections();
    void setGarbage(bool on);
    void setByteByByte(bool on);
    void setRefuseLogins(bool on);
    void setHttpDelayMs(uint32_t ms);

    // Observers. Empty or zero before start().
    CameraStats stats() const;
    std::vector<uint8_t> talkBytes() const; // talk audio as received (G.726)
    std::vector<int16_t> talkPcm() const;   // the same, decoded
    std::vector<int32_t> seekTargets() const;
    std::vector<CgiLogEntry> cgiLog() const;
    CgiState cgiState() const;

protected:
    // The core of the current (or last) run; null before the first start().
    virtual std::shared_ptr<CameraCore> core() const = 0;
};

} // namespace camsim
