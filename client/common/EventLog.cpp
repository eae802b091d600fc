#include "EventLog.h"

#include "PrivateFile.h"

#include "db/Failure.h"
#include "db/Statements.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace client {

namespace {

namespace fs = std::filesystem;

// Rows moved per round: their lines reach the disk before they leave the table.
constexpr int kRolloverBatch = 1000;

std::tm localNow() {
    const std::time_t now = std::time(nullptr);
    std::tm fields{};
    localtime_r(&now, &fields);
    return fields;
}

std::string archiveName() {
    const std::tm t = localNow();
    char name[96];
    std::snprintf(name, sizeof name, "%.4d%.2d%.2d%.2d%.2d%.2d.txt", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return name;
}

std::string kindWord(int type) {
    switch (type) {
    case kEventTypeSystem:
        return "systemlog";
    case kEventTypeAlarm:
        return "alarmlog";
    case kEventTypeOperation:
        return "operatelog";
    default:
        return std::to_string(type); // a row of unknown kind keeps what it said
    }
}

std::string archiveLine(const db::LogRow& row) {
    return row.ip + "---" + row.event + "---" + row.time + "---" + kindWord(row.type) + "---" +
           row.user + "\r\n";
}

// Writes one batch and makes it durable; false when the disk refused any of it.
bool writeDurably(std::FILE* file, const std::vector<db::LogRow>& rows) {
    for (const db::LogRow& row : rows) {
        const std::string line = archiveLine(row);
        if (std::fwrite(line.data(), 1, line.size(), file) != line.size()) {
            return false;
        }
    }
    return std::fflush(file) == 0 && fsync(fileno(file)) == 0;
}

} // namespace

const char* eventTextKey(int code) {
    static const char* const kKeys[] = {"",
                                        "cpp_openvidio",
                                        "cpp_closevidio",
                                        "cpp_openaudio",
                                        "cpp_closeaudio",
                                        "cpp_startrecord",
                                        "cpp_stoprecord",
                                        "cpp_capture",
                                        "cpp_starttalk",
                                        "cpp_stoptalk",
                                        "Log_Ssch",
                                        "Log_Csch",
                                        "Log_Salarm",
                                        "Log_Calarm",
                                        "cpp_recordpatherror"};
    return code > 0 && code < static_cast<int>(std::size(kKeys)) ? kKeys[code] : "";
}

void copyField(char* field, size_t size, const std::string& text) {
    size_t length = std::min(text.size(), size - 1);
    // Step back over continuation bytes so a character is never cut in two.
    if (length < text.size()) {
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xc0) == 0x80) {
            --length;
        }
    }
    std::memcpy(field, text.data(), length);
    std::memset(field + length, 0, size - length);
}

std::string eventTime() {
    const std::tm t = localNow();
    char text[96];
    std::snprintf(text, sizeof text, "%d-%.2d-%.2d %.2d:%.2d:%.2d", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

EventLog::EventLog(sqlite3x::sqlite3_connection& database, std::mutex& databaseLock,
                   std::function<std::string()> currentUser)
    : database_(database), databaseLock_(databaseLock), currentUser_(std::move(currentUser)) {}

void EventLog::eventLog(const std::string& host, int eventCode, int type,
                        const std::string& remark) {
    db::LogRow row;
    row.ip = host;
    row.event = std::to_string(eventCode);
    row.time = eventTime();
    row.type = type;
    row.remark = remark;
    row.user = currentUser_ ? currentUser_() : std::string();
    {
        std::lock_guard guard(databaseLock_);
        db::inTransaction(database_, [&] { db::insertLog(database_, row); });
    }
    RecentEvent record;
    copyField(record.host, sizeof record.host, row.ip);
    copyField(record.event, sizeof record.event, row.event);
    copyField(record.time, sizeof record.time, row.time);
    copyField(record.remark, sizeof record.remark, row.remark);
    copyField(record.user, sizeof record.user, row.user);
    std::function<void()> notify;
    {
        std::lock_guard guard(listLock_);
        if (recent_.size() >= kRecentCapacity) {
            recent_.pop_front();
        }
        recent_.push_back(record);
        notify = onChange_;
    }
    if (notify) {
        notify();
    }
}

std::vector<RecentEvent> EventLog::recent() const {
    std::lock_guard guard(listLock_);
    return {recent_.rbegin(), recent_.rend()};
}

void EventLog::setListener(std::function<void()> onChange) {
    std::lock_guard guard(listLock_);
    onChange_ = std::move(onChange);
}

RolloverResult rollOverEventLog(sqlite3x::sqlite3_connection& database, std::mutex& databaseLock,
                                const fs::path& autoLogPath, long long threshold) {
    RolloverResult result;
    long long rows = 0;
    {
        std::lock_guard guard(databaseLock);
        if (!db::guarded([&] { rows = db::countLogs(database); }) || rows <= threshold) {
            return result;
        }
    }
    const fs::path folder = autoLogPath / "IPcamera Logs";
    std::error_code error;
    fs::create_directories(folder, error);
    const fs::path path = folder / archiveName();
    std::FILE* file = createPrivateFile(path);
    if (file == nullptr) {
        std::fprintf(stderr, "event log: cannot create %s; the rows stay in the table\n",
                     path.c_str());
        return result;
    }
    result.rolledOver = true;
    result.file = path;
    // Only the rows there were when the move began: events keep arriving meanwhile.
    while (result.exported < rows) {
        std::lock_guard guard(databaseLock);
        std::vector<db::LogRow> batch;
        const int wanted =
            static_cast<int>(std::min<long long>(kRolloverBatch, rows - result.exported));
        if (!db::guarded([&] { batch = db::selectOldestLogs(database, wanted); }) ||
            batch.empty() || !writeDurably(file, batch)) {
            break;
        }
        if (!db::inTransaction(database, [&] {
                for (const db::LogRow& row : batch) {
                    db::deleteLogById(database, row.id);
                }
            })) {
            break; // the lines are in the file twice at worst, never lost
        }
        result.exported += static_cast<long long>(batch.size());
    }
    std::fclose(file);
    return result;
}

} // namespace client
