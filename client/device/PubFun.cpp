#include "device/PubFun.h"

#include "common/AppLog.h"
#include "db/Statements.h"
#include "db/sqlite3x.h"
#include "device/Disk.h"
#include "device/RecordPaths.h"
#include "sys/DataFolder.h"
#include "sys/Tick.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <set>

namespace client {
namespace {

namespace fs = std::filesystem;

std::string format(const char* text, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* text, ...) {
    va_list args;
    va_start(args, text);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, text, args);
    va_end(args);
    std::string line(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0)
        std::vsnprintf(line.data(), line.size() + 1, text, again);
    va_end(again);
    return line;
}

// Waits `ms` on the worker's queue, so the quit code of a stop ends the wait at once. False when
// the worker is asked to stop.
bool idle(sys::WorkerContext& context, unsigned ms) {
    const uint32_t start = sys::tickMs();
    while (!context.cancelled()) {
        const uint32_t elapsed = sys::elapsedMs(start);
        if (elapsed >= ms)
            return true;
        context.queue().take(ms - elapsed);
    }
    return false;
}

bool onSameDrive(const fs::path& a, const fs::path& b) {
    const auto driveA = disk::driveOf(a);
    return driveA && driveA == disk::driveOf(b);
}

} // namespace

#define PUBFUN_LOG(function, ...) LOG_WRITE(m_log, function, format(__VA_ARGS__))

CPubFun::CPubFun(sqlite3x::sqlite3_connection& database, std::mutex& databaseLock, AppLog* log,
                 PubFunOptions options)
    : m_database(database), m_databaseLock(databaseLock), m_log(log),
      m_options(std::move(options)) {}

CPubFun::~CPubFun() {
    StopWatch();
    // A watch that overran its stop still works on this object: it must end first.
    if (sys::WorkerContext* context = m_watch.context()) {
        while (!context->waitFinished(1000)) {
        }
    }
}

bool CPubFun::IsEnoughFreeDisk(const std::string& path, uint32_t extra) {
    if (path.empty())
        return false;
    std::optional<disk::DiskSpace> space;
    {
        std::lock_guard probe(m_probeLock);
        if (disk::canCreateIn(path, kProbeFileName))
            space = disk::querySpace(path);
    }
    if (!space) {
        PUBFUN_LOG("CPubFun::IsEnoughFreeDisk", "Disk not exist or no write privilege");
        return false;
    }
    if (!disk::isAboveFloor(space->freeBytes, extra)) {
        PUBFUN_LOG("CPubFun::IsEnoughFreeDisk",
                   "DISK %s STATUS:TOT BYTES=%lld, TOT FREE BYTES=%lld", path.c_str(),
                   static_cast<long long>(space->totalBytes),
                   static_cast<long long>(space->freeBytes));
        return false;
    }
    return true;
}

bool CPubFun::GetRecPath(std::string& newPath) {
    std::lock_guard serial(m_recPathLock);
    // Plenty of room implies enough, and either way the folder stays: one look suffices, and a
    // disk between 256 and 512 MiB free does not write a status line every second.
    if (IsEnoughFreeDisk(GetRecordPath(), 0))
        return true;
    const std::string other = FindOtherPath();
    PUBFUN_LOG("CPubFun::GetRecPath", "m_bcontinuedel=%d, bEnoughFreeDisk=%d, path=%s",
               m_bcontinuedel ? 1 : 0, other.empty() ? 0 : 1, other.c_str());
    // Once the clean-up has started on the current disk it goes on there, rather than jumping
    // to a folder that merely has room now.
    if (!m_bcontinuedel && !other.empty())
        newPath = other;
    else
        DeleteOldFileLocked(newPath);
    return !newPath.empty();
}

