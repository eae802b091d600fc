#include "db/DatabaseFile.h"

#include "db/Failure.h"
#include "db/sqlite3_connection.h"

namespace db {

std::filesystem::path databaseFile(const std::filesystem::path& dataFolder) {
    return dataFolder / kDatabaseFileName;
}

bool openDatabase(sqlite3x::sqlite3_connection& connection,
                  const std::filesystem::path& dataFolder) {
    return guarded([&] { connection.open(databaseFile(dataFolder)); });
}

} // namespace db
