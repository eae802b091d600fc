#include "AppLog.h"

#include "PrivateFile.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <vector>

namespace client {

namespace {

namespace fs = std::filesystem;

struct UtcTime {
    std::tm fields{};
    int milliseconds = 0;
};

UtcTime utcTime(long long millisecondsSinceEpoch) {
    UtcTime time;
    const std::time_t seconds = static_cast<std::time_t>(millisecondsSinceEpoch / 1000);
    gmtime_r(&seconds, &time.fields);
    time.milliseconds = static_cast<int>(millisecondsSinceEpoch % 1000);
    return time;
}

long long nowMilliseconds() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

const char* baseName(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

} // namespace

std::string logFileName(long long utcMilliseconds) {
    const UtcTime t = utcTime(utcMilliseconds);
    char name[96];
    std::snprintf(name, sizeof name, "CMS_%04d%02d%02d%02d%02d%02d%03d.log",
                  t.fields.tm_year + 1900, t.fields.tm_mon + 1, t.fields.tm_mday, t.fields.tm_hour,
                  t.fields.tm_min, t.fields.tm_sec, t.milliseconds);
    return name;
}

bool isLogFileName(const std::string& name) {
    const size_t underscore = name.find('_');
    const size_t dot = name.rfind('.');
    if (underscore == std::string::npos || dot == std::string::npos || dot <= underscore + 1) {
        return false;
    }
    if (name.compare(0, underscore, "CMS") != 0 ||
        name.compare(dot, std::string::npos, ".log") != 0) {
        return false;
    }
    return std::all_of(name.begin() + static_cast<long>(underscore) + 1,
                       name.begin() + static_cast<long>(dot),
                       [](char c) { return c >= '0' && c <= '9'; });
}

std::unique_ptr<AppLog> AppLog::open(const fs::path& folder) {
    std::error_code error;
    if (!fs::is_directory(folder, error)) {
        return nullptr;
    }
    fs::path path = folder / logFileName(nowMilliseconds());
    std::FILE* file = createPrivateFile(path);
    if (file == nullptr) {
        return nullptr;
    }
    return std::unique_ptr<AppLog>(new AppLog(file, std::move(path)));
}

AppLog::~AppLog() {
    std::fclose(file_);
}

void AppLog::write(int line, const char* sourceFile, const std::string& message,
                   const char* function) {
    const UtcTime t = utcTime(nowMilliseconds());
    char stamp[96];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d:%02d:%02d:%02d.%03d",
                  t.fields.tm_year + 1900, t.fields.tm_mon + 1, t.fields.tm_mday, t.fields.tm_hour,
                  t.fields.tm_min, t.fields.tm_sec, t.milliseconds);
    // The whole line is formed first and written with one call under the lock, so lines of
    // different threads never interleave.
    std::string text = "[" + std::string(stamp) + "][line " + std::to_string(line) + " at " +
                       (function != nullptr ? function : "") + "(" +
                       baseName(sourceFile != nullptr ? sourceFile : "") + ")] " + message + "\r\n";
    std::lock_guard guard(lock_);
    std::fwrite(text.data(), 1, text.size(), file_);
    std::fflush(file_);
}

void logWrite(int line, const char* sourceFile, AppLog* log, const std::string& message,
              const char* functionName) {
    if (log != nullptr) {
        log->write(line, sourceFile, message, functionName);
    }
}

int removeOldLogs(const fs::path& folder, const fs::path& current, size_t keep) {
    std::vector<fs::path> logs;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file(error) && isLogFileName(name) &&
            entry.path().filename() != current.filename()) {
            logs.push_back(entry.path());
        }
    }
    // The names carry the start time with fixed width: name order is age order.
    std::sort(logs.begin(), logs.end(), [](const fs::path& a, const fs::path& b) {
        return a.filename().string() > b.filename().string();
    });
    int removed = 0;
    for (size_t i = keep; i < logs.size(); ++i) {
        removed += fs::remove(logs[i], error) ? 1 : 0;
    }
    return removed;
}

} // namespace client
