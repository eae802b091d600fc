#include "device/record/RecordRescan.h"

#include "avi/AviRepair.h"
#include "common/AppLog.h"
#include "db/Failure.h"
#include "db/Statements.h"
#include "device/record/RecordNames.h"

#include <set>
#include <system_error>

namespace Device {

namespace fs = std::filesystem;

namespace {

constexpr const char* kRescan = "Device::rescanRecordFolders";
constexpr std::string_view kFolderPrefix = "Recordfiles_";
constexpr std::string_view kSideSuffix = "_idx";

class Rescan {
public:
    Rescan(sqlite3x::sqlite3_connection& connection, const RescanOptions& options)
        : m_connection(connection), m_options(options) {}

    void root(const fs::path& root);
    const RescanReport& report() const { return m_report; }
    bool cancelled() const { return m_options.cancelled && m_options.cancelled(); }

private:
    void cameraFolder(const fs::path& folder, const std::string& suffix);
    void recording(const fs::path& folder, const std::string& suffix, const std::string& name,
                   const db::RecordFileRow& row, bool hasSideFile);
    // Runs `work` under the database lock; false when it raised (reported on standard error).
    template <typename Work> bool withDatabase(Work work, bool write);

    sqlite3x::sqlite3_connection& m_connection;
    const RescanOptions& m_options;
    RescanReport m_report;
};

template <typename Work> bool Rescan::withDatabase(Work work, bool write) {
    std::unique_lock<std::mutex> guard;
    if (m_options.databaseLock != nullptr)
        guard = std::unique_lock(*m_options.databaseLock);
    return write ? db::inTransaction(m_connection, work) : db::guarded(work);
}

// The names of the plain entries (no links) of a folder; empty when it cannot be read.
std::vector<std::pair<std::string, fs::file_type>> entriesOf(const fs::path& folder) {
    std::vector<std::pair<std::string, fs::file_type>> entries;
    std::error_code error;
    fs::directory_iterator it(folder, error);
    for (const fs::directory_iterator end; !error && it != end; it.increment(error)) {
        std::error_code typeError;
        const fs::file_status status = it->symlink_status(typeError);
        if (!typeError)
            entries.emplace_back(utf8Path(it->path().filename()), status.type());
    }
    return entries;
}

void Rescan::root(const fs::path& root) {
    for (const auto& [name, type] : entriesOf(root)) {
        if (cancelled())
            return;
        if (type != fs::file_type::directory ||
            name.compare(0, kFolderPrefix.size(), kFolderPrefix) != 0)
            continue;
        const std::string suffix = name.substr(kFolderPrefix.size());
        if (!isRecordFolderSuffix(suffix))
            continue;
        ++m_report.cameraFolders;
        // Built as the recorder builds it, so the file names in the rows are spelled alike.
        cameraFolder(recordFolder(root, suffix), suffix);
    }
}

void Rescan::cameraFolder(const fs::path& folder, const std::string& suffix) {
    const auto entries = entriesOf(folder);
    std::set<std::string> names;
    for (const auto& entry : entries)
        names.insert(entry.first);
    for (const auto& [name, type] : entries) {
        if (cancelled())
            return;
        if (type != fs::file_type::regular)
            continue;
        const std::optional<ParsedRecordName> parsed = parseRecordFileName(name);
        if (!parsed)
            continue;
        ++m_report.recordings;
        const db::RecordFileRow row{suffix, utf8Path(folder / pathFromUtf8(name)), parsed->kind,
                                    parsed->fileDate};
        recording(folder, suffix, name, row, names.count(name + std::string(kSideSuffix)) > 0);
    }
}

void Rescan::recording(const fs::path& folder, const std::string& suffix, const std::string& name,
                       const db::RecordFileRow& row, bool hasSideFile) {
    const fs::path path = folder / pathFromUtf8(name);
    if (OpenRecordings::instance().contains(path)) {
        ++m_report.skippedOpen;
        return;
    }
    bool known = false;
    if (!withDatabase([&] { known = db::recordFileExists(m_connection, suffix, row.filename); },
                      false)) {
        ++m_report.failed;
        return;
    }
    // A side file left beside a recording means it was never finished, even if a row for it
    // exists (its close failed); a file without a row may be one a crash cut.
    if (hasSideFile || !known) {
        AviRepairReport repair;
        const AviRepairResult result = aviRepair(row.filename.c_str(), &repair);
        if (result == AviRepairResult::Repaired) {
            ++m_report.repaired;
            LOG_WRITE(m_options.appLog, kRescan,
                      "repaired " + row.filename + ": " + std::to_string(repair.videoFrames) +
                          " video frames, " + std::to_string(repair.audioChunks) + " audio blocks");
        } else if (result != AviRepairResult::AlreadyComplete) {
            // Entered all the same: the disk clean-up only ever removes files the table lists.
            LOG_WRITE(m_options.appLog, kRescan,
                      "cannot repair " + row.filename + ": " + aviRepairResultName(result));
        }
    }
    if (known)
        return;
    if (withDatabase([&] { db::insertRecordFile(m_connection, row); }, true)) {
        ++m_report.inserted;
    } else {
        ++m_report.failed;
        LOG_WRITE(m_options.appLog, kRescan, "DATABASE FAIL");
    }
}

} // namespace

RescanReport rescanRecordFolders(sqlite3x::sqlite3_connection& connection,
                                 const std::vector<std::string>& recordPaths,
                                 const RescanOptions& options) {
    Rescan rescan(connection, options);
    for (const std::string& root : recordPaths) {
        if (rescan.cancelled())
            break;
        if (!root.empty())
            rescan.root(pathFromUtf8(root));
    }
    return rescan.report();
}

} // namespace Device
