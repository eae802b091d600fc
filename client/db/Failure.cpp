#include "db/Failure.h"

#include "db/sqlite3_transaction.h"

#include <cstdio>

namespace db {

void reportFailure(const std::exception& error) {
    // One write per line, so reports from several threads do not interleave mid-line.
    std::fprintf(stderr, "Exception Occured: %s\n", error.what());
}

bool inTransaction(sqlite3x::sqlite3_connection& connection, const std::function<void()>& work) {
    try {
        sqlite3x::sqlite3_transaction transaction(connection, true);
        work();
        transaction.commit();
        return true;
    } catch (const std::exception& error) {
        reportFailure(error);
        return false;
    }
}

bool guarded(const std::function<void()>& work) {
    try {
        work();
        return true;
    } catch (const std::exception& error) {
        reportFailure(error);
        return false;
    }
}

} // namespace db
