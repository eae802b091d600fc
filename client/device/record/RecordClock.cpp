#include "device/record/RecordClock.h"

#include "sys/Tick.h"

#include <ctime>

namespace Device {

namespace {

class SystemRecordClock final : public RecordClock {
public:
    LocalTime localNow() const override {
        const std::time_t now = std::time(nullptr);
        std::tm fields{};
        localtime_r(&now, &fields);
        return {fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday, fields.tm_hour,
                fields.tm_min,         fields.tm_sec,     fields.tm_wday};
    }
    uint32_t tickMs() const override { return sys::tickMs(); }
};

} // namespace

const RecordClock& systemRecordClock() {
    static const SystemRecordClock clock;
    return clock;
}

} // namespace Device