std::string CPubFun::FindOtherPath() {
    std::vector<std::string> names;
    if (!Database("CPubFun::GetRecPath", false,
                  [&] { names = db::selectRecordFileNamesOldestFirst(m_database); }))
        return {};
    const std::vector<std::string> folders = RecordFolders();
    // Only the disks of configured folders matter; the scan ends once each of them is known to
    // hold a recording, so a large table is not walked to its end for nothing.
    std::set<uint64_t> undecided;
    for (const std::string& folder : folders) {
        if (const auto drive = disk::driveOf(folder))
            undecided.insert(*drive);
    }
    std::set<uint64_t> withRecordings;
    for (const std::string& name : names) {
        if (undecided.empty())
            break;
        if (!findFolder(recordRootOf(name), folders) ||
            disk::presence(name) == disk::Presence::Missing)
            continue;
        const auto drive = disk::driveOf(name);
        if (drive && undecided.erase(*drive) > 0)
            withRecordings.insert(*drive);
    }
    for (const std::string& folder : folders) {
        const auto drive = disk::driveOf(folder);
        if (drive && withRecordings.count(*drive) > 0)
            continue;
        if (IsEnoughFreeDisk(folder, 0))
            return folder;
    }
    return {};
}

void CPubFun::DeleteOldFile(std::string& newPath) {
    std::lock_guard serial(m_recPathLock);
    DeleteOldFileLocked(newPath);
}

void CPubFun::DeleteOldFileLocked(std::string& newPath) {
    int total = 0;
    if (!Database("CPubFun::DeleteOldFile", false,
                  [&] { total = db::countRecordFiles(m_database); }))
        return;
    const std::vector<std::string> folders = RecordFolders();
    std::string candidate = GetRecordPath();
    int removedRows = 0;
    for (long long page = 0; page * db::kRecordFilePage < total; ++page) {
        // Rows removed by earlier pages moved the later ones forward.
        const int offset = static_cast<int>(page * db::kRecordFilePage) - removedRows;
        if (!DeleteOldFilePage(offset, folders, candidate, removedRows, newPath))
            return;
    }
}

bool CPubFun::DeleteOldFilePage(int offset, const std::vector<std::string>& folders,
                                std::string& candidate, int& removedRows, std::string& newPath) {
    bool goOn = true;
    // A failed page is rolled back while the files it deleted stay deleted; their rows go as
    // rows of missing files on the next pass.
    const bool committed = Database("CPubFun::DeleteOldFile", true, [&] {
        const std::vector<std::string> names =
            db::selectRecordFileNamePage(m_database, offset, db::kRecordFilePage);
        sqlite3x::sqlite3_command forget(m_database, "delete from recordfile where filename=?;");
        auto forgetRow = [&](const std::string& name) {
            forget.bind(1, name);
            forget.executenonquery();
            ++removedRows;
        };
        std::vector<const std::string*> present;
        for (const std::string& name : names) {
            if (disk::presence(name) == disk::Presence::Missing)
                forgetRow(name);
            else
                present.push_back(&name);
        }
        for (const std::string* name : present) {
            if (m_stopping) {
                goOn = false;
                return;
            }
            // The file is deleted by the cleaned-up name, whose root was checked: a name with
            // ".." in it cannot point the delete elsewhere.
            const fs::path file = comparablePath(*name);
            const fs::path root = recordRootOf(file);
            const std::string* folder = findFolder(root, folders);
            if (folder == nullptr)
                continue;
            bool room = false;
            if (onSameDrive(*name, candidate)) {
                candidate = *folder;
                room = IsEnoughFreeDisk(candidate, kPlentyExtraBytes);
            } else {
                // The oldest recording left is on another disk: the candidate may do with
                // enough room; if not, the clean-up moves to that other disk.
                room = IsEnoughFreeDisk(candidate, 0);
                m_bcontinuedel = false;
                if (!room)
                    candidate = *folder;
            }
            PUBFUN_LOG("CPubFun::DeleteOldFile", "bEnoughFreeDisk=%d, m_bcontinuedel=%d",
                       room ? 1 : 0, m_bcontinuedel ? 1 : 0);
            if (room) {
                newPath = candidate;
                PUBFUN_LOG("CPubFun::DeleteOldFile", "FREE DISK FINISH, Destination Path=%s",
                           candidate.c_str());
                goOn = false;
                return;
            }
            m_bcontinuedel = true;
            PUBFUN_LOG("CPubFun::DeleteOldFile", "DELETE FILE %s FROM DISK", name->c_str());
            const bool deleted = disk::removeRecording(root, file);
            PUBFUN_LOG("CPubFun::DeleteOldFile", "DELETE FILE FINISH: ret=%d", deleted ? 1 : 0);
            // A file that cannot be deleted is forgotten all the same, so the next pass does not
            // stall on it.
            forgetRow(*name);
            PUBFUN_LOG("CPubFun::DeleteOldFile", "REMOVE %s FROM DATABASE:", name->c_str());
        }
    });
    return committed && goOn;
}

