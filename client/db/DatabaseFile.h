#pragma once

#include <filesystem>

namespace sqlite3x {
class sqlite3_connection;
}

namespace db {

// The database file's name; it lies in the data folder (sys/DataFolder.h), seeded there from the
// delivered copy beside the program.
inline constexpr const char* kDatabaseFileName = "doDAV.db";

std::filesystem::path databaseFile(const std::filesystem::path& dataFolder);

// Opens the data folder's database file on `connection`: no table is created and no schema is
// checked. A failure is reported (db/Failure.h) and leaves the connection closed, so that every
// statement then fails the same reported way; false then.
bool openDatabase(sqlite3x::sqlite3_connection& connection,
                  const std::filesystem::path& dataFolder);

} // namespace db
