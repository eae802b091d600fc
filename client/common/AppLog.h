#pragma once

// The application log: a diagnostic text file per program run, into which the media, recording
// and disk code write lines tagged with the source file, the function and the line number.
//
//   [2026-12-08:16:58:10.123][line 42 at CPubFun::GetRecPath(PubFun.cpp)] message
//
// Times are UTC. Any thread may write; every call lands as one whole line. Lines go to disk as
// they are written, so the log of a run that crashed is complete up to the crash.

#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

namespace client {

class AppLog {
public:
    // Opens "CMS_<UTC time with milliseconds>.log" in `folder` when the folder exists; without
    // the folder there is no log (it is never created: an operator turns logging on by making
    // it). Null when there is no log.
    static std::unique_ptr<AppLog> open(const std::filesystem::path& folder);
    ~AppLog();
    AppLog(const AppLog&) = delete;
    AppLog& operator=(const AppLog&) = delete;

    void write(int line, const char* sourceFile, const std::string& message, const char* function);
    const std::filesystem::path& path() const { return path_; }

private:
    AppLog(std::FILE* file, std::filesystem::path path) : file_(file), path_(std::move(path)) {}

    std::mutex lock_;
    std::FILE* file_;
    std::filesystem::path path_;
};

// The log folder of a data folder: "log" beside the database.
inline std::filesystem::path appLogFolder(const std::filesystem::path& dataFolder) {
    return dataFolder / "log";
}

// Writes one line when `log` is on (not null). `sourceFile` may be a full path; the line shows
// its file name only.
void logWrite(int line, const char* sourceFile, AppLog* log, const std::string& message,
              const char* functionName);

// The file name of a log started at `utcMilliseconds` since the epoch.
std::string logFileName(long long utcMilliseconds);

// Whether `name` is one of our log files: "CMS", an underscore, digits, ".log".
bool isLogFileName(const std::string& name);

// Deletes our older log files in `folder`, keeping the newest `keep` (by the time in their
// names) and never `current`. Returns how many were deleted.
int removeOldLogs(const std::filesystem::path& folder, const std::filesystem::path& current,
                  size_t keep);

} // namespace client

// LOG_WRITE(log, "CPubFun::GetRecPath", message)
#define LOG_WRITE(log, function, message)                                                          \
    ::client::logWrite(__LINE__, __FILE__, (log), (message), (function))