bool CPubFun::StartWatch() {
    if (m_watch.running())
        return false;
    // A watch that overran an earlier stop may still be running on this object.
    if (sys::WorkerContext* context = m_watch.context(); context && !context->waitFinished(0))
        return false;
    m_stopping = false;
    return m_watch.start("DiskWatch",
                         [this](sys::WorkerContext& context) { WatchThread(context); });
}

bool CPubFun::StopWatch(unsigned timeoutMs) {
    m_stopping = true;
    const bool stopped = m_watch.stop(timeoutMs);
    if (stopped)
        m_stopping = false;
    return stopped;
}

void CPubFun::WatchThread(sys::WorkerContext& context) {
    while (idle(context, m_options.watchPeriodMs)) {
        const std::string previous = GetRecordPath();
        std::string found;
        const bool ok = GetRecPath(found);
        bEnoughFreeDisk = ok || !found.empty();
        if (!found.empty()) {
            PUBFUN_LOG("CPubFun::WatchThread", "FOUND PATH:%s", found.c_str());
            SetRecordPath(found);
            SaveRecordPathToDb(found);
            SelectPathfromDB();
            const std::string current = GetRecordPath();
            if (!IsEnoughFreeDisk(current, 0)) {
                PUBFUN_LOG("CPubFun::WatchThread", "NOT ENOUGH DISK SPACE");
                continue;
            }
            if (current != previous) {
                // Recordings already open finish their second or two before sessions move.
                if (!idle(context, m_options.changePauseMs))
                    break;
                PUBFUN_LOG("CPubFun::WatchThread", "CHANGE DISK SUCCESS:%s==>%s", previous.c_str(),
                           current.c_str());
                UpdateSessionRecordPaths(current);
            }
        } else if (!ok) {
            // Sessions keep being told while there is no room, so recordings closed by the
            // gate start again in new files once it opens.
            UpdateSessionRecordPaths(GetRecordPath());
        }
    }
}

bool CPubFun::SelectPathfromDB() {
    std::optional<db::PathRow> row;
    if (!Database("CPubFun::SelectPathfromDB", false, [&] { row = db::selectPaths(m_database); }))
        return false;
    std::vector<std::string> folders;
    if (row) {
        std::lock_guard guard(m_pathsLock);
        m_autoLogPath = row->autologpath;
        m_picturePath = row->picturepath;
        folders = splitRecordPaths(row->recordpath);
    }
    if (folders.empty() && !m_options.fallbackRecordFolder.empty()) {
        std::error_code ignored; // a folder that cannot be made shows up as having no room
        sys::makePrivateFolder(m_options.fallbackRecordFolder, ignored);
        folders.push_back(m_options.fallbackRecordFolder.string());
    }
    if (!SelectRecordPathFromDb())
        return false;
    if (!folders.empty() && !findFolder(GetRecordPath(), folders)) {
        SetRecordPath(folders.front());
        return SaveRecordPathToDb(folders.front());
    }
    return true;
}

bool CPubFun::SelectRecordPathFromDb() {
    std::string value;
    if (!Database("CPubFun::SelectRecordPathFromDb", false,
                  [&] { value = db::selectConfig(m_database, "recordpath"); }))
        return false;
    SetRecordPath(value);
    return true;
}

