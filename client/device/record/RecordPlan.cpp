#include "device/record/RecordPlan.h"

#include "db/Failure.h"
#include "db/Statements.h"

#include <cctype>
#include <climits>
#include <optional>
#include <string>

namespace Device {

namespace {

constexpr int kQuartersPerDay = 96;
constexpr int kMinutesPerQuarter = 15;

// What the settings page's 64-bit reading of a number gives: blanks, a sign, digits; saturated.
int64_t readInt64(std::string_view piece) {
    size_t at = 0;
    while (at < piece.size() && std::isspace(static_cast<unsigned char>(piece[at])))
        ++at;
    bool negative = false;
    if (at < piece.size() && (piece[at] == '+' || piece[at] == '-')) {
        negative = piece[at] == '-';
        ++at;
    }
    // Accumulated as a negative number so INT64_MIN itself fits.
    int64_t value = 0;
    for (; at < piece.size() && piece[at] >= '0' && piece[at] <= '9'; ++at) {
        const int digit = piece[at] - '0';
        if (value < (INT64_MIN + digit) / 10)
            return negative ? INT64_MIN : INT64_MAX;
        value = value * 10 - digit;
    }
    if (negative)
        return value;
    return value == INT64_MIN ? INT64_MAX : -value;
}

bool quarterSet(const std::array<uint32_t, 3>& words, int quarter) {
    return (words[static_cast<size_t>(quarter / 32)] >> (quarter % 32) & 1u) != 0;
}

} // namespace

std::array<uint32_t, 6> parseDayWords(std::string_view text) {
    std::array<uint32_t, 6> words{};
    size_t filled = 0;
    size_t start = 0;
    while (filled < words.size() && start < text.size()) {
        size_t end = text.find_first_of("-,", start);
        if (end == std::string_view::npos)
            end = text.size();
        if (end > start)
            words[filled++] = static_cast<uint32_t>(
                static_cast<uint64_t>(readInt64(text.substr(start, end - start))));
        start = end + 1;
    }
    return words;
}

std::vector<PlanInterval> intervalsOfWords(const std::array<uint32_t, 3>& words) {
    std::vector<PlanInterval> intervals;
    int quarter = 0;
    while (quarter < kQuartersPerDay) {
        if (!quarterSet(words, quarter)) {
            ++quarter;
            continue;
        }
        const int first = quarter;
        while (quarter < kQuartersPerDay && quarterSet(words, quarter))
            ++quarter;
        intervals.push_back({first * kMinutesPerQuarter, quarter * kMinutesPerQuarter});
    }
    return intervals;
}

DayIntervals dayIntervals(std::string_view text) {
    const std::array<uint32_t, 6> words = parseDayWords(text);
    return {intervalsOfWords({words[0], words[1], words[2]}),
            intervalsOfWords({words[3], words[4], words[5]})};
}

bool insideAny(const std::vector<PlanInterval>& intervals, int minute) {
    for (const PlanInterval& interval : intervals) {
        if (interval.startMinute < minute && minute < interval.endMinute)
            return true;
    }
    return false;
}

DayIntervals loadDayIntervals(sqlite3x::sqlite3_connection* connection, std::mutex* databaseLock,
                              int dayOfWeek, std::string_view mac) {
    if (connection == nullptr || dayOfWeek < 0 || dayOfWeek > 6)
        return {};
    std::optional<std::string> day;
    {
        std::unique_lock<std::mutex> guard;
        if (databaseLock != nullptr)
            guard = std::unique_lock(*databaseLock);
        db::guarded([&] { day = db::selectDayString(*connection, dayOfWeek, mac); });
    }
    return day ? dayIntervals(*day) : DayIntervals{};
}

} // namespace Device
