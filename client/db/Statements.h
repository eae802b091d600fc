#pragma once

// The client's statement catalogue: every statement the client runs on its database, grouped by
// the code that runs it. Other client code calls these functions and never writes SQL itself.
//
// Contract of every function here:
//   - It raises sqlite3x::database_error (a std::exception) on failure and reports nothing
//     itself; callers run it inside db::inTransaction() (writes) or db::guarded() (reads), which
//     give the one failure report and roll back. Callers raise database_error themselves, with
//     their own text, to abort a change half done.
//   - A change of several statements (adding, deleting a camera, renaming, deleting an area,
//     purging recordings) opens its own transaction, so it is whole or absent even when called
//     alone; inside a caller's transaction it becomes part of that one.
//   - Text formatted into a statement is quoted (db/SqlText.h); it can never change what the
//     statement does. Column names filled into a statement come from a fixed list.
//   - Text is UTF-8 throughout.

#include "db/Failure.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sqlite3x {
class sqlite3_connection;
}

namespace db {

using sqlite3x::sqlite3_connection;

// ---- Rows --------------------------------------------------------------------------------------

// `user` table. Levels: 1 administrator, 2 operator, 3 visitor; other values count as 3.
struct UserRow {
    int id = 0;
    std::string user;
    std::string pwd;
    int lev = 3;
    std::string oldPwd;
    int bRemember = 0;
};

// `deviceT` table. Type codes: 16 MJPEG, 17 ZY_H264, 18 MJ_5350, 19 HX_H264.
struct DeviceRow {
    int id = 0;
    std::string name;
    std::string ip;
    int webport = 0;
    int mediaport = 0;
    std::string user;
    std::string pwd;
    std::string qy; // area, in stored form ("default" for the default group)
    int type = 0;
    std::string mac;
    std::string uid; // empty for cameras reached by address
};

// What the tree shows of a camera.
struct CameraBrief {
    int id = 0;
    std::string name;
    std::string ip;
    int type = 0;
};

// A camera removed with its area; its sessions and tree nodes are the caller's to close.
struct RemovedCamera {
    int id = 0;
    std::string mac;
};

struct PlanFlags {
    int pEnable = 0;
    int aEnable = 0;
};

// The masks of one day: three 32-bit masks covering the 96 quarter-hours, for schedule and for
// alarm recording. Stored as "%u,%u,%u-%u,%u,%u"; an empty string is a day with nothing planned.
struct DayMasks {
    std::array<uint32_t, 3> schedule{};
    std::array<uint32_t, 3> alarm{};
    bool operator==(const DayMasks&) const = default;
};

struct RecordPlanRow {
    std::array<std::string, 7> days; // day0 … day6
    int pEnable = 0;
    int aEnable = 0;
    std::string mac;
};

struct DayPlan {
    std::string day;
    int pEnable = 0;
    int aEnable = 0;
};

// `path` table. recordpath holds the record folders joined by "|".
struct PathRow {
    std::string autologpath;
    std::string picturepath;
    int logHistory = 0;
    int captureMode = 0;
    std::string recordpath;
};

// `recordfile` table. Kinds: 0 manual, 1 schedule, 2 alarm. filedate is local time
// "%.4d-%.2d-%.2d %.2d:%.2d:%.2d".
struct RecordFileRow {
    std::string ip;
    std::string filename;
    int filetype = 0;
    std::string filedate;
};

// One playback search. `ip` empty: every camera. `from` and `to` empty: no date condition
// (either both or neither is set). Kinds are chosen by index 0, 1, 2.
struct RecordSearch {
    std::string ip;
    std::string from;
    std::string to;
    std::array<bool, 3> kinds{};
};

// `log` table. Types: 11 system, 12 alarm, 13 operation.
struct LogRow {
    long long id = 0;
    std::string ip;
    std::string event;
    std::string time; // local time "%d-%.2d-%.2d %.2d:%.2d:%.2d"
    int type = 0;
    std::string remark;
    std::string user;
};

// The log viewer's filter. `ip` and `user` match as suffixes (empty: all); `type` matches as a
// prefix of the type's digits (1: all, 10: none, 11, 12, 13: that type). Dates are numbers,
// times the "hh:mm:ss" text the operator typed.
struct LogFilter {
    std::string ip;
    std::string user;
    int type = 1;
    int fromYear = 0, fromMonth = 0, fromDay = 0;
    std::string fromTime = "00:00:00";
    int toYear = 0, toMonth = 0, toDay = 0;
    std::string toTime = "23:59:59";
};

// A row of the log viewer's page; mytime is the 14 digits "YYYYMMDDhhmmss".
struct LogViewRow {
    std::string ip;
    std::string event;
    std::string mytime;
    int type = 0;
    std::string remark;
    std::string user;
};

// ---- Login -------------------------------------------------------------------------------------

// Every account in table order (id, user, pwd, lev, oldPwd, bRemember).
std::vector<UserRow> selectLoginUsers(sqlite3_connection& con);
// Remembers the password typed at login and whether to fill it in next time.
void updateRemembered(sqlite3_connection& con, std::string_view user, std::string_view oldPwd,
                      int bRemember);

// ---- Device tree and device dialogs --------------------------------------------------------

// Names of the areas directly below `parent`; an empty parent gives the top level (areas whose
// parent is empty or NULL).
std::vector<std::string> selectChildAreas(sqlite3_connection& con, std::string_view parent);
std::vector<CameraBrief> selectCamerasInArea(sqlite3_connection& con, std::string_view area);
std::vector<DeviceRow> selectDevices(sqlite3_connection& con);
// A camera's recording flags; nothing when it has no plan row.
std::optional<PlanFlags> selectPlanFlags(sqlite3_connection& con, std::string_view mac);

// Raises when the name exists (area names are unique).
void insertArea(sqlite3_connection& con, std::string_view name, std::string_view parent);
// Renames the area, its children's parent and its cameras' area, as one change.
void renameArea(sqlite3_connection& con, std::string_view newName, std::string_view oldName);
// Deletes the area, every area below it at any depth, their cameras and those cameras' plan
// rows, as one change; returns the cameras removed.
std::vector<RemovedCamera> deleteAreaTree(sqlite3_connection& con, std::string_view name);
// Every area name, for the area lists of the dialogs.
std::vector<std::string> selectAreaNames(sqlite3_connection& con);
// The area of the camera with this address, MAC and uid; nothing when none matches.
std::optional<std::string> selectDeviceArea(sqlite3_connection& con, std::string_view ip,
                                            std::string_view mac, std::string_view uid);

std::optional<int> selectDeviceIdByUid(sqlite3_connection& con, std::string_view uid);
std::optional<int> selectDeviceIdByMacIp(sqlite3_connection& con, std::string_view mac,
                                         std::string_view ip);
// The insert alone (device.id is not used).
void insertDevice(sqlite3_connection& con, const DeviceRow& device);
// Adding a camera as one change: refuses a uid that exists ("uid existed!"), inserts, and reads
// the new id back ("con't find folder in reader" when it cannot). The MAC must be set; a camera
// without one gets its generated MAC from the caller.
int addDevice(sqlite3_connection& con, const DeviceRow& device);
// Changes name, ports, user, password and type of the camera with device.mac.
void updateDevice(sqlite3_connection& con, const DeviceRow& device);
void deleteDeviceRow(sqlite3_connection& con, int id);
void deletePlan(sqlite3_connection& con, std::string_view mac);
// Deleting a camera as one change: its row and its plan row.
void deleteDevice(sqlite3_connection& con, int id, std::string_view mac);

// ---- Playback ----------------------------------------------------------------------------------

// Distinct values of one recordfile column ("ip", "filename", "filetype", "filedate"); another
// name raises.
std::vector<std::string> selectDistinctRecordValues(sqlite3_connection& con,
                                                    std::string_view column);
std::vector<RecordFileRow> selectRecordFiles(sqlite3_connection& con);
// The statement for a search, one of the twelve forms; empty when no kind is chosen.
std::string recordSearchStatement(const RecordSearch& search);
// Rows of the search in the order the query gives them; none when no kind is chosen.
std::vector<RecordFileRow> searchRecordFiles(sqlite3_connection& con, const RecordSearch& search);
void deleteRecordFile(sqlite3_connection& con, std::string_view filename);
// Removes, as one change, the rows whose file `exists` says is gone; returns how many.
int purgeRecordFiles(sqlite3_connection& con,
                     const std::function<bool(const std::string& filename)>& exists);

// ---- Recording, disk space --------------------------------------------------------------------

void insertRecordFile(sqlite3_connection& con, const RecordFileRow& row);
// Whether a row with this camera and file exists (rescan of the record folders).
bool recordFileExists(sqlite3_connection& con, std::string_view ip, std::string_view filename);
// Every file name, oldest recording first.
std::vector<std::string> selectRecordFileNamesOldestFirst(sqlite3_connection& con);
int countRecordFiles(sqlite3_connection& con);
// One page of file names, oldest first: `count` names from position `offset`.
std::vector<std::string> selectRecordFileNamePage(sqlite3_connection& con, int offset, int count);
// The clean-up reads the table in pages of this many names, never all at once.
inline constexpr int kRecordFilePage = 102400;

// ---- Record settings and plan ------------------------------------------------------------------

std::optional<RecordPlanRow> selectRecordPlan(sqlite3_connection& con, std::string_view mac);
// A new plan row with nothing planned on any day.
void insertEmptyRecordPlan(sqlite3_connection& con, std::string_view mac);
// One day's string and both flags (day 0 … 6); nothing when the camera has no plan row.
std::optional<DayPlan> selectDayPlan(sqlite3_connection& con, int day, std::string_view mac);
// One day's string alone (the record threads); nothing when the camera has no plan row.
std::optional<std::string> selectDayString(sqlite3_connection& con, int day, std::string_view mac);
// Writes all seven days and both flags.
void updateRecordPlan(sqlite3_connection& con, std::string_view mac,
                      const std::array<DayMasks, 7>& days, int pEnable, int aEnable);

// Reads a day string: split at the dash, each half at its two commas. A string without dash or
// commas, and any number that does not read, gives zero masks.
DayMasks parseDayString(std::string_view text);
std::string formatDayString(const DayMasks& masks);
// Whether the string holds two halves of three numbers each.
bool isCompleteDayString(std::string_view text);

// The path row by name (autologpath, picturepath, logHistory, captureMode, recordpath).
std::optional<PathRow> selectPaths(sqlite3_connection& con);
// The path row by position ("select *").
std::optional<PathRow> selectPathRow(sqlite3_connection& con);
// The first row, written when selectPaths() finds none.
void insertPathRow(sqlite3_connection& con, const PathRow& row);
void updatePaths(sqlite3_connection& con, const PathRow& row);
void updateRecordPaths(sqlite3_connection& con, std::string_view recordpath);

// A configuration value; empty text when the key has no row.
std::string selectConfig(sqlite3_connection& con, std::string_view key);
// Changes nothing, and succeeds, when the key has no row.
void updateConfig(sqlite3_connection& con, std::string_view key, std::string_view value);

// ---- Users
// ---------------------------------------------------------------------------------------

std::vector<UserRow> selectUsers(sqlite3_connection& con);
std::optional<UserRow> selectUser(sqlite3_connection& con, std::string_view name);
// Raises when the name exists (user names are unique).
void insertUser(sqlite3_connection& con, const UserRow& user);
void updateUser(sqlite3_connection& con, std::string_view newName, std::string_view pwd, int lev,
                std::string_view oldName);
void deleteUser(sqlite3_connection& con, std::string_view name);

// ---- Event log
// -----------------------------------------------------------------------------------

// Appends one event (row.id is not used).
void insertLog(sqlite3_connection& con, const LogRow& row);
int countLogs(sqlite3_connection& con);
// Every row in insertion order.
std::vector<LogRow> selectLogs(sqlite3_connection& con);
// The `count` oldest rows, oldest first: the archive reads the table in bounded pieces.
std::vector<LogRow> selectOldestLogs(sqlite3_connection& con, int count);
// Deletes the oldest row.
void deleteOldestLog(sqlite3_connection& con);
// Deletes one row by its id (after its line went to the archive).
void deleteLogById(sqlite3_connection& con, long long id);

// Log viewer: distinct values of one log column ("ip", "user", "event", "type", "remark",
// "time"); another name raises.
std::vector<std::string> selectDistinctLogValues(sqlite3_connection& con, std::string_view column);
int countFilteredLogs(sqlite3_connection& con, const LogFilter& filter);
// One page of the viewer, newest first: `limit` rows from position `offset`.
std::vector<LogViewRow> selectLogPage(sqlite3_connection& con, const LogFilter& filter, int offset,
                                      int limit);

} // namespace db
