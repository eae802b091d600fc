#pragma once

// The event log: the operator-visible history of operations and recording events. Each event is
// a row of the database's `log` table and a record of the list of the 100 newest events the main
// window shows; when the table grows past 100 000 rows it is moved into a text file.

#include <cstddef>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace sqlite3x {
class sqlite3_connection;
}

namespace client {

// Event types.
constexpr int kEventTypeSystem = 11;    // schedule recording
constexpr int kEventTypeAlarm = 12;     // alarm recording
constexpr int kEventTypeOperation = 13; // operator actions

// Event codes.
enum EventCode {
    kEventOpenVideo = 1,
    kEventCloseVideo = 2,
    kEventOpenAudio = 3,
    kEventCloseAudio = 4,
    kEventStartRecord = 5,
    kEventStopRecord = 6,
    kEventCapture = 7,
    kEventStartTalk = 8,
    kEventStopTalk = 9,
    kEventScheduleStart = 10,
    kEventScheduleStop = 11,
    kEventAlarmStart = 12,
    kEventAlarmStop = 13,
    kEventRecordPathError = 14,
};

// The language key under which the event list shows `code`; empty for an unknown code.
const char* eventTextKey(int code);

// One record of the recent-event list, in its fixed layout: texts cut to fit, always ended.
struct RecentEvent {
    char host[81];
    char event[41];
    char time[41];
    char remark[41];
    char user[41];
};
static_assert(sizeof(RecentEvent) == 245);

class EventLog {
public:
    static constexpr size_t kRecentCapacity = 100;

    // `databaseLock` is the program's lock around event-log writes; `currentUser` names the
    // operator logged in now.
    EventLog(sqlite3x::sqlite3_connection& database, std::mutex& databaseLock,
             std::function<std::string()> currentUser);

    // Records one event: a row of the table and a record of the recent list. A database failure
    // is reported on standard error; the list still gets the event.
    void eventLog(const std::string& host, int eventCode, int type, const std::string& remark);

    // The recent list, newest first.
    std::vector<RecentEvent> recent() const;
    // Called (on the writing thread) after each event, to refresh the list control.
    void setListener(std::function<void()> onChange);

private:
    sqlite3x::sqlite3_connection& database_;
    std::mutex& databaseLock_;
    std::function<std::string()> currentUser_;
    mutable std::mutex listLock_;
    std::deque<RecentEvent> recent_; // oldest first
    std::function<void()> onChange_;
};

// The local time as the log writes it: "%d-%.2d-%.2d %.2d:%.2d:%.2d".
std::string eventTime();

struct RolloverResult {
    bool rolledOver = false;
    long long exported = 0;     // rows moved into the file
    std::filesystem::path file; // the text file, when one was written
};

// Moves the log table into "<autoLogPath>/IPcamera Logs/<local time>.txt" when it holds more
// than `threshold` rows, one line "ip---event---time---kind---user" per row. A row leaves the
// table only after its line is on disk; when the file cannot be made nothing is deleted.
RolloverResult rollOverEventLog(sqlite3x::sqlite3_connection& database, std::mutex& databaseLock,
                                const std::filesystem::path& autoLogPath,
                                long long threshold = 100000);

// Copies `text` into `field` of `size` bytes, ended, cut at a character boundary of UTF-8.
void copyField(char* field, size_t size, const std::string& text);

} // namespace client
