#pragma once

// The rescan of the record folders: every recording found on disk that the recordfile table
// does not know is entered, so recordings of a run that crashed, of a database that was replaced
// or of another installation show up in playback.
//
// Under each record path, camera folders "Recordfiles_<suffix>" count when the suffix is a UID
// or a dotted IPv4 address; in them, files named as RecordNames.h describes. A recording that
// was cut (the program or the machine stopped while it was written) is rebuilt with aviRepair
// before it is entered, so it plays. Recordings this process is writing now are left alone.

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace sqlite3x {
class sqlite3_connection;
}
namespace client {
class AppLog;
}

namespace Device {

struct RescanOptions {
    std::mutex* databaseLock = nullptr; // the process-wide database lock
    client::AppLog* appLog = nullptr;
    // Polled between files; true ends the rescan early (the program is closing).
    std::function<bool()> cancelled;
};

struct RescanReport {
    int cameraFolders = 0; // folders that name a camera
    int recordings = 0;    // files named as recordings
    int inserted = 0;      // rows entered
    int repaired = 0;      // cut recordings rebuilt
    int skippedOpen = 0;   // being recorded by this process
    int failed = 0;        // rows that could not be read or entered
};

// Scans `recordPaths` (the record folders, e.g. splitRecordPaths of the path row) in order.
// Symbolic links are not followed: the rescan writes to what it repairs.
RescanReport rescanRecordFolders(sqlite3x::sqlite3_connection& connection,
                                 const std::vector<std::string>& recordPaths,
                                 const RescanOptions& options = {});

} // namespace Device