bool CPubFun::SaveRecordPathToDb(const std::string& path) {
    return Database("CPubFun::SaveRecordPathToDb", true,
                    [&] { db::updateConfig(m_database, "recordpath", path); });
}

std::string CPubFun::SelectConfigFromDb(const std::string& key) {
    std::string value;
    Database("CPubFun::SelectConfigFromDb", false,
             [&] { value = db::selectConfig(m_database, key); });
    return value;
}

bool CPubFun::SaveConfigToDb(const std::string& key, const std::string& value) {
    return Database("CPubFun::SaveConfigToDb", true,
                    [&] { db::updateConfig(m_database, key, value); });
}

std::vector<std::string> CPubFun::SelectRecordPathListFromDb() {
    std::optional<db::PathRow> row;
    Database("CPubFun::SelectRecordPathListFromDb", false,
             [&] { row = db::selectPathRow(m_database); });
    return row ? splitRecordPaths(row->recordpath) : std::vector<std::string>{};
}

std::vector<std::string> CPubFun::RecordFolders() {
    std::vector<std::string> folders = SelectRecordPathListFromDb();
    if (folders.empty() && !m_options.fallbackRecordFolder.empty())
        folders.push_back(m_options.fallbackRecordFolder.string());
    return folders;
}

std::string CPubFun::GetRecordPath() const {
    std::lock_guard guard(m_pathsLock);
    return m_recordPath;
}

std::string CPubFun::GetAutoLogPath() const {
    std::lock_guard guard(m_pathsLock);
    return m_autoLogPath;
}

std::string CPubFun::GetPicturePath() const {
    std::lock_guard guard(m_pathsLock);
    return m_picturePath;
}

void CPubFun::SetRecordPath(const std::string& path) {
    std::lock_guard guard(m_pathsLock);
    m_recordPath = path;
}

void CPubFun::AddOpenSession(Device::RecordPathListener* session) {
    std::lock_guard guard(m_sessionLock);
    if (session != nullptr &&
        std::find(m_sessions.begin(), m_sessions.end(), session) == m_sessions.end())
        m_sessions.push_back(session);
}

void CPubFun::RemoveOpenSession(Device::RecordPathListener* session) {
    std::unique_lock guard(m_sessionLock);
    std::erase(m_sessions, session);
    // A session removing itself from inside its own call must not wait for that call.
    m_sessionCallEnded.wait(guard, [&] {
        return m_calling != session || m_callingThread == std::this_thread::get_id();
    });
}

void CPubFun::UpdateSessionRecordPaths(const std::string& recordRoot) {
    std::vector<Device::RecordPathListener*> sessions;
    {
        std::lock_guard guard(m_sessionLock);
        sessions = m_sessions;
    }
    // Sessions are called without the lock (they take their own locks, and may remove
    // themselves); m_calling lets RemoveOpenSession wait until a call into its session is over.
    struct CallMark {
        CPubFun& self;
        ~CallMark() {
            {
                std::lock_guard guard(self.m_sessionLock);
                self.m_calling = nullptr;
            }
            self.m_sessionCallEnded.notify_all();
        }
    };
    for (Device::RecordPathListener* session : sessions) {
        {
            std::lock_guard guard(m_sessionLock);
            if (std::find(m_sessions.begin(), m_sessions.end(), session) == m_sessions.end())
                continue;
            m_calling = session;
            m_callingThread = std::this_thread::get_id();
        }
        const CallMark mark{*this};
        session->ChangeRecordPath(recordRoot);
    }
}

bool CPubFun::Database(const char* function, bool change, const std::function<void()>& work) {
    bool ok = false;
    {
        std::lock_guard guard(m_databaseLock);
        ok = change ? db::inTransaction(m_database, work) : db::guarded(work);
    }
    if (!ok)
        LOG_WRITE(m_log, function, "DATABASE FAIL");
    return ok;
}

} // namespace client
