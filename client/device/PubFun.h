#pragma once

// The record-disk guard: where recordings go, and keeping that disk from filling up.
//
// One object per process, made by the main window at start-up. Its watch thread looks at the
// current record folder once a second; when that disk drops to 256 MiB free it moves recording
// to another configured record folder that has room and holds no recordings yet, or else deletes
// the oldest recordings until a disk has more than 512 MiB free. `bEnoughFreeDisk` is the gate
// every recording start and every recorded frame checks.
//
// Locks, always taken in this order and released before any session is called:
//   m_recPathLock  serialises GetRecPath (and so the clean-up it may run);
//   databaseLock   the program's lock around record-table work, shared with the recorders;
//   m_probeLock    one free-space probe at a time (they share one probe file name);
//   m_pathsLock    the folder strings below;
//   m_sessionLock  the open-session registry.

#include "device/RecordPathListener.h"
#include "sys/Thread.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sqlite3x {
class sqlite3_connection;
}

namespace client {

class AppLog;

struct PubFunOptions {
    unsigned watchPeriodMs = 1000; // between two looks at the disk
    unsigned changePauseMs = 2000; // after moving to another folder, before sessions follow
    // The record folder when the database configures none (the data folder's "records"); it is
    // then the one configured folder. Empty: none.
    std::filesystem::path fallbackRecordFolder;
};

// The record folder of a data folder, used when no record folder is configured.
inline std::filesystem::path defaultRecordFolder(const std::filesystem::path& dataFolder) {
    return dataFolder / "records";
}

class CPubFun {
public:
    // IsEnoughFreeDisk's `extra` that asks for plenty of room (512 MiB) rather than enough.
    static constexpr uint32_t kPlentyExtraBytes = 268435456;
    // The name of the file that proves a record folder can be written.
    static constexpr const char* kProbeFileName = "checkfilelevel.text";

    // `database`, `databaseLock` and `log` (may be null: no log) must outlive this object.
    CPubFun(sqlite3x::sqlite3_connection& database, std::mutex& databaseLock, AppLog* log,
            PubFunOptions options = {});
    // Stops the watch; waits for it however long it takes, since it works on this object.
    ~CPubFun();
    CPubFun(const CPubFun&) = delete;
    CPubFun& operator=(const CPubFun&) = delete;

    // Recording allowed. Written by the watch thread only; frame and record threads read it
    // without any lock. Open until the first look says otherwise.
    std::atomic<bool> bEnoughFreeDisk{true};

    // Whether a file can be created in `path` and its disk has more than `extra` + 256 MiB
    // free. An empty, missing or read-only folder has no room.
    bool IsEnoughFreeDisk(const std::string& path, uint32_t extra);

    // True when the current record folder has enough room. Otherwise finds a folder that has:
    // another configured folder, or room made by DeleteOldFile; `newPath` is then that folder
    // and the result is true. False with `newPath` untouched when nothing has room.
    bool GetRecPath(std::string& newPath);

    // Deletes recordings, oldest first, from configured record folders until the disk being
    // cleaned has more than 512 MiB free (or, once the oldest recordings left lie on another
    // disk, the folder in hand has enough), and sets `newPath` to that folder; untouched when
    // no room could be made. Rows of recordings that are gone are dropped on the way. Only files <record folder>/<camera folder>/<file>
    // under a configured folder are ever deleted.
    void DeleteOldFile(std::string& newPath);

    // Starts the watch thread; false when it runs already or could not start.
    bool StartWatch();
    // Stops it within `timeoutMs`; false when it overran (it then ends on its own, see ~CPubFun).
    bool StopWatch(unsigned timeoutMs = 2000);

    // Reads the `path` row (log and picture folders, record folders) and the current record
    // folder; when the current folder is not a configured one, the first configured folder
    // becomes current and is stored. False on a database failure.
    bool SelectPathfromDB();
    // Reads the current record folder from the configuration. False on a database failure.
    bool SelectRecordPathFromDb();
    // Stores `path` as the current record folder in the configuration (not in this object).
    bool SaveRecordPathToDb(const std::string& path);
    // A configuration value; empty when the key has no row or the database fails.
    std::string SelectConfigFromDb(const std::string& key);
    bool SaveConfigToDb(const std::string& key, const std::string& value);
    // The configured record folders, in table order; empty on a database failure.
    std::vector<std::string> SelectRecordPathListFromDb();

    std::string GetRecordPath() const;
    std::string GetAutoLogPath() const;
    std::string GetPicturePath() const;

    // The open-session registry. A session adds itself once when it opens and removes itself
    // when it closes; once RemoveOpenSession returns no call into it is running or will start,
    // so the session may be destroyed.
    void AddOpenSession(Device::RecordPathListener* session);
    void RemoveOpenSession(Device::RecordPathListener* session);

private:
    void WatchThread(sys::WorkerContext& context);
    // A configured folder with enough room whose disk holds no recording; empty when none.
    std::string FindOtherPath();
    // DeleteOldFile with m_recPathLock held.
    void DeleteOldFileLocked(std::string& newPath);
    // One page of the clean-up; false when the walk ends (room found, stop, failure).
    bool DeleteOldFilePage(int offset, const std::vector<std::string>& folders,
                           std::string& candidate, int& removedRows, std::string& newPath);
    // Tells every open session to record under `recordRoot`.
    void UpdateSessionRecordPaths(const std::string& recordRoot);
    // The configured folders, or the fallback folder when none is configured.
    std::vector<std::string> RecordFolders();
    void SetRecordPath(const std::string& path);

    // Runs `work` under the database lock, reporting a failure as "DATABASE FAIL" of
    // `function`; `change` runs it as one transaction.
    bool Database(const char* function, bool change, const std::function<void()>& work);

    sqlite3x::sqlite3_connection& m_database;
    std::mutex& m_databaseLock;
    AppLog* const m_log;
    const PubFunOptions m_options;

    std::mutex m_recPathLock;
    std::atomic<bool> m_bcontinuedel{false}; // set while the clean-up works on the current disk
    std::mutex m_probeLock;

    mutable std::mutex m_pathsLock;
    std::string m_recordPath;  // guarded by m_pathsLock
    std::string m_autoLogPath; // guarded by m_pathsLock
    std::string m_picturePath; // guarded by m_pathsLock

    std::mutex m_sessionLock;
    std::condition_variable m_sessionCallEnded;
    std::vector<Device::RecordPathListener*> m_sessions; // guarded by m_sessionLock
    Device::RecordPathListener* m_calling = nullptr;     // guarded by m_sessionLock
    std::thread::id m_callingThread;                     // guarded by m_sessionLock

    // Set while the watch is asked to stop, so a clean-up in progress ends after its file.
    std::atomic<bool> m_stopping{false};
    sys::Thread m_watch;
};

} // namespace client
