#pragma once

// A camera's weekly plan as the record thread uses it. Each day column of table `recordplan`
// holds "%u,%u,%u-%u,%u,%u": three 32-bit words of schedule bits, then three of alarm bits. Bit i
// of word w is quarter hour q = 32·w + i of the day, minutes 15·q to 15·(q+1). A run of set bits
// from quarter a to quarter b becomes the interval (15·a, 15·(b+1)) in minutes of the day.

#include <array>
#include <cstdint>
#include <mutex>
#include <string_view>
#include <vector>

namespace sqlite3x {
class sqlite3_connection;
}

namespace Device {

struct PlanInterval {
    int startMinute = 0;
    int endMinute = 0;
    bool operator==(const PlanInterval&) const = default;
};

struct DayIntervals {
    std::vector<PlanInterval> schedule;
    std::vector<PlanInterval> alarm;
};

// The six words of a day value. The text is cut at every dash and comma (empty pieces are
// skipped, as the settings page never writes them); each piece is read as a signed 64-bit
// decimal number (leading blanks, a sign, digits up to the first other character; beyond the
// 64-bit range it saturates) of which the low 32 bits are kept. Missing words are 0.
std::array<uint32_t, 6> parseDayWords(std::string_view text);

// The runs of set bits of three words, in quarter order; a run may cross a word boundary.
std::vector<PlanInterval> intervalsOfWords(const std::array<uint32_t, 3>& words);

DayIntervals dayIntervals(std::string_view text);

// Whether `minute` lies strictly inside one of the intervals: a minute on a boundary is outside.
bool insideAny(const std::vector<PlanInterval>& intervals, int minute);

// Reads day `dayOfWeek` (0 = Sunday) of the camera with `mac` under `databaseLock` (may be null).
// No plan row, and a failed read (reported on standard error), give empty lists.
DayIntervals loadDayIntervals(sqlite3x::sqlite3_connection* connection, std::mutex* databaseLock,
                              int dayOfWeek, std::string_view mac);

} // namespace Device
