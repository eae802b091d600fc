#pragma once

// "Now" for recording: the local wall time that names files, dates rows and places the minute of
// the day in the weekly plan, and the millisecond tick that measures recordings. Both come from
// one object so tests can put the recorder at a day change or a plan boundary without waiting.

#include <cstdint>

namespace Device {

struct LocalTime {
    int year = 1970;
    int month = 1; // 1 … 12
    int day = 1;   // 1 … 31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int dayOfWeek = 4; // 0 = Sunday, as the plan's day columns count
};

// Implementations are called from the frame thread, the record thread and the UI thread at once.
class RecordClock {
public:
    virtual ~RecordClock() = default;
    virtual LocalTime localNow() const = 0;
    // Milliseconds of a monotonic clock, 32 bits; compare by unsigned difference only.
    virtual uint32_t tickMs() const = 0;
};

// The system's local time zone and sys::tickMs().
const RecordClock& systemRecordClock();

} // namespace Device
